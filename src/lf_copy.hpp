// The copy at the heart of nonl: every byte of a stream but LF, in order.
#pragma once

#include <cstddef>
#include <fstream>
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

// The kernel dropLineFeeds uses: the last of lfKernels(), chosen on first use.
const LfKernel& activeKernel();

// Makes file read its source through buffer, size bytes at a time. Call it
// before opening file; buffer must outlive file. copyWithoutLineFeeds takes
// what the file's buffer holds, so a buffer of copyBlockSize keeps each read
// of the file a whole block (the library's default is far smaller).
void setReadBuffer(std::ifstream& file, char* buffer, std::size_t size);

// Copies in to out without its LFs, a block of at most size bytes at a time
// through buffer. Stops at the end of in, at a read error (badbit on in) or
// at the first write that out does not take. Every byte in delivered before
// a read error is copied. Throws std::invalid_argument when size is 0.
CopyResult copyWithoutLineFeeds(std::istream& in, std::ostream& out, char* buffer,
                                std::size_t size);
