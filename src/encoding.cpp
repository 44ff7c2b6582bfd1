#include "encoding.hpp"

#include <cstring>

namespace {

bool startsWith(const char* start, std::size_t size, const char* mark, std::size_t length)
{
    return size >= length && std::memcmp(start, mark, length) == 0;
}

void appendUtf8(std::string& text, char32_t c)
{
    if (c < 0x80) {
        text += static_cast<char>(c);
    } else if (c < 0x800) {
        text += static_cast<char>(0xC0 | c >> 6);
        text += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        text += static_cast<char>(0xE0 | c >> 12);
        text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | c >> 18);
        text += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

Units unitsOf(const char* start, std::size_t size)
{
    // UTF-32LE's mark begins as UTF-16LE's does, so it is looked for first.
    if (startsWith(start, size, "\xFF\xFE\0\0", 4))
        return Units::utf32le;
    if (startsWith(start, size, "\0\0\xFE\xFF", 4))
        return Units::utf32be;
    if (startsWith(start, size, "\xFF\xFE", 2))
        return Units::utf16le;
    if (startsWith(start, size, "\xFE\xFF", 2))
        return Units::utf16be;
    return Units::bytes;
}

std::size_t utf8At(const std::string& text, std::size_t at, char32_t& c)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                                : lead >= 0xF0 && lead <= 0xF4                                 ? 4
                                                                                                               : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto byte = static_cast<unsigned char>(text[at + k]);
        if ((byte & 0xC0) != 0x80)
            return 0;
        c = c << 6 | (byte & 0x3F);
    }
    // no longer form than needed, no surrogate, nothing past U+10FFFF
    if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return length;
}

bool isUtf8BeyondAscii(const std::string& text)
{
    bool beyond = false;
    char32_t c = 0;
    for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
        length = utf8At(text, i, c);
        if (length == 0)
            return false;
        beyond = beyond || length > 1;
    }
    return beyond;
}

NamesInput::NamesInput(std::streambuf& source, bool utf16, bool ctrlZEnds)
    : source_(source), utf16_(utf16), ctrlZEnds_(ctrlZEnds)
{
}

NamesInput::int_type NamesInput::next()
{
    if (ended_)
        return traits_type::eof();
    const int_type c = source_.sbumpc();
    ended_ = traits_type::eq_int_type(c, traits_type::eof()) ||
             (ctrlZEnds_ && mark_ != NamesMark::utf16le && traits_type::eq_int_type(c, 0x1A));
    return ended_ ? traits_type::eof() : c;
}

// Reads as much of the start as a mark could take; what is no mark is kept to hand out.
void NamesInput::readMark()
{
    started_ = true;
    static const std::string utf8Mark = "\xEF\xBB\xBF", utf16Mark = "\xFF\xFE";
    const std::string& mark = utf16_ && traits_type::eq_int_type(source_.sgetc(), 0xFF) ? utf16Mark : utf8Mark;
    while (text_.size() < mark.size() && source_.sgetc() == traits_type::to_int_type(mark[text_.size()]))
        text_ += traits_type::to_char_type(next());
    if (text_ == mark) {
        mark_ = &mark == &utf8Mark ? NamesMark::utf8 : NamesMark::utf16le;
        text_.clear();
    }
}

// Reads one character of UTF-16LE into text_ as UTF-8; false at the end, where an odd byte is dropped.
bool NamesInput::decodeUnit()
{
    const auto unit = [this]() -> long {
        const int_type low = next(), high = next();
        return traits_type::eq_int_type(high, traits_type::eof()) ? -1 : long(low) | long(high) << 8;
    };
    long c = unit();
    if (c < 0)
        return false;
    if (c >= 0xD800 && c <= 0xDBFF) { // the first half of a character beyond U+FFFF
        const long low = unit();
        if (low < 0xDC00 || low > 0xDFFF) {
            appendUtf8(text_, 0xFFFD);
            if (low < 0)
                return true;
            c = low;
        } else {
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    appendUtf8(text_, c >= 0xDC00 && c <= 0xDFFF ? 0xFFFD : static_cast<char32_t>(c));
    return true;
}

NamesInput::int_type NamesInput::underflow()
{
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    const bool first = !started_;
    if (first)
        readMark();
    // One character at a time: more may not have arrived yet.
    if (!first || text_.empty()) {
        text_.clear();
        if (mark_ == NamesMark::utf16le) {
            if (!decodeUnit())
                return traits_type::eof();
        } else {
            const int_type c = next();
            if (traits_type::eq_int_type(c, traits_type::eof()))
                return c;
            text_ += traits_type::to_char_type(c);
        }
    }
    setg(&text_[0], &text_[0], &text_[0] + text_.size());
    return traits_type::to_int_type(text_[0]);
}
