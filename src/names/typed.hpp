// Reads the names a person types: words separated by blanks, or quoted names
// that may hold blanks, as pasted from Explorer or dragged into a terminal.
#pragma once

#include <cstddef>
#include <streambuf>
#include <string>

struct Name {
    std::string text;
    bool literal = false; // quoted or escaped, in part at least: never the quit word
    bool tooLong = false; // text holds only its start, then "..."
    bool ownLine = false; // the only name of its line, ended by the line end: at a terminal the cursor is at a line's start
};

class NameReader {
public:
    // The longest name any system takes (Windows' longest path); a longer
    // word is dropped as it is read, so memory stays small whatever comes.
    static constexpr std::size_t longestName = 32767;
    // How much of a name that is too long the messages show.
    static constexpr std::size_t shownStart = 64;

    // With backslashes, a backslash takes the next character literally, as
    // POSIX shells and terminals quote names; elsewhere it is a path separator.
    NameReader(std::streambuf& in, bool backslashes) : in_(in), backslashes_(backslashes) {}

    // Hands out the next name; false once the input has ended.
    bool next(Name& name);

private:
    int get();
    void unread(const std::string& text);
    void add(Name& name, char c) const;
    bool readQuoted(char quote, Name& name);

    std::streambuf& in_;
    const bool backslashes_;
    bool ended_ = false;  // a terminal may deliver more after an end: never read past it
    bool lineStart_ = true; // no name yet on the line being read
    std::string pending_; // text read ahead to find a closing quote, not yet handed out
    std::size_t pendingAt_ = 0;
};
