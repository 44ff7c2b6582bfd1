// One file by name: open it, make its copy without LFs beside it, and say how it went.
#pragma once

#include <string>
#include <vector>

enum class Outcome { copied, openFailed, createFailed, readFailed, writeFailed };

// The suffix that makes the copy's name.
extern const char suffix[];

// Copies the file named oldFileName to filename (oldFileName + suffix) without
// its LFs, through block. Nothing is created when the input cannot be read,
// and the input is never written.
Outcome removeLineFeeds(const std::string& oldFileName, const std::string& filename, std::vector<char>& block);
