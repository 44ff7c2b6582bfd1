// Reads a list of names as people and programs keep them: one name a line, or
// each ended by NUL (find -print0).
#pragma once

#include "names/typed.hpp"

#include <streambuf>

class NameList {
public:
    // With nulEnded, each name ends at a NUL; else at a line end, LF or CR LF.
    NameList(std::streambuf& source, bool nulEnded) : source_(source), nulEnded_(nulEnded) {}

    // Hands out the next name, blanks and quotes and all, skipping empty ones;
    // false at the end of the list. A name longer than any system takes holds
    // only its start, as a typed one does.
    bool next(Name& name);

private:
    std::streambuf& source_;
    const bool nulEnded_;
};
