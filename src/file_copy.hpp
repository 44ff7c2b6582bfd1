// One file by name: open it, make its copy without LFs beside it, and say how it went.
#pragma once

#include "lf_copy.hpp"

#include <string>
#include <vector>

enum class Outcome { copied, openFailed, createFailed, readFailed, writeFailed };

// The suffix that makes the copy's name.
extern const char suffix[];

// The memory a copy works in, allocated once and used for every file.
struct CopyBuffers {
    std::vector<char> read = std::vector<char>(copyBlockSize);  // the input file's own buffer
    std::vector<char> block = std::vector<char>(copyBlockSize); // where the LFs are dropped
};

// Copies the file named oldFileName to filename (oldFileName + suffix) without
// its LFs. Nothing is created when the input cannot be read, and the input is
// never written.
Outcome removeLineFeeds(const std::string& oldFileName, const std::string& filename, CopyBuffers& buffers);
