// What the tool needs from the system it runs on. system_std.cpp serves any
// system through the standard library alone; system_windows.cpp serves Windows,
// where console text and file names are UTF-16 underneath.
#pragma once

#include <cstdio>
#include <filesystem>
#include <istream>
#include <string>
#include <vector>

namespace sys {

// Whether "/?" asks for help, as it does for Windows commands.
extern const bool slashHelp;

// Prepares the process and returns its arguments, the program's name left out.
// Called first; names from then on are in the arguments' encoding until
// typedInput() switches to that of typed names.
std::vector<std::string> startUp(int argc, char** argv);

// Where typed names come from. At a Windows console: what was typed, as UTF-8.
std::istream& typedInput();

// The file that a name given to the tool stands for.
std::filesystem::path filePath(const std::string& name);

// Writes text to stdout or stderr so that a console shows every name as typed.
void show(std::FILE* stream, const std::string& text);

// Takes from a copy just created every permission that allowed lacks, before
// a byte is written. Nothing where files have no such bits.
void narrowPermissions(const std::filesystem::path& copy, std::filesystem::perms allowed);

} // namespace sys
