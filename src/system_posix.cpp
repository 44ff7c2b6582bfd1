// POSIX systems: file names and console text are bytes, files are descriptors.

#include "system.hpp"

#include "encoding.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

#include <cerrno>
#include <csignal>
#include <iostream>

namespace sys {

const bool slashHelp = false;
const bool crBeforeLfEndsLine = false;

std::vector<std::string> startUp(int argc, char** argv)
{
#ifdef SIGXFSZ
    // Over a file-size limit a write should fail and be reported, not end the tool.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::istream& typedInput()
{
    // A list of names saved with a UTF-8 mark: the mark is no part of the first name.
    static NamesInput names(*std::cin.rdbuf(), false, false);
    static std::istream typed(&names);
    return typed;
}

void show(std::FILE* stream, const std::string& text)
{
    std::fputs(text.c_str(), stream);
    // Messages on stdout and stderr keep their order in one file or pipe.
    std::fflush(stream);
}

namespace {

int descriptor(const File& file) { return static_cast<int>(file.handle()); }

// A FIFO or a device opened for the check must not make the tool wait, and a
// regular file, once checked, is used as any other.
const int noWait = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

bool waitAgain(const File& file)
{
    const int flags = fcntl(descriptor(file), F_GETFL);
    return flags != -1 && fcntl(descriptor(file), F_SETFL, flags & ~O_NONBLOCK) != -1;
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// An access ACL with entries for named users or groups, which the mode bits alone cannot carry over.
bool hasNamedAclEntries(const File& file)
{
#ifdef __linux__
    return fgetxattr(descriptor(file), "system.posix_acl_access", nullptr, 0) >= 0;
#else
    (void)file;
    return false;
#endif
}

// Gives a new copy the permissions wanted, less the umask. It was made without
// group bits, as its group may not be the input's: it takes the input's group
// where it may, and the group bits only when that group is the input's.
void setPermissions(const File& copy, const struct stat& input, mode_t wanted)
{
    struct stat made;
    if (fstat(descriptor(copy), &made) != 0)
        return;
    if (made.st_gid != input.st_gid && fchown(descriptor(copy), static_cast<uid_t>(-1), input.st_gid) == 0)
        made.st_gid = input.st_gid;
    if (made.st_gid == input.st_gid && (wanted & 070) != 0)
        fchmod(descriptor(copy), (made.st_mode & 07777) | (wanted & 070));
}

// An existing file at the copy's name, opened without following a link.
File emptied(File existing, const struct stat& input)
{
    struct stat found;
    if (fstat(descriptor(existing), &found) != 0 || !S_ISREG(found.st_mode) || sameFile(found, input) ||
        ftruncate(descriptor(existing), 0) != 0 || !waitAgain(existing))
        return File();
    return existing;
}

} // namespace

File openInput(const std::string& name)
{
    File file(open(name.c_str(), O_RDONLY | noWait));
    struct stat found;
    if (!file.isOpen() || fstat(descriptor(file), &found) != 0 || !S_ISREG(found.st_mode) || !waitAgain(file))
        return File();
    return file;
}

File openCopy(const File& input, const std::string& name)
{
    struct stat source;
    if (fstat(descriptor(input), &source) != 0)
        return File();
    const mode_t umaskBits = umask(0);
    umask(umaskBits);
    const mode_t wanted = source.st_mode & (hasNamedAclEntries(input) ? 0600 : 0666) & ~umaskBits;
    const int flags = O_WRONLY | O_NOFOLLOW | noWait;
    // Someone else may put a file at the name or take one away between the
    // two opens; a few tries settle it.
    for (int tries = 0; tries < 3; ++tries) {
        File copy(open(name.c_str(), flags | O_CREAT | O_EXCL, wanted & ~070));
        if (copy.isOpen() && waitAgain(copy)) {
            setPermissions(copy, source, wanted);
            return copy;
        }
        if (copy.isOpen() || errno != EEXIST)
            return File();
        File existing(open(name.c_str(), flags));
        if (existing.isOpen())
            return emptied(std::move(existing), source);
        if (errno != ENOENT)
            return File(); // a link (ELOOP), a FIFO with no reader (ENXIO), no permission, ...
    }
    return File();
}

std::ptrdiff_t File::read(char* data, std::size_t size)
{
    for (;;) {
        const ssize_t got = ::read(descriptor(*this), data, size);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

bool File::write(const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t put = ::write(descriptor(*this), data, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

bool File::closeHandle(std::intptr_t handle) { return ::close(static_cast<int>(handle)) == 0; }

} // namespace sys
