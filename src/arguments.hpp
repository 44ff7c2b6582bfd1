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

// Whether the tool should wait for Enter before it ends, so that its messages
// can be read: only for names given as arguments, when the tool alone holds
// its console (Explorer opened a window for files dropped on it, not cmd or
// PowerShell) and both standard input and output are that console.
bool waitsForEnter(bool namesGiven, unsigned long consoleProcesses, bool inputIsConsole, bool outputIsConsole);
