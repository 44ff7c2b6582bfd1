// POSIX systems: file names and console text are bytes, files are descriptors.

#include "system/system.hpp"

#include "console/progress.hpp"
#include "console/terminal_text.hpp"
#include "names/utf8.hpp"
#include "system/new_file_modes.hpp"
#include "system/pending_name.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sys {

const Style& hostStyle() { return Style::posix; }

namespace {

// The signals that end the tool where a person or the system asks it to stop.
constexpr int stopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Whether a progress line stands on the terminal, for a stop to take it away.
volatile std::sig_atomic_t lineShown = 0;

// The hidden name a copy is being written under, where the file system makes no
// file without a name, for a stop to take away.
volatile std::sig_atomic_t hiddenNamed = 0;
int hiddenFolder = -1;
char hiddenLeaf[32];

void nameHidden(int folder, const std::string& leaf)
{
    hiddenFolder = folder;
    leaf.copy(hiddenLeaf, sizeof hiddenLeaf - 1);
    hiddenLeaf[std::min(leaf.size(), sizeof hiddenLeaf - 1)] = '\0';
    std::atomic_signal_fence(std::memory_order_seq_cst); // the name is whole before a stop may use it
    hiddenNamed = 1;
}

extern "C" void stopped(int signal)
{
    // In the background since the line was drawn (Ctrl-Z, bg), the line is the shell's now.
    const pid_t foreground = tcgetpgrp(STDERR_FILENO);
    if (lineShown != 0 && (foreground == -1 || foreground == getpgrp())) {
        const char erase[] = "\r\x1b[K";
        (void)!::write(STDERR_FILENO, erase, sizeof erase - 1);
    }
    if (hiddenNamed != 0)
        unlinkat(hiddenFolder, hiddenLeaf, 0);
    // The handler went with SA_RESETHAND: the signal, pending till it returns, ends the tool.
    raise(signal);
}

// While it lives, none of the stopping signals arrives: a step that must not be cut in two.
class StopsHeld {
public:
    StopsHeld()
    {
        sigset_t stops;
        sigemptyset(&stops);
        for (const int signal : stopSignals)
            sigaddset(&stops, signal);
        sigprocmask(SIG_BLOCK, &stops, &old_);
    }
    ~StopsHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
    StopsHeld(const StopsHeld&) = delete;
    StopsHeld& operator=(const StopsHeld&) = delete;

private:
    sigset_t old_;
};

} // namespace

std::vector<Argument> startUp(int argc, char** argv)
{
#ifdef SIGXFSZ
    // Over a file-size limit a write should fail and be reported, not end the tool.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    // A stop erases the progress line first; one ignored by whoever started the tool stays so.
    for (const int signal : stopSignals) {
        struct sigaction action {};
        if (sigaction(signal, nullptr, &action) != 0 || action.sa_handler == SIG_IGN)
            continue;
        action = {};
        action.sa_handler = stopped;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
    std::vector<Argument> arguments;
    for (int at = 1; at < argc; ++at)
        arguments.push_back({argv[at]}); // the shell has expanded its patterns
    return arguments;
}

void goOnWithoutReader() { std::signal(SIGPIPE, SIG_IGN); }

std::vector<std::string> filesNamed(const std::vector<Argument>& names)
{
    std::vector<std::string> files;
    for (const Argument& name : names)
        files.push_back(name.text);
    return files;
}

// A terminal stays open when the tool ends.
void keepWindowOpen(bool) {}

bool namesTypedAtTerminal() { return isatty(STDIN_FILENO) != 0; }

bool isTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

bool prompt(const std::string& text)
{
    int waiting = 0;
    const bool typedAhead = ioctl(STDIN_FILENO, FIONREAD, &waiting) == 0 && waiting > 0;
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    return typedAhead;
}
const Encoding argumentsEncoding{};

namespace {

// Standard input's bytes as read() gives them.
class StandardInput : public Bytes {
protected:
    int_type underflow() override
    {
        for (;;) {
            const ssize_t got = ::read(STDIN_FILENO, bytes_, sizeof bytes_);
            if (got > 0) {
                setg(bytes_, bytes_, bytes_ + got);
                return traits_type::to_int_type(bytes_[0]);
            }
            pollfd readable{STDIN_FILENO, POLLIN, 0};
            // Left non-blocking by whoever started the tool: nothing yet is no end.
            if (got == 0 || (errno != EINTR && (errno != EAGAIN || poll(&readable, 1, -1) == -1))) {
                failed_ = got < 0;
                return traits_type::eof();
            }
        }
    }

private:
    char bytes_[4096];
};

} // namespace

Bytes& standardInput()
{
    static StandardInput input;
    return input;
}

HeldName takeName(std::string read, NamesMark, bool) { return {std::move(read), Encoding{}}; } // names are bytes

void show(std::FILE* stream, const std::string& text, Encoding)
{
    std::fputs(text.c_str(), stream);
    // Messages on stdout and stderr keep their order in one file or pipe.
    std::fflush(stream);
}

namespace {

int descriptor(const File& file) { return static_cast<int>(file.handle()); }

// How the system names an open file: a link through which it can be opened or linked again.
std::string openedAs(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

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

// Opens leaf in folder for reading where it is a regular file; leased tells that
// a lease stood in the way. What stands there is opened first as a bare path,
// which opens no device and breaks no lease, and checked; the file is then opened
// through that path (/proc/self/fd), so that nothing renamed over the name in
// between is ever opened. Without /proc the name is looked at and opened, and the
// file opened compared with the one looked at.
File tryOpen(int folder, const std::string& leaf, bool& leased)
{
    constexpr int reading = O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK; // a read never waits either
    struct stat looked;
    int fd = -1;
    leased = false;
#ifdef O_PATH
    const File path(openat(folder, leaf.c_str(), O_PATH | O_CLOEXEC));
    if (!path.isOpen() || fstat(descriptor(path), &looked) != 0 || !S_ISREG(looked.st_mode))
        return File();
    fd = open(openedAs(descriptor(path)).c_str(), reading);
    if (fd == -1 && errno == ENOENT) // no /proc here
        fd = openat(folder, leaf.c_str(), reading);
#else
    if (fstatat(folder, leaf.c_str(), &looked, 0) != 0 || !S_ISREG(looked.st_mode))
        return File();
    fd = openat(folder, leaf.c_str(), reading);
#endif
    leased = fd == -1 && errno == EWOULDBLOCK;
    File file(fd);
    struct stat found;
    if (!file.isOpen() || fstat(fd, &found) != 0 || !sameFile(found, looked))
        return File();
    return file;
}

// A regular file under a lease (a Samba oplock, an NFS delegation) is tried again
// until its holder lets go, as it must within the lease-break time: a second more
// at most, however often it takes a lease again.
File openRegular(int folder, const std::string& leaf)
{
    bool leased = false;
    File file = tryOpen(folder, leaf, leased);
    if (!leased)
        return file;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(leaseBreakSeconds() + 1);
    while (std::chrono::steady_clock::now() < until) {
        usleep(10000);
        File again = tryOpen(folder, leaf, leased);
        if (!leased)
            return again;
    }
    return File();
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

// Whether what stands at leaf in folder may not be replaced by a copy of input:
// nothing may be; a regular file with one name, other than the input (reached
// through a link), that the user may write, may be, but in a folder with the
// sticky bit only the user's own or the folder owner's.
bool refusedAt(int folder, const std::string& leaf, const File& input)
{
    struct stat old, source, holder;
    if (fstatat(folder, leaf.c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0)
        return errno != ENOENT;
    if (!S_ISREG(old.st_mode) || old.st_nlink != 1 || fstat(descriptor(input), &source) != 0 ||
        sameFile(old, source) || faccessat(folder, leaf.c_str(), W_OK, AT_EACCESS) != 0)
        return true;
    return fstat(folder, &holder) != 0 ||
           ((holder.st_mode & S_ISVTX) != 0 && old.st_uid != geteuid() && old.st_uid != holder.st_uid);
}

// A name for a copy while it is written, hidden from ls and globs.
std::string hiddenName()
{
    static std::uint64_t made = 0;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const auto nanoseconds = static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
    return pendingName(".nonl-", static_cast<std::uint32_t>(getpid()), nanoseconds, ++made);
}


} // namespace

Input openInput(const std::string& name)
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
    File folder(open(leaf == 0 ? "." : name.substr(0, leaf).c_str(), search | O_DIRECTORY | O_CLOEXEC));
    File file = folder.isOpen() ? openRegular(descriptor(folder), name.substr(leaf)) : File();
    if (!file.isOpen())
        return {};
    return {std::move(file), std::move(folder)};
}

File openList(const std::string& name)
{
    File list(open(name.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
    struct stat found;
    if (!list.isOpen() || fstat(descriptor(list), &found) != 0 || S_ISDIR(found.st_mode))
        return File();
    return list;
}

PendingCopy openCopy(const Input& input, const std::string& name)
{
    struct stat source;
    const int folder = descriptor(input.folder);
    if (fstat(descriptor(input.file), &source) != 0 || refusedAt(folder, name.substr(leafAt(name)), input.file))
        return {};
    // The umask can be read only by setting it; nothing here changes it later.
    static const mode_t umaskBits = [] {
        const mode_t bits = umask(0);
        umask(bits);
        return bits;
    }();
    const CopyModes modes = copyModes(source.st_mode, umaskBits, hasNamedAclEntries(input.file));
    const auto made = static_cast<mode_t>(modes.made), wanted = static_cast<mode_t>(modes.wanted);
    File held(fcntl(folder, F_DUPFD_CLOEXEC, 0)); // the copy's own hold on the folder
    if (!held.isOpen())
        return {};
    std::string hidden;
    int fd = -1;
#ifdef O_TMPFILE
    // Without a name; linked in through /proc at the end.
    if (access("/proc/self/fd", X_OK) == 0)
        fd = openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, made);
#endif
    // Where the file system has no unnamed files (NFS, FAT), a hidden name that goes again.
    for (int tries = 0; fd == -1 && tries < 100; ++tries) {
        hidden = hiddenName();
        // A stop between the name's making and its record would leave it.
        const StopsHeld stops;
        fd = openat(folder, hidden.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, made);
        if (fd != -1)
            nameHidden(descriptor(held), hidden);
        else if (errno != EEXIST)
            return {};
    }
    File copy(fd);
    if (!copy.isOpen())
        return {};
    setPermissions(copy, source, wanted);
    return PendingCopy(std::move(copy), std::move(held), std::move(hidden));
}

PendingCopy::~PendingCopy()
{
    if (hidden_.empty())
        return;
    unlinkat(descriptor(folder_), hidden_.c_str(), 0);
    hiddenNamed = 0;
}

Publication publish(PendingCopy copy, const Input& input, const std::string& name)
{
    const int folder = descriptor(copy.folder_);
    const std::string leaf = name.substr(leafAt(name));
    if (refusedAt(folder, leaf, input.file))
        return Publication::refused;
    // Between the hidden name and the rename no Ctrl-C leaves the hidden name behind:
    // owned, made after held, goes (and takes the hidden name away) before held.
    const StopsHeld held;
    PendingCopy owned(std::move(copy));
    for (int tries = 0; owned.hidden_.empty() && tries < 100; ++tries) {
        const std::string hidden = hiddenName();
        if (linkat(AT_FDCWD, openedAs(descriptor(owned.file_)).c_str(), folder, hidden.c_str(), AT_SYMLINK_FOLLOW) == 0)
            owned.hidden_ = hidden;
        else if (errno != EEXIST)
            return Publication::refused;
    }
    if (owned.hidden_.empty())
        return Publication::refused;
    // A full disk or a lost network file may only show when the copy is closed.
    if (!owned.file_.close())
        return Publication::lost;
    if (renameat(folder, owned.hidden_.c_str(), folder, leaf.c_str()) != 0)
        return Publication::refused;
    owned.hidden_.clear();
    hiddenNamed = 0;
    return Publication::published;
}

bool terminalReadsUtf8()
{
    static const bool utf8 = utf8Locale(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG"));
    return utf8;
}

std::function<void(const std::string&)> progressLine()
{
    const char* term = std::getenv("TERM");
    if (!isatty(STDERR_FILENO) || (term != nullptr && std::strcmp(term, "dumb") == 0))
        return {};
    return [](const std::string& line) {
        // In the background the line would break into the shell's; a terminal that is
        // not the tool's own has no foreground job to ask.
        const pid_t foreground = tcgetpgrp(STDERR_FILENO);
        winsize size{};
        const std::size_t width = Progress::cells(ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0);
        if ((foreground != -1 && foreground != getpgrp()) || width == 0)
            return;
        // to the start of the line, and what stands there erased
        const std::string shown = harmless(line, hostStyle().eightBitControls, terminalReadsUtf8());
        std::fputs(("\r\x1b[K" + fitCells(shown, width)).c_str(), stderr);
        std::fflush(stderr);
        lineShown = !line.empty();
    };
}

std::uint64_t File::size() const
{
    struct stat found;
    return fstat(descriptor(*this), &found) == 0 ? static_cast<std::uint64_t>(found.st_size) : 0;
}

File::Stamp File::stamp() const
{
    struct stat found;
    if (fstat(descriptor(*this), &found) != 0)
        return {};
    const auto nanoseconds = [](const timespec& at) { return std::int64_t{at.tv_sec} * 1000000000 + at.tv_nsec; };
    return {static_cast<std::uint64_t>(found.st_size), nanoseconds(found.st_mtim), nanoseconds(found.st_ctim)};
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
