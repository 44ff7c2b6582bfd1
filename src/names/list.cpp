#include "names/list.hpp"

#include "names/utf8.hpp"

bool NameList::next(Name& name)
{
    using traits = std::streambuf::traits_type;
    const char end = nulEnded_ ? '\0' : '\n';
    for (name = Name();;) {
        const traits::int_type c = source_.sbumpc();
        const bool ended = traits::eq_int_type(c, traits::eof());
        if (ended || traits::to_char_type(c) == end) {
            if (!nulEnded_ && !name.tooLong && !name.text.empty() && name.text.back() == '\r')
                name.text.pop_back();
            name.tooLong = name.tooLong || name.text.size() > NameReader::longestName;
            if (!name.text.empty() || name.tooLong) {
                if (name.tooLong)
                    name.text = startOf(name.text, NameReader::shownStart);
                return true;
            }
            if (ended)
                return false;
        } else if (name.text.size() <= NameReader::longestName) { // one more: it may be a CR before the LF
            name.text += traits::to_char_type(c);
        } else {
            name.tooLong = true;
        }
    }
}
