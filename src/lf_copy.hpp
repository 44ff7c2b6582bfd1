// The copy at the heart of nonl: every byte of a stream but LF, in order.
#pragma once

#include <cstddef>
#include <istream>
#include <ostream>
#include <vector>

enum class CopyResult { copied, readFailed, writeFailed };

// Block size used by the tool: large enough to keep per-call costs small,
// small enough to stay in cache between the read and the write.
constexpr std::size_t copyBlockSize = 128 * 1024;

// Removes every LF from data[0, size) in place, keeping the other bytes in
// their order, and returns how many bytes remain. Uses the fastest kernel below.
std::size_t dropLineFeeds(char* data, std::size_t size);

// One way of doing what dropLineFeeds does. All give the same bytes.
struct LfKernel {
    const char* name;
    std::size_t (*drop)(char* data, std::size_t size);
};

// The kernels this processor can run: the portable one first, the fastest last.
std::vector<LfKernel> lfKernels();

// Copies in to out without its LFs, a block of at most size bytes at a time
// through buffer. Stops at the end of in, at a read error (badbit on in) or
// at the first write that out does not take.
CopyResult copyWithoutLineFeeds(std::istream& in, std::ostream& out, char* buffer,
                                std::size_t size);
