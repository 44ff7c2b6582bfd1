// How text is encoded: what its byte-order mark says, and whether it is UTF-8.
#pragma once

#include "lf_kernels.hpp"

#include <cstddef>
#include <streambuf>
#include <string>

// What a file that starts with these bytes is made of: the units of UTF-32 or
// UTF-16 when it starts with their byte-order mark, else bytes. (A UTF-8 file
// is bytes: its LF and CR are bytes too.)
Units unitsOf(const char* start, std::size_t size);

// Whether text is valid UTF-8 that holds a character beyond ASCII.
bool isUtf8BeyondAscii(const std::string& text);

// The UTF-8 character that starts at text[at] in c, and how many bytes it takes;
// 0 where none does (a byte that continues or starts no valid character).
std::size_t utf8At(const std::string& text, std::size_t at, char32_t& c);

// What a stream of names starts with.
enum class NamesMark { none, utf8, utf16le };

// Names as a stream of bytes, taken from source a byte at a time as they arrive
// (a program feeding names may wait for the prompt before the next). A UTF-8
// byte-order mark at the start is dropped. With utf16, text after a UTF-16LE
// mark is handed out as UTF-8; with ctrlZEnds, a Ctrl-Z byte ends bytes, as
// Windows text mode has always read a stream.
class NamesInput : public std::streambuf {
public:
    NamesInput(std::streambuf& source, bool utf16, bool ctrlZEnds);

    // Known once the first byte has been asked for.
    NamesMark mark() const { return mark_; }

protected:
    int_type underflow() override;

private:
    int_type next(); // the next byte of the source, or the end
    void readMark();
    bool decodeUnit();

    std::streambuf& source_;
    const bool utf16_, ctrlZEnds_;
    bool started_ = false, ended_ = false;
    NamesMark mark_ = NamesMark::none;
    std::string text_; // being handed out: bytes read while looking for a mark, a byte, or a decoded character
};
