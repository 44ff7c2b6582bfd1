#include "file_copy.hpp"

#include "system.hpp"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

const char suffix[] = "_noNl.txt";

namespace {

// Writing the copy must never destroy the input: go ahead only when the copy
// does not exist yet or is shown to be another file. Links, devices and FIFOs
// that cannot be told apart are refused.
bool mayWrite(const fs::path& input, const fs::path& copy)
{
    std::error_code error;
    if (fs::status(copy, error).type() == fs::file_type::not_found)
        return true;
    if (error)
        return false;
    const bool same = fs::equivalent(input, copy, error);
    return !error && !same;
}

} // namespace

Outcome removeLineFeeds(const std::string& oldFileName, const std::string& filename, CopyBuffers& buffers)
{
    // The system would cut a name at a NUL byte, so it names some other file.
    if (oldFileName.find('\0') != std::string::npos)
        return Outcome::openFailed;
    const fs::path input = sys::filePath(oldFileName);
    const fs::path copy = sys::filePath(filename);
    std::error_code error;
    // Some libraries open a folder and read it as an empty file.
    if (fs::is_directory(input, error))
        return Outcome::openFailed;
    std::ifstream myfile;
    // Whole blocks per read: the library's own buffer is far smaller.
    setReadBuffer(myfile, buffers.read.data(), buffers.read.size());
    myfile.open(input);
    if (!myfile.is_open() || (myfile.peek(), myfile.bad()))
        return Outcome::openFailed;
    if (!mayWrite(input, copy))
        return Outcome::createFailed;
    const bool isNew = fs::status(copy, error).type() == fs::file_type::not_found;
    std::ofstream mynewfile(copy);
    if (!mynewfile.is_open() || (isNew && !sys::restrictLike(input, copy)))
        return Outcome::createFailed;

    Outcome outcome = Outcome::copied;
    switch (copyWithoutLineFeeds(myfile, mynewfile, buffers.block.data(), buffers.block.size())) {
    case CopyResult::copied:
        break;
    case CopyResult::readFailed:
        outcome = Outcome::readFailed;
        break;
    case CopyResult::writeFailed:
        outcome = Outcome::writeFailed;
        break;
    }
    myfile.close();
    mynewfile.close(); // flushes: a full disk may only show here
    if (outcome == Outcome::copied && mynewfile.fail())
        outcome = Outcome::writeFailed;
    return outcome;
}
