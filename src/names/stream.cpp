#include "names/stream.hpp"

#include "names/utf8.hpp"

NamesInput::NamesInput(std::streambuf& source, bool utf16, bool ctrlZEnds, bool unmarked)
    : source_(source), utf16_(utf16), ctrlZEnds_(ctrlZEnds), unmarked_(unmarked)
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
        return;
    }
    // UTF-16LE without a mark, as cmd /u writes it: no name starts with a NUL, so a second byte NUL tells.
    const int_type first = source_.sgetc();
    if (!utf16_ || !unmarked_ || !text_.empty() || traits_type::eq_int_type(first, traits_type::eof()) || first == 0)
        return;
    next();
    if (source_.sgetc() == 0) {
        mark_ = NamesMark::utf16le;
        low_ = first;
    } else {
        text_ += traits_type::to_char_type(first);
    }
}

// Reads one character of UTF-16LE into text_ as UTF-8; false at the end, where an odd byte is dropped.
bool NamesInput::decodeUnit()
{
    const auto unit = [this]() -> long {
        const int_type low = low_ >= 0 ? low_ : next(), high = next();
        low_ = -1;
        return traits_type::eq_int_type(high, traits_type::eof()) ? -1 : long(low) | long(high) << 8;
    };
    long c = unit();
    if (c < 0)
        return false;
    while (c >= 0xD800 && c <= 0xDBFF) { // the first half of a character beyond U+FFFF
        const long low = unit();
        if (low >= 0xDC00 && low <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            break;
        }
        appendUtf8(text_, 0xFFFD); // a half alone; what follows may start a pair of its own
        if (low < 0)
            return true;
        c = low;
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
