// The copy at the heart of nonl: every byte of a source but its line ends, in order,
// a block at a time.
#pragma once

#include "copy/kernels.hpp"

#include <cstddef>
#include <functional>

// How a copy went: copied, or where it failed. The block loop fails only at a read
// or a write; opening the input and making its copy are the file copy's.
enum class Outcome { copied, openFailed, createFailed, readFailed, writeFailed };

// Block size used by the tool: large enough that calls into the system cost
// little (measured: 1 MiB beat 128 and 256 KiB), small enough to stay in the
// processor's caches between the read and the write.
constexpr std::size_t copyBlockSize = 1024 * 1024;

// Reads at most size bytes into data: how many it read, 0 at the end, less than 0 on an error.
using ReadBlock = std::function<std::ptrdiff_t(char* data, std::size_t size)>;
// Writes size bytes from data: true when all of them were written.
using WriteBlock = std::function<bool(const char* data, std::size_t size)>;

// Copies what read gives to write without its line ends, each block read
// straight into buffer (size bytes, at least 8), its line ends dropped there
// and the rest written from there. Units and CR LF pairs may fall across
// blocks; a part of a unit at the end is copied as it is. Stops at the end, at
// a read error or at the first write that fails. Every byte read before a read
// error is written.
Outcome copyWithoutLineEnds(const ReadBlock& read, const WriteBlock& write, TextRule rule, char* buffer,
                            std::size_t size);

// Called once what is copied has begun to arrive, before anything is written:
// false stops the copy, which then could not be made.
using StartCopy = std::function<bool()>;

// The same for a text whose units its byte-order mark tells, at the start of
// what read gives: UTF-16 or UTF-32 after theirs, else bytes. start is called
// after the first read, so that a source that cannot be read at all is told
// apart from a copy that cannot be made.
Outcome copyTextWithoutLineEnds(const ReadBlock& read, const WriteBlock& write, LineEnds ends, char* buffer,
                                std::size_t size, const StartCopy& start);
