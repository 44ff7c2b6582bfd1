// One file by name: open it, make its copy without line ends beside it, and say how it went.
#pragma once

#include "lf_copy.hpp"

#include <string>
#include <vector>

enum class Outcome { copied, openFailed, createFailed, readFailed, writeFailed };

// The one block a copy works in, allocated once and used for every file.
using CopyBuffer = std::vector<char>;

// The name of the copy of the file called name: name followed by "_noNl.txt".
std::string copyName(const std::string& name);

// Copies the file called oldFileName to copyName(oldFileName) without its line ends.
// Nothing is created when the input cannot be read, and the input is never written.
Outcome removeLineFeeds(const std::string& oldFileName, CopyBuffer& buffer);
