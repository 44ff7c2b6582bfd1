// POSIX systems: file names and console text are bytes, files are descriptors.

#include "system.hpp"

#include "copy_mode.hpp"
#include "encoding.hpp"
#include "names_input.hpp"
#include "progress.hpp"
#include "terminal_text.hpp"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iostream>

namespace sys {

const bool backslashEscapes = true;
const bool slashHelp = false;
const bool crBeforeLfEndsLine = false;
const bool eightBitControls = true;

std::vector<std::string> startUp(int argc, char** argv)
{
#ifdef SIGXFSZ
    // Over a file-size limit a write should fail and be reported, not end the tool.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::vector<std::string> filesNamed(const std::vector<std::string>& names) { return names; }

// A terminal stays open when the tool ends.
void keepWindowOpen(bool) {}

bool namesTypedAtTerminal() { return isatty(STDIN_FILENO) != 0; }

bool isTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

bool typedAhead()
{
    int waiting = 0;
    return ioctl(STDIN_FILENO, FIONREAD, &waiting) == 0 && waiting > 0;
}

const Encoding argumentsEncoding{};

TypedNames typedNames()
{
    // A list of names saved with a UTF-8 mark: the mark is no part of the first name.
    static NamesInput names(*std::cin.rdbuf(), false, false);
    static std::istream typed(&names);
    return {typed, [](std::string&) { return Encoding{}; }}; // names are bytes
}

void show(std::FILE* stream, const std::string& text, Encoding)
{
    std::fputs(text.c_str(), stream);
    // Messages on stdout and stderr keep their order in one file or pipe.
    std::fflush(stream);
}

namespace {

int descriptor(const File& file) { return static_cast<int>(file.handle()); }

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// How long a lease's holder has to let go before the system breaks it (an hour at most).
unsigned leaseBreakSeconds()
{
    unsigned seconds = 45;
    if (std::FILE* setting = std::fopen("/proc/sys/fs/lease-break-time", "r")) {
        if (std::fscanf(setting, "%u", &seconds) != 1 || seconds > 3600)
            seconds = 45;
        std::fclose(setting);
    }
    return seconds;
}

// Opens leaf in folder only when what stands there (with O_NOFOLLOW, the link
// itself) is a regular file, or nothing for O_CREAT: even opening a device may do
// something. No open ever waits, so nothing waits on a FIFO or a device swapped in
// meanwhile; a regular file under a lease (a Samba oplock, an NFS delegation) is
// tried again until its holder lets go, as it must within the lease-break time.
File openRegular(int folder, const std::string& leaf, int flags, mode_t mode = 0)
{
    struct stat found;
    const int looked = fstatat(folder, leaf.c_str(), &found, (flags & O_NOFOLLOW) != 0 ? AT_SYMLINK_NOFOLLOW : 0);
    if ((flags & O_EXCL) == 0 && (looked == 0 ? !S_ISREG(found.st_mode) : (flags & O_CREAT) == 0))
        return File();
    flags |= O_NOCTTY | O_CLOEXEC | O_NONBLOCK;
    constexpr unsigned triesASecond = 100;
    static const unsigned tries = (leaseBreakSeconds() + 1) * triesASecond; // before the open: it may set errno
    int fd = openat(folder, leaf.c_str(), flags, mode);
    for (unsigned tried = 0; fd == -1 && errno == EWOULDBLOCK && tried < tries; ++tried) {
        usleep(1000000 / triesASecond);
        fd = openat(folder, leaf.c_str(), flags, mode);
    }
    const int status = fd == -1 ? -1 : fcntl(fd, F_GETFL);
    File file(fd);
    if (status == -1 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == -1)
        return File();
    return file;
}

// Where name's last part starts.
std::size_t leafAt(const std::string& name)
{
    const std::size_t slash = name.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// An access ACL, which names users or groups that the mode bits alone cannot carry over.
bool hasNamedAclEntries(const File& file)
{
#ifdef __linux__
    return fgetxattr(descriptor(file), "system.posix_acl_access", nullptr, 0) >= 0;
#else
    (void)file;
    return false;
#endif
}

// Gives a new copy the permissions wanted once it has the input's group, which
// it takes where it may. A copy in another group keeps those it was made with.
void setPermissions(const File& copy, const struct stat& input, mode_t wanted)
{
    struct stat made;
    if (fstat(descriptor(copy), &made) != 0)
        return;
    if (made.st_gid != input.st_gid && fchown(descriptor(copy), static_cast<uid_t>(-1), input.st_gid) == 0)
        made.st_gid = input.st_gid;
    // An ACL that the folder gave it may name users: raising the group bits would let them in.
    if (made.st_gid == input.st_gid && !hasNamedAclEntries(copy))
        fchmod(descriptor(copy), wanted);
}

// An existing file at the copy's name, emptied only when it is another file than the input.
File emptied(File existing, const struct stat& input)
{
    struct stat found;
    if (!existing.isOpen() || fstat(descriptor(existing), &found) != 0 || !S_ISREG(found.st_mode) ||
        sameFile(found, input) || ftruncate(descriptor(existing), 0) != 0)
        return File();
    return existing;
}

} // namespace

File openInput(const std::string& name)
{
    // Its folder, opened once: a link on the path changed later moves neither the
    // input nor its copy elsewhere. Searching it is enough, reading it is not needed.
#if defined(O_PATH)
    constexpr int search = O_PATH;
#elif defined(O_SEARCH)
    constexpr int search = O_SEARCH;
#else
    constexpr int search = O_RDONLY;
#endif
    const std::size_t leaf = leafAt(name);
    const int folder = open(leaf == 0 ? "." : name.substr(0, leaf).c_str(), search | O_DIRECTORY | O_CLOEXEC);
    if (folder == -1)
        return File();
    File file = openRegular(folder, name.substr(leaf), O_RDONLY);
    struct stat found;
    if (!file.isOpen() || fstat(descriptor(file), &found) != 0 || !S_ISREG(found.st_mode)) {
        close(folder);
        return File();
    }
    return File(file.release(), folder);
}

File openCopy(const File& input, const std::string& name)
{
    struct stat source;
    if (fstat(descriptor(input), &source) != 0)
        return File();
    // The umask can be read only by setting it; nothing here changes it later.
    static const mode_t umaskBits = [] {
        const mode_t bits = umask(0);
        umask(bits);
        return bits;
    }();
    const CopyModes modes = copyModes(source.st_mode, umaskBits, hasNamedAclEntries(input));
    const auto made = static_cast<mode_t>(modes.made), wanted = static_cast<mode_t>(modes.wanted);
    const int folder = static_cast<int>(input.folder()); // openInput holds it
    const std::string leaf = name.substr(leafAt(name));
    File copy = openRegular(folder, leaf, O_WRONLY | O_NOFOLLOW | O_CREAT | O_EXCL, made);
    if (copy.isOpen()) {
        setPermissions(copy, source, wanted);
        return copy;
    }
    if (errno != EEXIST)
        return File();
    // Still O_CREAT, so that the system's guard of files others own in sticky
    // folders holds; a file made here meanwhile is made private.
    return emptied(openRegular(folder, leaf, O_WRONLY | O_NOFOLLOW | O_CREAT, made & 0600), source);
}

std::function<void(const std::string&)> progressLine()
{
    if (!isatty(STDERR_FILENO))
        return {};
    return [](const std::string& line) {
        // A line wider than the terminal would wrap, and only its last row be erased.
        winsize size{};
        const std::size_t width = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col - 1 : 79;
        // to the start of the line, and what stands there erased
        std::fputs(("\r\x1b[K" + fitCells(harmless(line, eightBitControls), width)).c_str(), stderr);
        std::fflush(stderr);
    };
}

std::uint64_t File::size() const
{
    struct stat found;
    return fstat(descriptor(*this), &found) == 0 ? static_cast<std::uint64_t>(found.st_size) : 0;
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
