// The command line: options first, then the names to copy.
#pragma once

#include <string>
#include <vector>

struct Command {
    enum Kind { loop, copyNames, help, version, unknownOption, missingValue } kind = loop;
    // A file that lists names (- for standard input): one a line, or each ended by NUL.
    struct List {
        std::string file;
        bool nulEnded = false;
        bool operator==(const List& other) const { return file == other.file && nulEnded == other.nulEnded; }
    };
    std::vector<std::string> names; // for copyNames: those given, copied before the lists'
    std::vector<List> lists;        // for copyNames
    std::string option;             // for unknownOption and missingValue
};

// What the arguments ask for. The first option decides; "--" ends the options;
// with slashHelp, "/?" asks for help as on Windows. --files-from=FILE and
// --files0-from=FILE (or with FILE as the next argument) give lists of names.
Command parseArguments(const std::vector<std::string>& arguments, bool slashHelp);
