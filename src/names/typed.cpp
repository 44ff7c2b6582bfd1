#include "names/typed.hpp"

#include "names/utf8.hpp"

namespace {

constexpr int end = -1;

// The blanks that end a word, as formatted input has always taken them.
bool isBlank(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isQuote(int c) { return c == '"' || c == '\''; }

} // namespace

int NameReader::get()
{
    if (pendingAt_ < pending_.size())
        return static_cast<unsigned char>(pending_[pendingAt_++]);
    if (ended_)
        return end;
    const auto c = in_.sbumpc();
    if (std::char_traits<char>::eq_int_type(c, std::char_traits<char>::eof())) {
        ended_ = true;
        return end;
    }
    return static_cast<unsigned char>(std::char_traits<char>::to_char_type(c));
}

void NameReader::unread(const std::string& text)
{
    pending_ = text + pending_.substr(pendingAt_);
    pendingAt_ = 0;
}

void NameReader::add(Name& name, char c) const
{
    if (name.text.size() < longestName)
        name.text += c;
    else
        name.tooLong = true;
}

// After an opening quote: true when the same quote closes it on this line
// within the longest name, with what it encloses added to the name. Otherwise
// what was read ahead goes back, to be read as it comes. With backslashes, one
// inside double quotes takes a following " or \ literally, as shells read it.
bool NameReader::readQuoted(char quote, Name& name)
{
    constexpr int none = end - 1; // no character read ahead
    std::string inside, read;
    for (int c = get(); c != end;) {
        read += static_cast<char>(c);
        if (c == quote) {
            name.literal = true;
            for (const char kept : inside)
                add(name, kept);
            return true;
        }
        int next = none;
        if (backslashes_ && quote == '"' && c == '\\') {
            next = get();
            if (next == '"' || next == '\\') {
                read += static_cast<char>(next);
                c = next;
                next = none;
            }
        }
        inside += static_cast<char>(c);
        if (c == '\n' || read.size() > longestName) {
            if (next >= 0)
                read += static_cast<char>(next);
            break;
        }
        c = next != none ? next : get();
    }
    unread(read);
    return false;
}

bool NameReader::next(Name& name)
{
    // A name is parts side by side up to a blank: quoted ones, and on POSIX
    // systems characters that a backslash takes literally, as terminals paste
    // them. A word of nothing but line joins is no name.
    do {
        name = Name();
        int c = get();
        for (; isBlank(c); c = get())
            lineStart_ = lineStart_ || c == '\n';
        if (c == end)
            return false;
        for (; c != end && !isBlank(c); c = get()) {
            if (isQuote(c) && readQuoted(static_cast<char>(c), name))
                continue;
            if (backslashes_ && c == '\\') {
                c = get();
                if (c == '\n') // the line goes on on the next
                    continue;
                if (c == end) {
                    add(name, '\\');
                    break;
                }
                name.literal = true; // \q is no quit word
            }
            add(name, static_cast<char>(c));
        }
        name.ownLine = lineStart_ && c == '\n';
        lineStart_ = c == '\n';
    } while (name.text.empty() && !name.literal && !name.tooLong);
    if (name.tooLong)
        name.text = startOf(name.text, shownStart);
    return true;
}
