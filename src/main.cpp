// nonl: asks for the names of text files and writes a copy of each with every
// line feed left out, under the typed name followed by "_noNl.txt". Ends on "q".

#include "lf_copy.hpp"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

namespace {

const char prompt[] = "Please enter name of file (enter \"q\" to quit): ";
const char quitWord[] = "q";
const char suffix[] = "_noNl.txt";

const char copiedMessage[] = "\nSuccessfully removed end-of-line characters from \"%s\"!\n\n";
const char openFailedMessage[] = "\nUnable to open file \"%s\"!\n\n";
const char createFailedMessage[] = "\nUnable to create file \"%s\"!\n\n";
const char readFailedMessage[] = "\nUnable to read file \"%s\"!\n\n";
const char writeFailedMessage[] = "\nUnable to write file \"%s\"!\n\n";

// True when both names lead to one file (a symbolic or hard link), so that
// writing the second would truncate the first.
bool sameFile(const std::string& first, const std::string& second)
{
    std::error_code error;
    try {
        return std::filesystem::equivalent(first, second, error);
    } catch (const std::exception&) {
        // A name the path class cannot convert: no link can be seen through it.
        return false;
    }
}

// One pass: copies the file named by filename to filename + suffix without its
// LFs and says how it went. Each stream closes when the pass ends.
void removeLineFeeds(std::string& filename, std::string& oldFileName, std::vector<char>& block)
{
    // The system would cut a name at a NUL byte, so it names some other file.
    if (filename.find('\0') != std::string::npos) {
        std::printf(openFailedMessage, filename.c_str());
        return;
    }
    std::ifstream myfile(filename);
    // A folder opens on some systems but delivers nothing; peek tells before any output exists.
    if (!myfile.is_open() || (myfile.peek(), myfile.bad())) {
        std::printf(openFailedMessage, filename.c_str());
        return;
    }
    oldFileName = filename;
    filename += suffix;
    if (sameFile(oldFileName, filename)) {
        std::printf(createFailedMessage, filename.c_str());
        return;
    }
    std::ofstream mynewfile(filename);
    if (!mynewfile.is_open()) {
        std::printf(createFailedMessage, filename.c_str());
        return;
    }
    CopyResult result = copyWithoutLineFeeds(myfile, mynewfile, block.data(), block.size());
    myfile.close();
    mynewfile.close(); // flushes: a full disk may only show here
    if (result == CopyResult::copied && mynewfile.fail())
        result = CopyResult::writeFailed;

    switch (result) {
    case CopyResult::copied:
        std::printf(copiedMessage, oldFileName.c_str());
        break;
    case CopyResult::readFailed:
        std::printf(readFailedMessage, oldFileName.c_str());
        break;
    case CopyResult::writeFailed:
        std::printf(writeFailedMessage, filename.c_str());
        break;
    }
}

} // namespace

int main()
{
    std::vector<char> block(copyBlockSize);
    std::string filename;
    std::string oldFileName;
    for (;;) {
        std::cout << prompt << std::flush;
        // The end of input ends the tool as the quit word does.
        if (!(std::cin >> filename) || filename == quitWord)
            return 0;
        removeLineFeeds(filename, oldFileName, block);
    }
}
