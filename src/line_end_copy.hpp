// The copy at the heart of nonl: every byte of a source but its line ends, in order,
// a block at a time.
#pragma once

#include "line_end_kernels.hpp"

#include <cstddef>
#include <functional>

enum class CopyResult { copied, readFailed, writeFailed };

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
// and the rest written from there; the first ready bytes of buffer were read
// already. Units and CR LF pairs may fall across blocks; a part of a unit at
// the end is copied as it is. Stops at the end, at a read error or at the first
// write that fails. Every byte read before a read error is written.
CopyResult copyWithoutLineEnds(const ReadBlock& read, const WriteBlock& write, TextRule rule, char* buffer,
                               std::size_t size, std::size_t ready = 0);
