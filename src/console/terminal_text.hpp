// How text shows on a terminal: how many cells it takes, and names that cannot
// steer it.
#pragma once

#include <cstddef>
#include <string>

// The cells a terminal gives UTF-8 text: two for an East Asian wide or
// full-width character, none for a combining mark or a zero-width character,
// one for any other character and for each byte that is no UTF-8.
std::size_t cellsOf(const std::string& text);

// text cut at a character's edge to at most columns cells.
std::string fitCells(const std::string& text, std::size_t columns);

// text with each control character (C0, DEL, and C1 in UTF-8) shown as "?", so
// that no escape sequence in a name reaches a terminal; with eightBit also each
// byte 0x80 to 0x9F that is no part of UTF-8, C1 on an 8-bit terminal, and
// without utf8Terminal (one that reads bytes, not UTF-8) each such byte at all.
// Other bytes that are no UTF-8 stay: they are letters of the code pages names
// come in.
std::string harmless(const std::string& text, bool eightBit = false, bool utf8Terminal = true);

// Whether the locale these settings choose (the first set of LC_ALL, LC_CTYPE
// and LANG, as POSIX orders them; none is the C locale) reads UTF-8: its
// codeset, after a dot or alone, is UTF-8.
bool utf8Locale(const char* lcAll, const char* lcCtype, const char* lang);
