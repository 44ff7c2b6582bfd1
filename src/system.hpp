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
std::vector<std::string> startUp(int argc, char** argv);

// Where typed names come from. At a Windows console: what was typed, as UTF-8.
std::istream& typedInput();

// The file that a name given to the tool stands for.
std::filesystem::path filePath(const std::string& name);

// Writes text to stdout or stderr so that a console shows every name as typed.
void show(std::FILE* stream, const std::string& text);

// Takes from a new copy every permission that its input lacks, before any
// byte is written; false when that failed. True at once where files have no such bits.
bool restrictLike(const std::filesystem::path& input, const std::filesystem::path& copy);

} // namespace sys
