// The kernels that drop line ends from a block in place, one set per rule.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// What a line end is. lf: the LF alone. crlf: the LF, and a CR right before it,
// as Windows text mode reads a line end (a lone CR stays).
enum class LineEnds { lf, crlf };

// What the text is made of: bytes, or the code units of UTF-16 or UTF-32 in
// either byte order, whose LF and CR are whole units (U+000A, U+000D).
enum class Units { bytes, utf16le, utf16be, utf32le, utf32be };

// How many bytes a unit takes: 1, 2 or 4.
std::size_t unitSize(Units units);

// The bytes of one unit that holds the ASCII character c, in the text's byte order.
std::string unitBytes(Units units, char c);

struct TextRule {
    Units units = Units::bytes;
    LineEnds ends = LineEnds::lf;
};

// Removes the line ends of data[0, size) in place, keeping every other unit
// whole and in its order, and returns how many bytes remain; size is a whole
// number of units. A CR in the last unit is kept: the block cannot tell what
// follows it. Uses the fastest kernel below.
std::size_t dropLineEnds(TextRule rule, char* data, std::size_t size);

// One way of doing what dropLineEnds does for one rule. All give the same bytes.
struct LfKernel {
    const char* name;
    std::size_t (*drop)(char* data, std::size_t size);
};

// The kernels this processor can run for a rule: the portable one first, the fastest last.
std::vector<LfKernel> lfKernels(TextRule rule);
