// The command line: options first, then the names to copy, and the help that says so.
#pragma once

#include <string>
#include <vector>

// A word of the command line. On Windows, whose shells leave wildcards to
// programs, an unquoted * or ? makes it a pattern, for the tool to match.
struct Argument {
    std::string text;
    bool pattern = false;
};

struct Command {
    enum Kind { askForNames, copyNames, help, version, unknownOption, missingValue } kind = askForNames;
    // A file that lists names (- for standard input): one a line, or each ended by NUL.
    struct List {
        std::string file;
        bool nulEnded = false;
        bool operator==(const List& other) const { return file == other.file && nulEnded == other.nulEnded; }
    };
    std::vector<Argument> names; // for copyNames: those given, copied before the lists'
    std::vector<List> lists;     // for copyNames
    std::string option;          // for unknownOption and missingValue
};

// What the arguments ask for. The first option decides; "--" ends the options;
// with slashHelp, "/?" asks for help as on Windows. --files-from=FILE and
// --files0-from=FILE (or with FILE as the next argument) give lists of names.
Command parseArguments(const std::vector<Argument>& arguments, bool slashHelp);

// What --help prints: the options above and what they do.
extern const char usage[];
