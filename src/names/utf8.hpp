// UTF-8, the text of names inside the tool: written, told, and walked a character at a time.
#pragma once

#include <cstddef>
#include <string>

// Adds the UTF-8 bytes of c to text.
void appendUtf8(std::string& text, char32_t c);

// Whether text is valid UTF-8 that holds a character beyond ASCII.
bool isUtf8BeyondAscii(const std::string& text);

// The UTF-8 character that starts at text[at] in c, and how many bytes it takes;
// 0 where none does (a byte that continues or starts no valid character).
std::size_t utf8At(const std::string& text, std::size_t at, char32_t& c);

// How many bytes the character at text[at] takes: its length in UTF-8, or 1 for
// a byte that is no UTF-8. Walking a text by it counts every byte once.
std::size_t characterAt(const std::string& text, std::size_t at);

// The start of text up to the given number of characters, then "..." where text
// is longer.
std::string startOf(const std::string& text, std::size_t characters);

// Where the end of text that takes at most bytes bytes starts, at a character's start.
std::size_t lastBytesAt(const std::string& text, std::size_t bytes);
