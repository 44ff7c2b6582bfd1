// What a text is made of and what ends its lines: the rule a copy follows.
#pragma once

#include <cstddef>
#include <string>

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

// What a file that starts with these bytes is made of: the units of UTF-32 or
// UTF-16 when it starts with their byte-order mark, else bytes. (A UTF-8 file
// is bytes: its LF and CR are bytes too.)
Units unitsOf(const char* start, std::size_t size);

struct TextRule {
    Units units = Units::bytes;
    LineEnds ends = LineEnds::lf;
};
