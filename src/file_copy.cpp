#include "file_copy.hpp"

#include "system.hpp"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

const char suffix[] = "_noNl.txt";

enum class Target { absent, writable, refused };

// What stands at the copy's name. Writing must neither destroy the input nor
// wait forever, so only a regular file shown to be another file than the input
// is overwritten: links to the input, dangling links, devices, FIFOs and
// anything that cannot be checked are refused.
Target targetOf(const fs::path& input, const fs::path& copy)
{
    std::error_code error;
    if (fs::symlink_status(copy, error).type() == fs::file_type::not_found)
        return Target::absent;
    if (error || fs::status(copy, error).type() != fs::file_type::regular || error)
        return Target::refused;
    const bool same = fs::equivalent(input, copy, error);
    return error || same ? Target::refused : Target::writable;
}

} // namespace

std::string copyName(const std::string& name) { return name + suffix; }

Outcome removeLineFeeds(const std::string& oldFileName, CopyBuffers& buffers)
{
    // The system would cut a name at a NUL byte, so it names some other file.
    if (oldFileName.find('\0') != std::string::npos)
        return Outcome::openFailed;
    const fs::path input = sys::filePath(oldFileName);
    const fs::path copy = sys::filePath(copyName(oldFileName));
    // Only regular files: some libraries read a folder as an empty file, a FIFO
    // would wait for a writer forever and a device may never end.
    std::error_code error;
    const fs::file_status inputStatus = fs::status(input, error);
    if (inputStatus.type() != fs::file_type::regular && !error)
        return Outcome::openFailed;
    std::ifstream myfile;
    // Whole blocks per read: the library's own buffer is far smaller.
    setReadBuffer(myfile, buffers.read.data(), buffers.read.size());
    myfile.open(input);
    if (!myfile.is_open() || (myfile.peek(), myfile.bad()))
        return Outcome::openFailed;
    const Target target = targetOf(input, copy);
    if (target == Target::refused)
        return Outcome::createFailed;
    std::ofstream mynewfile(copy);
    if (!mynewfile.is_open())
        return Outcome::createFailed;
    // A new copy: an existing one keeps its own permissions.
    if (target == Target::absent)
        sys::narrowPermissions(copy, inputStatus.permissions());

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
