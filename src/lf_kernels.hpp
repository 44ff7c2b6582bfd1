// The kernels that drop line ends from a block in place, one set per rule.
#pragma once

#include <cstddef>
#include <vector>

// What a line end is. lf: the LF byte alone. crlf: the LF byte, and a CR
// right before it, as Windows text mode reads a line end (a lone CR stays).
enum class LineEnds { lf, crlf };

// Removes the line ends of data[0, size) in place, keeping every other byte in
// its order, and returns how many bytes remain. A CR in the last byte is kept:
// the block cannot tell what follows it. Uses the fastest kernel below.
std::size_t dropLineEnds(LineEnds rule, char* data, std::size_t size);

// One way of doing what dropLineEnds does for one rule. All give the same bytes.
struct LfKernel {
    const char* name;
    std::size_t (*drop)(char* data, std::size_t size);
};

// The kernels this processor can run for a rule: the portable one first, the fastest last.
std::vector<LfKernel> lfKernels(LineEnds rule);
