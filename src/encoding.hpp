// How text is encoded: what its byte-order mark says, and whether it is UTF-8.
#pragma once

#include "text_rule.hpp"

#include <cstddef>
#include <string>

// What a file that starts with these bytes is made of: the units of UTF-32 or
// UTF-16 when it starts with their byte-order mark, else bytes. (A UTF-8 file
// is bytes: its LF and CR are bytes too.)
Units unitsOf(const char* start, std::size_t size);

// Adds the UTF-8 bytes of c to text.
void appendUtf8(std::string& text, char32_t c);

// Whether text is valid UTF-8 that holds a character beyond ASCII.
bool isUtf8BeyondAscii(const std::string& text);

// The UTF-8 character that starts at text[at] in c, and how many bytes it takes;
// 0 where none does (a byte that continues or starts no valid character).
std::size_t utf8At(const std::string& text, std::size_t at, char32_t& c);
