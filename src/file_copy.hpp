// One file by name: open it, make its copy without LFs beside it, and say how it went.
#pragma once

#include "lf_copy.hpp"

#include <string>
#include <vector>

enum class Outcome { copied, openFailed, createFailed, readFailed, writeFailed };

// The memory a copy works in, allocated once and used for every file.
struct CopyBuffers {
    std::vector<char> read = std::vector<char>(copyBlockSize);  // the input file's own buffer
    std::vector<char> block = std::vector<char>(copyBlockSize); // where the LFs are dropped
};

// The name of the copy of the file called name: name followed by "_noNl.txt".
std::string copyName(const std::string& name);

// Copies the file called oldFileName to copyName(oldFileName) without its LFs.
// Nothing is created when the input cannot be read, and the input is never written.
Outcome removeLineFeeds(const std::string& oldFileName, CopyBuffers& buffers);
