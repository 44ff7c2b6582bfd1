// Reading a stream of names in the encoding it was saved in.
#pragma once

#include <streambuf>
#include <string>

// What a stream of names starts with (utf16le also for UTF-16LE without a mark).
enum class NamesMark { none, utf8, utf16le };

// Names as a stream of bytes, taken from source a byte at a time as they arrive
// (a program feeding names may wait for the prompt before the next). A UTF-8
// byte-order mark at the start is dropped. With utf16, text after a UTF-16LE
// mark, or without one where the second byte is NUL (not for unmarked = false:
// in a list of names ended by NUL, a name may be one character), is handed out
// as UTF-8; with ctrlZEnds, a Ctrl-Z byte ends bytes, as Windows text mode has
// always read a stream.
class NamesInput : public std::streambuf {
public:
    NamesInput(std::streambuf& source, bool utf16, bool ctrlZEnds, bool unmarked = true);

    // Known once the first byte has been asked for.
    NamesMark mark() const { return mark_; }

protected:
    int_type underflow() override;

private:
    int_type next(); // the next byte of the source, or the end
    void readMark();
    bool decodeUnit();

    std::streambuf& source_;
    const bool utf16_, ctrlZEnds_, unmarked_;
    bool started_ = false, ended_ = false;
    NamesMark mark_ = NamesMark::none;
    int_type low_ = -1; // the first byte of UTF-16 without a mark, read to tell it
    std::string text_; // being handed out: bytes read while looking for a mark, a byte, or a decoded character
};
