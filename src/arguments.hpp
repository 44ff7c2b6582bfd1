// The command line: options first, then the names to copy.
#pragma once

#include <string>
#include <vector>

struct Command {
    enum Kind { loop, copyNames, help, version, unknownOption } kind = loop;
    std::vector<std::string> names; // for copyNames
    std::string option;             // for unknownOption
};

// What the arguments ask for. The first option decides; "--" ends the options;
// with slashHelp, "/?" asks for help as on Windows.
Command parseArguments(const std::vector<std::string>& arguments, bool slashHelp);

