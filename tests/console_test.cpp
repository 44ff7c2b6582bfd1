// Runs the built tool in a fresh folder with scripted standard input and checks the exact console bytes, the exit
// status and every file left behind. NONL_EXE names another build to run, NONL_LAUNCHER a program to run it with
// (NONL_EXE=build-win-x64/nonl.exe NONL_LAUNCHER=wine64 for the Windows build); a .exe is held to Windows' rules:
// CRLF on the console, a CR before an LF dropped with it.

#include "bytes.hpp"
#include "texts.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <numeric>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

const std::string P = texts::prompt;

// A message with the name in place of its %s.
std::string filled(std::string message, const std::string& name) { return message.replace(message.find("%s"), 2, name); }

std::string ok(const std::string& name) { return filled(texts::copied, name); }
std::string cannotOpen(const std::string& name) { return filled(texts::openFailed, name); }
std::string cannotCreate(const std::string& name) { return filled(texts::createFailed, name); }
std::string cannotWrite(const std::string& name) { return filled(texts::writeFailed, name); }

// What the tool says asking for names: the prompt, and each message with the prompt after it.
std::string asked(const std::vector<std::string>& messages)
{
    return std::accumulate(messages.begin(), messages.end(), P, [](const std::string& said, const std::string& message) {
        return said + message + P;
    });
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeFile(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// Every entry below root: a file's bytes, "<dir>", "<fifo>" or "-> target" for a link.
using Tree = std::map<std::string, std::string>;

// Keeps a failure report readable: long contents stand as their size and hash.
Tree digested(Tree tree)
{
    for (auto& [name, bytes] : tree)
        if (bytes.size() > 200)
            bytes = "<" + std::to_string(bytes.size()) + " bytes, hash " + std::to_string(std::hash<std::string>()(bytes)) + ">";
    return tree;
}

Tree snapshot(const fs::path& root)
{
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        tree[entry.path().lexically_relative(root).generic_string()] =
            entry.is_symlink() ? "-> " + fs::read_symlink(entry.path()).string()
            : entry.is_fifo()  ? "<fifo>"
            : entry.is_directory() ? "<dir>"
                                   : readFile(entry.path());
    return digested(tree);
}

// The tree with these entries put in or replaced.
Tree overlaid(Tree tree, const Tree& changes)
{
    for (const auto& [name, bytes] : changes)
        tree[name] = bytes;
    return tree;
}

const std::string exe = fs::absolute(std::getenv("NONL_EXE") != nullptr ? std::getenv("NONL_EXE") : NONL_EXE).string();
const bool windows = exe.size() > 4 && exe.compare(exe.size() - 4, 4, ".exe") == 0;

// Each line end as CRLF, as a terminal or Windows text mode writes it.
std::string withCrlf(const std::string& text) { return std::regex_replace(text, std::regex("\n"), "\r\n"); }

// What the console shows.
std::string shown(const std::string& console) { return windows ? withCrlf(console) : console; }

// Whether the process has ended; it is left for finish to reap.
bool ended(pid_t pid)
{
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
}

// A file in dir that the process holds open, other than input: the copy it writes, which has no name or a hidden
// one ("" while there is none).
std::string pendingCopy(pid_t pid, const fs::path& dir, const std::string& input)
{
    std::error_code failed;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", failed)) {
        const std::string held = fs::read_symlink(fd.path(), failed).string();
        if (held.compare(0, dir.string().size() + 1, dir.string() + "/") == 0 && held != (dir / input).string())
            return held;
    }
    return "";
}

// The tool's exit status once it has ended; one that hangs is killed after seconds, failing its case alone.
int finish(pid_t pid, int seconds)
{
    int status = 0;
    for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; usleep(100000))
        if (waited++ == seconds * 10) {
            ADD_FAILURE() << "the tool had not ended in time: killed";
            kill(pid, SIGKILL);
        }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The tool as it runs: what it has drawn so far, and where what is typed goes.
struct Running {
    pid_t pid = 0;
    int screen = -1, keys = -1; // what it draws, where what is typed goes
    std::string drawn;

    // Reads what the tool draws until done(drawn) holds or, without done, until the tool has ended and all it drew
    // is read; false when seconds pass first or the tool ends short of done.
    bool until(const std::function<bool(const std::string&)>& done, int seconds = 60)
    {
        char chunk[4096];
        for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds); !done || !done(drawn);) {
            if (std::chrono::steady_clock::now() >= end)
                return false;
            const bool gone = ended(pid);
            pollfd ready{screen, POLLIN, 0};
            const bool polled = poll(&ready, 1, gone ? 0 : 100) == 1;
            const ssize_t got = polled ? read(screen, chunk, sizeof chunk) : 0;
            if (got > 0)
                drawn.append(chunk, static_cast<std::size_t>(got));
            else if (gone) // and all it drew has been read
                return !done;
            else if (polled) // closed while the tool runs on
                usleep(100000);
        }
        return true;
    }

    void type(const std::string& text) { EXPECT_EQ(write(keys, text.data(), text.size()), ssize_t(text.size())); }
};

using Step = std::function<void(const fs::path&)>;
using Settings = std::vector<std::pair<std::string, std::string>>;

// A case of a table, filled by name: Row("what").files(...).typed(...).says(...).leaves(...).
struct Row {
    std::string what;
    Tree before;                        // entries made in the folder first,
    Step setup;                         // then what a tree cannot make: hard links, modes
    std::vector<std::string> arguments, runAs; // runAs: a command that starts the tool, as another user or redirected
    std::string input;                  // standard input's bytes, from a file
    Settings environment;
    rlim_t sizeLimit = RLIM_INFINITY, openFiles = RLIM_INFINITY; // the largest file it may write, the files it may hold
    enum { file, piped, terminal } through = file; // stdout into a file, or a pipe or terminal (stderr too) read as it runs
    unsigned short columns = 0;         // the terminal's width
    std::function<void(Running&)> talk; // what the test does while the tool runs, typing into a pipe or terminal
    std::string console, errors;        // all the tool says on standard output and error
    std::function<std::string(const std::string&)> view; // what of its output is compared, where not all of it
    int status = 0, times = 1;          // its exit status; runs, for a race
    Tree changed, changedOnWindows;     // each entry that differs afterwards; where Windows drops a CR before an LF too
    Step verify;                        // what the entries cannot show
    bool linuxOnly = false, windowsOnly = false; // limits, modes, links, devices, preloading; Windows' names, folders
    bool codePage = false;              // names in the ANSI or OEM code page: no list with a mark holds them

    explicit Row(std::string name = "") : what(std::move(name)) {}
    Row&& files(Tree tree) && { before = std::move(tree); return std::move(*this); }
    Row&& then(Step step) && { setup = std::move(step); return std::move(*this); }
    Row&& args(std::vector<std::string> words) && { arguments = std::move(words); return std::move(*this); }
    Row&& typed(std::string text) && { input = std::move(text); return std::move(*this); }
    Row&& says(std::string text) && { console = std::move(text); return std::move(*this); }
    Row&& saysFirst(std::string text) && // and maybe more
    {
        view = [size = shown(text).size()](const std::string& said) { return said.substr(0, size); };
        return std::move(*this).says(std::move(text));
    }
    Row&& exits(int code, std::string text = "") && { status = code; errors = std::move(text); return std::move(*this); }
    Row&& leaves(Tree tree, Tree onWindows = {}) && { changed = tree; changedOnWindows = onWindows; return std::move(*this); }
    Row&& checks(Step step) && { verify = std::move(step); return std::move(*this); }
    Row&& onLinuxOnly() && { linuxOnly = true; return std::move(*this); }
    Row&& onWindowsOnly() && { windowsOnly = true; return std::move(*this); }
    Row&& inCodePage() && { codePage = windowsOnly = true; return std::move(*this); }
    Row&& repeated(int runs) && { times = runs; return std::move(*this); }
    Row&& limit(rlim_t bytes) && { sizeLimit = bytes; return std::move(*this); }
    Row&& holding(rlim_t files) && { openFiles = files; return std::move(*this); }
    Row&& as(std::vector<std::string> command) && { runAs = std::move(command); return std::move(*this); }
    Row&& meanwhile(std::function<void(Running&)> steps) && { talk = std::move(steps); return std::move(*this); }
    // Typed into a terminal this wide (or a pipe, without) as talk says.
    Row&& talking(std::function<void(Running&)> steps, unsigned short width = 80) &&
    {
        through = width > 0 ? terminal : piped;
        columns = width;
        return std::move(*this).meanwhile(std::move(steps));
    }
    // The tool preloaded with tests/failing_read.c, given its settings: on Linux only, and nowhere without it.
    Row&& preload(Settings settings) &&
    {
#ifdef NONL_FAIL_READ_LIB
        settings.insert(settings.end(), {{"LD_PRELOAD", NONL_FAIL_READ_LIB}, {"ASAN_OPTIONS", "verify_asan_link_order=0"}});
#else
        windowsOnly = true;
#endif
        environment = std::move(settings);
        return std::move(*this).onLinuxOnly();
    }
};

// All the tool said and its exit status.
struct Outcome { std::string console, errors; int status; };

// Runs the tool in dir as the row says, under umask 022 as a typical user and with no signal blocked or ignored, the files of
// its streams in scratch, and returns all it said and its exit status. Each descriptor is closed on exec but where
// it becomes a standard stream: no other reaches the tool.
Outcome runTool(const fs::path& dir, const fs::path& scratch, const Row& how)
{
    std::vector<std::string> words = how.runAs;
    std::istringstream launcher(std::getenv("NONL_LAUNCHER") != nullptr ? std::getenv("NONL_LAUNCHER") : "");
    for (std::string word; launcher >> word;)
        words.push_back(word);
    words.push_back(exe);
    words.insert(words.end(), how.arguments.begin(), how.arguments.end());
    fs::create_directories(scratch);
    writeFile(scratch / "stdin", how.input);
    const auto opened = [&](const char* name, int flags) { return open((scratch / name).c_str(), flags | O_CLOEXEC, 0644); };
    int in = opened("stdin", O_RDONLY), out = -1, keys[2] = {-1, -1};
    int err = how.through == Row::terminal ? -1 : opened("stderr", O_WRONLY | O_CREAT | O_TRUNC);
    Running tool;
    if (how.through == Row::file) {
        out = opened("stdout", O_WRONLY | O_CREAT | O_TRUNC);
    } else if (how.through == Row::piped) {
        int drawn[2];
        EXPECT_TRUE(pipe2(drawn, O_CLOEXEC) == 0 && pipe2(keys, O_CLOEXEC) == 0);
        tool.screen = drawn[0];
        tool.keys = keys[1];
        out = drawn[1];
    } else {
        tool.screen = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_TRUE(grantpt(tool.screen) == 0 && unlockpt(tool.screen) == 0) << "no pseudo-terminal";
        out = err = open(ptsname(tool.screen), O_RDWR | O_NOCTTY | O_CLOEXEC);
        const winsize size{24, how.columns, 0, 0};
        ioctl(tool.screen, TIOCSWINSZ, &size);
        // Raw from the start: an Enter typed before wine sets up its console would reach it as LF, that is Ctrl-J.
        termios raw{};
        if (windows && tcgetattr(out, &raw) == 0) {
            cfmakeraw(&raw);
            tcsetattr(out, TCSANOW, &raw);
        }
        keys[0] = how.talk ? out : -1;
        tool.keys = how.talk ? tool.screen : -1;
    }
    if ((tool.pid = fork()) == 0) {
        umask(022);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL); // this test ignores it, for a tool that ends before it reads what is typed
        // Names are UTF-8, as the terminal reads them (a row may say otherwise); wine takes arguments
        // and file names in the locale's encoding.
        setenv("LC_ALL", "C.UTF-8", 1);
        const rlimit size{how.sizeLimit, how.sizeLimit}, files{how.openFiles, how.openFiles};
        setrlimit(RLIMIT_FSIZE, &size);
        if (how.openFiles != RLIM_INFINITY)
            setrlimit(RLIMIT_NOFILE, &files);
        for (const auto& [name, value] : how.environment)
            setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv;
        for (const std::string& word : words)
            argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        if (chdir(dir.c_str()) == 0 && dup2(keys[0] >= 0 ? keys[0] : in, 0) >= 0 && dup2(out, 1) >= 0 && dup2(err, 2) >= 0)
            execvp(argv[0], argv.data());
        _exit(127);
    }
    for (const int fd : {in, out, err == out ? -1 : err, keys[0] == out ? -1 : keys[0]})
        close(fd);
    if (how.talk)
        how.talk(tool);
    if (tool.keys != tool.screen)
        close(tool.keys); // what is typed ends
    const bool drawnToEnd = tool.screen < 0 || tool.until({}, 300); // a start under an emulator takes a minute
    const int status = finish(tool.pid, drawnToEnd ? 300 : 0);
    close(tool.screen);
    return {tool.screen >= 0 ? tool.drawn : readFile(scratch / "stdout"),
            how.through == Row::terminal ? "" : readFile(scratch / "stderr"), status};
}

bool runsHere(const Row& row) { return !(row.linuxOnly && windows) && !(row.windowsOnly && !windows); }

// The folder emptied and given these entries, in their folders.
void fill(const fs::path& dir, const Tree& entries)
{
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const auto& [name, made] : entries) {
        fs::create_directories((dir / name).parent_path());
        if (made == "<dir>")
            fs::create_directories(dir / name);
        else if (made == "<fifo>")
            EXPECT_EQ(mkfifo((dir / name).c_str(), 0644), 0);
        else if (made.compare(0, 3, "-> ") == 0)
            fs::create_symlink(made.substr(3), dir / name);
        else
            writeFile(dir / name, made);
    }
}

Tree changesHere(const Row& row) { return windows ? overlaid(row.changed, row.changedOnWindows) : row.changed; }

const std::string bigText = [] {
    std::string text;
    for (int line = 0; text.size() < 600000; ++line)
        text += "line " + std::to_string(line) + " of a file larger than one block\n";
    return text;
}();
const std::string hugeWord(std::size_t{64} << 20, 'w'), longName = std::string(200, 'n') + ".txt";
const std::string deepName =
    std::string(69, 'a') + "/" + std::string(69, 'b') + "/" + std::string(69, 'c') + "/" + std::string(100, 'd') + ".txt";
const std::string escName = "\x1b]0;owned\a\x1b[2J.txt", cafe = "caf\xC3\xA9.txt", omega = "\xCE\xA9.txt";
const Tree cafeOmega{{cafe, "c\n"}, {omega, "o\n"}}, cafeOmegaCopies{{cafe + "_noNl.txt", "c"}, {omega + "_noNl.txt", "o"}};

// A sanitized build's tool needs far more memory for the sanitizer's own books.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
constexpr bool sanitized = __has_feature(address_sanitizer);
#else
constexpr bool sanitized = false;
#endif

// Fills work as the row says, runs its tool there and checks all it says and leaves.
void play(const Row& row, const fs::path& work, const fs::path& scratch)
{
    fill(work, row.before);
    const Tree after = digested(overlaid(snapshot(work), changesHere(row)));
    if (row.setup)
        row.setup(work);
    if (testing::Test::IsSkipped() || testing::Test::HasFatalFailure())
        return;
    // Words of any length pass through a small, fixed amount of memory, measured by a small parent, not this test.
    Row how = row;
    const bool measured = how.input.size() > hugeWord.size() && !windows && !sanitized;
    if (measured)
        how.runAs = {"/usr/bin/time", "-f", "%M", "-o", (scratch / "peak").string()};
    const Outcome run = runTool(work, scratch, how);
    EXPECT_EQ(row.view ? row.view(run.console) : run.console, shown(row.console));
    EXPECT_EQ(run.errors, shown(row.errors));
    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(snapshot(work), after);
    if (row.verify)
        row.verify(work);
    const long peakKiB = measured ? std::atol(readFile(scratch / "peak").c_str()) : 0;
    EXPECT_TRUE(!measured || (peakKiB > 0 && peakKiB < 16 * 1024)) << peakKiB << " KiB";
}

// Text in UTF-16 or UTF-32 after its byte-order mark, in either byte order.
template <typename Char> std::string marked(const std::basic_string<Char>& text, bool bigEndian)
{
    std::string bytes;
    for (const Char c : Char(0xFEFF) + text)
        for (std::size_t b = 0; b < sizeof(Char); ++b)
            bytes += static_cast<char>(c >> 8 * (bigEndian ? sizeof(Char) - 1 - b : b) & 0xFF);
    return bytes;
}

// C:\Windows of the wine prefix the Windows builds run in.
const fs::path windowsFolder =
    fs::path(std::getenv("WINEPREFIX") != nullptr ? std::getenv("WINEPREFIX") : std::getenv("HOME") + "/.wine"s) / "drive_c/windows";

const Row scenarios[] = {
    Row("joins the lines of a file, an empty one and one larger than a block too").typed("report.txt e.txt big.txt\nq\n")
        .files({{"report.txt", "one\ntwo\n\nthree\n"}, {"e.txt", ""}, {"big.txt", bigText}})
        .says(asked({ok("report.txt"), ok("e.txt"), ok("big.txt")}))
        .leaves({{"report.txt_noNl.txt", "onetwothree"}, {"e.txt_noNl.txt", ""}, {"big.txt_noNl.txt", withoutLineEnds(bigText, {})}}),
    // Windows drops a CR before an LF too, as its text mode does, but keeps Ctrl-Z (0x1A) and all after it.
    Row("passes every byte but LF, CR and 0xFF included, and the CRs of CRLF lines, which Windows drops with the LF")
        .files({{"b.bin", everyByte() + "\r\n"}, {"w.txt", "a\r\nb\r\n"}, {"sub.txt", "abc\r\ndef\x1aghi\r\n"},
                {"end.txt", "x\r\n\x1a"}, {"cr.txt", "a\rb\r\r\nc\r"}})
        .typed("b.bin w.txt sub.txt end.txt cr.txt\nq\n").says(asked({ok("b.bin"), ok("w.txt"), ok("sub.txt"), ok("end.txt"), ok("cr.txt")}))
        .leaves({{"b.bin_noNl.txt", withoutLineEnds(everyByte(), {}) + "\r"}, {"w.txt_noNl.txt", "a\rb\r"},
                 {"sub.txt_noNl.txt", "abc\rdef\x1aghi\r"}, {"end.txt_noNl.txt", "x\r\x1a"}, {"cr.txt_noNl.txt", "a\rb\r\rc\r"}},
                {{"b.bin_noNl.txt", withoutLineEnds(everyByte(), {})}, {"w.txt_noNl.txt", "ab"},
                 {"sub.txt_noNl.txt", "abcdef\x1aghi"}, {"end.txt_noNl.txt", "x\x1a"}, {"cr.txt_noNl.txt", "a\rb\rc\r"}}),
    // Line ends are whole units after a UTF-16 or UTF-32 byte-order mark (U+4E0A holds 0x0A); without one, bytes.
    Row("leaves out the line ends of UTF-16 and UTF-32 text").typed("le.txt be.txt 32.txt no-mark.txt\nq\n")
        .files({{"le.txt", marked(u"a\r\n\u4E0A\U0001F600\r\nend"s, false)}, {"no-mark.txt", "\0\n\0\n"s},
                {"be.txt", marked(u"a\r\n\u4E0A\U0001F600\r\nend"s, true)}, {"32.txt", marked(U"x\r\ny\n"s, false)}})
        .says(asked({ok("le.txt"), ok("be.txt"), ok("32.txt"), ok("no-mark.txt")}))
        .leaves({{"le.txt_noNl.txt", marked(u"a\r\u4E0A\U0001F600\rend"s, false)}, {"no-mark.txt_noNl.txt", "\0\0"s},
                 {"be.txt_noNl.txt", marked(u"a\r\u4E0A\U0001F600\rend"s, true)}, {"32.txt_noNl.txt", marked(U"x\ry"s, false)}},
                {{"le.txt_noNl.txt", marked(u"a\u4E0A\U0001F600end"s, false)},
                 {"be.txt_noNl.txt", marked(u"a\u4E0A\U0001F600end"s, true)}, {"32.txt_noNl.txt", marked(U"xy"s, false)}}),
    // Lists of names as Windows saves them: a UTF-8 mark is no part of the first name; names show as they came.
    Row("reads lists of names in UTF-8, with a mark or without").files(cafeOmega).typed("\xEF\xBB\xBF" + cafe + " " + omega + "\nq\n")
        .says(asked({ok(cafe), ok(omega)})).leaves(cafeOmegaCopies),
    // Without a mark, a word that is UTF-8 is taken so, any other in the ANSI code page (wine's: 1252).
    Row("reads a list of names in UTF-16 and words in UTF-8 or the ANSI code page").files(cafeOmega)
        .typed(marked(u"caf\u00E9.txt \u03A9.txt\r\nq\r\n"s, false) + "ignored\n").says(asked({ok(cafe), ok(omega)}))
        .leaves(cafeOmegaCopies).onWindowsOnly(),
    // cmd writes its own commands' output (dir /b) in the OEM code page: 0x82 is \u00E9 in wine's 437.
    Row("reads words in UTF-8 or the ANSI code page, and in the OEM code page where only that names a file")
        .files({{cafe, "c\n"}, {omega, "o\n"}, {"oem-" + cafe, "c\n"}}).typed("caf\xE9.txt " + omega + " oem-caf\x82.txt\nq\n")
        .says(asked({ok("caf\xE9.txt"), ok(omega), ok("oem-caf\x82.txt")})).inCodePage()
        .leaves({{cafe + "_noNl.txt", "c"}, {omega + "_noNl.txt", "o"}, {"oem-" + cafe + "_noNl.txt", "c"}}),
    // Device names open devices on Windows, whatever file has that name; COM3 is never even opened.
    Row("refuses Windows device names, joins quoted parts around a backslash into one path and goes on").onWindowsOnly()
        .files({{"real.txt", "r\n"}, {"My Documents/a b.txt", "a\n"}})
        .typed("NUL AUX COM1 COM3 CONIN$ CON \\\\.\\pipe\\x real.txt \"My Documents\"\\\"a b.txt\"\nq\n")
        .says(asked({cannotOpen("NUL"), cannotOpen("AUX"), cannotOpen("COM1"), cannotOpen("COM3"), cannotOpen("CONIN$"),
                     cannotOpen("CON"), cannotOpen("\\\\.\\pipe\\x"), ok("real.txt"), ok("My Documents\\a b.txt")}))
        .leaves({{"real.txt_noNl.txt", "r"}, {"My Documents/a b.txt_noNl.txt", "a"}}),
    // The 32-bit build on 64-bit Windows (and wine) sees SysWOW64 as System32 unless it asks not to.
    Row("copies the file of System32 that is named, also from the 32-bit build").onWindowsOnly()
        .then([](const fs::path&) {
            writeFile(windowsFolder / "system32/nonl-redirect.txt", "64-bit\n");
            if (fs::exists(windowsFolder / "syswow64"))
                writeFile(windowsFolder / "syswow64/nonl-redirect.txt", "32-bit\n");
        })
        .typed("C:\\Windows\\System32\\nonl-redirect.txt\nq\n").says(asked({ok("C:\\Windows\\System32\\nonl-redirect.txt")}))
        .checks([](const fs::path&) {
            EXPECT_EQ(readFile(windowsFolder / "system32/nonl-redirect.txt_noNl.txt"), "64-bit");
            EXPECT_FALSE(fs::exists(windowsFolder / "syswow64/nonl-redirect.txt_noNl.txt"));
            for (const char* made : {"system32/nonl-redirect.txt", "system32/nonl-redirect.txt_noNl.txt",
                                     "syswow64/nonl-redirect.txt", "syswow64/nonl-redirect.txt_noNl.txt"})
                fs::remove(windowsFolder / made);
        }),
    // Wine keeps a DACL as the file's mode: the input's, owner only, shuts others out of the copy too.
    Row("gives the copy of a private file its input's DACL").files({{"mine.txt", "m\n"}}).onWindowsOnly()
        .then([](const fs::path& d) { fs::permissions(d / "mine.txt", fs::perms::owner_read | fs::perms::owner_write); })
        .typed("mine.txt\nq\n").says(asked({ok("mine.txt")})).leaves({{"mine.txt_noNl.txt", "m"}})
        .checks([](const fs::path& d) { EXPECT_EQ(fs::status(d / "mine.txt_noNl.txt").permissions() & fs::perms::others_all, fs::perms::none); }),
    Row("truncates an earlier output and takes one as a new input").typed("a.txt x_noNl.txt\nq\n")
        .files({{"a.txt", "a\n"}, {"a.txt_noNl.txt", "much longer old output"}, {"x_noNl.txt", "x"}})
        .says(asked({ok("a.txt"), ok("x_noNl.txt")})).leaves({{"a.txt_noNl.txt", "a"}, {"x_noNl.txt_noNl.txt", "x"}}),
    Row("quits on q without opening a file of that name").files({{"q", "q\n"}}).typed("q\na.txt\n").says(P),
    Row("takes a quoted q as a file name").files({{"q", "q\n"}}).typed("\"q\"\nq\n").says(asked({ok("q")}))
        .leaves({{"q_noNl.txt", "q"}}),
    Row("takes Q and quit as file names, reports one that is missing and asks again").files({{"Q", "Q\n"}})
        .typed("Q\nquit\nq\n").says(asked({ok("Q"), cannotOpen("quit")})).leaves({{"Q_noNl.txt", "Q"}}),
    Row("keeps waiting through empty lines").files({{"a", "1\n"}}).typed("\n\n  \t\n a \nq\n").says(asked({ok("a")}))
        .leaves({{"a_noNl.txt", "1"}}),
    // Over 260 characters with its folder: Windows opens it by its full path after \\?\.
    Row("handles a 200-character name, and writes beside an input in a folder whose path is longer than 300 characters")
        .files({{longName, "l\nl\n"}, {deepName, "d\ne\n"}}).typed(longName + " " + deepName + "\nq\n").says(asked({ok(longName), ok(deepName)}))
        .leaves({{longName + "_noNl.txt", "ll"}, {deepName + "_noNl.txt", "de"}}),
    Row("ends at the end of input after a last name without a line end").files({{"a", "1\n"}}).typed("a")
        .says(asked({ok("a")})).leaves({{"a_noNl.txt", "1"}}),
    Row("ends on empty input").says(P),
    Row("refuses a name holding a NUL byte").files({{"keep.txt", "keep\n"}}).typed("keep.txt\0b\nq\n"s)
        .says(asked({cannotOpen("keep.txt")})),
    Row("reports outputs that cannot be created: a folder, a hard link to the input, the input its link leads to")
        .files({{"made.txt", "a\n"}, {"made.txt_noNl.txt", "<dir>"}, {"hard.txt", "keep\n"}, {"self", "-> self_noNl.txt"},
                {"self_noNl.txt", "keep\n"}, {"two", "2\n"}})
        .then([](const fs::path& d) {
            fs::create_hard_link(d / "hard.txt", d / "hard.txt_noNl.txt");
            fs::create_hard_link(d / "self_noNl.txt", d / "two_noNl.txt"); // an old copy with another name
        })
        .typed("made.txt hard.txt self two\nq\n").leaves({{"hard.txt_noNl.txt", "keep\n"}, {"two_noNl.txt", "keep\n"}})
        .says(asked({cannotCreate("made.txt_noNl.txt"), cannotCreate("hard.txt_noNl.txt"), cannotCreate("self_noNl.txt"),
                     cannotCreate("two_noNl.txt")})),
    // A file link (mklink, Git's core.symlinks) into another folder: the copy stands beside the name given.
    Row("copies through a file link into another folder beside the link").files({{"linked/real.txt", "r\n"}, {"link.txt", "-> linked/real.txt"}})
        .typed("link.txt\nq\n").says(asked({ok("link.txt")})).leaves({{"link.txt_noNl.txt", "r"}}),
    // A read-only input gives a read-only copy: Windows' attribute, POSIX's missing write bits.
    Row("gives a read-only input a read-only copy").files({{"ro-in.txt", "r\n"}}).typed("ro-in.txt\nq\n")
        .then([](const fs::path& d) { fs::permissions(d / "ro-in.txt", fs::perms::owner_read | fs::perms::others_read); })
        .says(asked({ok("ro-in.txt")})).leaves({{"ro-in.txt_noNl.txt", "r"}}).checks([](const fs::path& d) {
            EXPECT_EQ(fs::status(d / "ro-in.txt_noNl.txt").permissions() & fs::perms::owner_write, fs::perms::none);
        }),
    // Wine shows a file that its user may not write as read-only, which Windows refuses to replace.
    Row("refuses to replace a read-only old copy").onWindowsOnly().files({{"ro.txt", "r\n"}, {"ro.txt_noNl.txt", "old"}})
        .then([](const fs::path& d) { fs::permissions(d / "ro.txt_noNl.txt", fs::perms::owner_read); })
        .typed("ro.txt\nq\n").says(asked({cannotCreate("ro.txt_noNl.txt")})),
    // Where the file system makes no file without a name, the copy's hidden name is renamed over the old copy.
    Row("replaces an old copy where the file system has no files without a name").typed("a.txt\nq\n")
        .files({{"a.txt", "a\nb\n"}, {"a.txt_noNl.txt", "old"}}).preload({{"NONL_NO_TMPFILE", "1"}})
        .says(asked({ok("a.txt")})).leaves({{"a.txt_noNl.txt", "ab"}}),
    // A full disk or a lost network file may show only when the copy is closed: the old copy stays whole.
    Row("reports a copy whose closing fails").files({{"a.txt", "a\nb\n"}, {"a.txt_noNl.txt", "old"}}).typed("a.txt\nq\n")
        .preload({{"NONL_FAIL_CLOSE_WRITTEN", "1"}}).says(asked({cannotWrite("a.txt_noNl.txt")})),
    Row("refuses outputs that are devices, FIFOs, or links, to the input or another file").onLinuxOnly()
        .files({{"dev", "d\n"}, {"dev_noNl.txt", "-> /dev/null"}, {"fifo", "f\n"}, {"fifo_noNl.txt", "<fifo>"},
                {"dangling", "x\n"}, {"dangling_noNl.txt", "-> elsewhere"}, {"loop", "l\n"}, {"loop_noNl.txt", "-> loop_noNl.txt"},
                {"other", "o\n"}, {"else", "e\n"}, {"other_noNl.txt", "-> else"}, {"soft.txt", "keep\n"}, {"soft.txt_noNl.txt", "-> soft.txt"}})
        .typed("dev fifo dangling loop other soft.txt\nq\n")
        .says(asked({cannotCreate("dev_noNl.txt"), cannotCreate("fifo_noNl.txt"), cannotCreate("dangling_noNl.txt"),
                     cannotCreate("loop_noNl.txt"), cannotCreate("other_noNl.txt"), cannotCreate("soft.txt_noNl.txt")})),
    // The limit ends a copy of /dev/zero quickly, should one start.
    Row("refuses a folder, a device that never ends and a FIFO that waits for a writer as input").onLinuxOnly()
        .files({{"dir", "<dir>"}, {"z", "-> /dev/zero"}, {"p", "<fifo>"}}).typed("dir z p\nq\n").limit(100000)
        .says(asked({cannotOpen("dir"), cannotOpen("z"), cannotOpen("p")})),
    // The limit holds for the console's file too, which stays far below it.
    Row("ends a copy over the file-size limit with a message, the old copy whole, and goes on").limit(500000)
        .files({{"big.txt", bigText}, {"big.txt_noNl.txt", "old"}, {"s.txt", "s\n"}}).typed("big.txt s.txt q\n")
        .says(asked({cannotWrite("big.txt_noNl.txt"), ok("s.txt")})).onLinuxOnly().leaves({{"s.txt_noNl.txt", "s"}}),
    Row("gives a copy no permission its input lacks, also in place of an old copy that had more").onLinuxOnly()
        .files({{"private.txt", "p\n"}, {"shared.txt", "s\n"}, {"shared.txt_noNl.txt", "old"}, {"run.sh", "r\n"}})
        .then([](const fs::path& d) {
            fs::permissions(d / "run.sh", fs::perms::all);
            fs::permissions(d / "private.txt", fs::perms::owner_read | fs::perms::owner_write);
            fs::permissions(d / "shared.txt", fs::perms::owner_read | fs::perms::owner_write);
            fs::permissions(d / "shared.txt_noNl.txt", fs::perms::owner_all | fs::perms::others_read);
        })
        .typed("private.txt shared.txt run.sh q\n").says(asked({ok("private.txt"), ok("shared.txt"), ok("run.sh")}))
        .leaves({{"private.txt_noNl.txt", "p"}, {"shared.txt_noNl.txt", "s"}, {"run.sh_noNl.txt", "r"}})
        .checks([](const fs::path& d) {
            const fs::perms readWrite = fs::perms::owner_read | fs::perms::owner_write;
            EXPECT_EQ(fs::status(d / "run.sh_noNl.txt").permissions(), readWrite | fs::perms::group_read | fs::perms::others_read);
            EXPECT_EQ(fs::status(d / "private.txt_noNl.txt").permissions(), readWrite);
            EXPECT_EQ(fs::status(d / "shared.txt_noNl.txt").permissions(), readWrite);
        }),
    Row("takes a pasted quoted path with folders, a dragged name in single quotes, and an unclosed quote as a character")
        .files({{"my dir/sub/notes.txt", "n\n"}, {"it's here.txt", "i\n"}, {"a", "1\n"}})
        .typed("\"my dir/sub/notes.txt\" \"it's here.txt\"\n'my dir/sub/notes.txt' \n\"odd.txt a\nq\n")
        .says(asked({ok("my dir/sub/notes.txt"), ok("it's here.txt"), ok("my dir/sub/notes.txt"), cannotOpen("\"odd.txt"), ok("a")}))
        .leaves({{"my dir/sub/notes.txt_noNl.txt", "n"}, {"it's here.txt_noNl.txt", "i"}, {"a_noNl.txt", "1"}}),
    // As terminals and ls paste names on Linux; only a terminal is spared a name's escape sequences.
    Row("takes names quoted as a shell quotes them, and says one holding escape sequences byte for byte into a file")
        .files({{"it's here.txt", "i\n"}, {"my notes.txt", "m\n"}, {escName, "e\n"}}).onLinuxOnly()
        .typed("'it'\\''s here.txt' my\\ notes.txt\n" + escName + "\nq\n").says(asked({ok("it's here.txt"), ok("my notes.txt"), ok(escName)}))
        .leaves({{"it's here.txt_noNl.txt", "i"}, {"my notes.txt_noNl.txt", "m"}, {escName + "_noNl.txt", "e"}}),
    // A file named as the start it shows is not opened either.
    Row("shows only the start of a 64 MiB word and goes on").files({{"a", "1\n"}, {std::string(64, 'w') + "...", "w\n"}})
        .typed(hugeWord + " a\nq\n").says(asked({cannotOpen(std::string(64, 'w') + "..."), ok("a")})).leaves({{"a_noNl.txt", "1"}}),
    // A program driving the tool through a pipe must see each prompt before the tool waits for its answer.
    Row("shows each prompt through a pipe before it waits").files({{"a", "1\n"}}).says(asked({ok("a")})).leaves({{"a_noNl.txt", "1"}})
        .talking([](Running& tool) {
            for (const auto& [expected, answer] : {std::pair{shown(P), "a\n"}, {shown(asked({ok("a")})), "q\n"}}) {
                tool.until([&expected = expected](const std::string& drawn) { return drawn.size() >= expected.size(); }, 10);
                EXPECT_EQ(tool.drawn, expected);
                tool.type(answer);
            }
        }, 0),
    // Whoever started the tool left its input non-blocking: nothing typed yet is no end.
    Row("waits for names on a pipe left non-blocking").files({{"a", "1\n"}}).says(asked({ok("a")})).leaves({{"a_noNl.txt", "1"}})
        .as({"python3", "-c", "import fcntl, os, sys; fcntl.fcntl(0, fcntl.F_SETFL, os.O_NONBLOCK); os.execvp(sys.argv[1], sys.argv[1:])"})
        .talking([](Running& tool) {
            tool.until([](const std::string& drawn) { return drawn.size() >= shown(P).size(); }, 60);
            usleep(300000);
            tool.type("a\n");
            tool.until([](const std::string& drawn) { return drawn.size() >= shown(asked({ok("a")})).size(); }, 60);
            usleep(300000);
            tool.type("q\n");
        }, 0),
    Row("takes a word at the limit as a name, shows only the start of one longer and goes on")
        .files({{"after-long.txt", "still\nhere\n"}}).leaves({{"after-long.txt_noNl.txt", "stillhere"}})
        .typed(std::string(texts::longestName, 'y') + " " + std::string(texts::longestName + 1, 'z') + " after-long.txt\nq\n")
        .says(asked({cannotOpen(std::string(texts::longestName, 'y')), cannotOpen(std::string(64, 'z') + "..."), ok("after-long.txt")})),
};

// The screen a terminal shows for what was drawn on it: no escape sequence but a cursor move right, no CR.
std::string screenOf(const std::string& drawn)
{
    static const std::regex hidden("\x1b\\[([^@-~]*)([@-~])|\x1b\\][^\x07]*\x07?|\x1b[\\s\\S]?|\r");
    std::string screen;
    std::size_t at = 0;
    for (std::sregex_iterator seen(drawn.begin(), drawn.end(), hidden), end; seen != end; ++seen) {
        const std::size_t right = (*seen)[2] == "C" ? std::max(1, std::atoi((*seen)[1].str().c_str())) : 0;
        screen += drawn.substr(at, seen->position() - at) + std::string(right, ' ');
        at = seen->position() + seen->length();
    }
    return screen + drawn.substr(at);
}

// How many prompts the screen shows.
std::size_t promptsOn(const std::string& screen)
{
    std::size_t seen = 0;
    for (std::size_t at = screen.find(P); at != std::string::npos; at = screen.find(P, at + 1))
        ++seen;
    return seen;
}

class Console : public ::testing::Test {
protected:
    void SetUp() override
    {
        signal(SIGPIPE, SIG_IGN);
        std::string pattern = (fs::temp_directory_path() / "nonl-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
        fs::create_directories(work = root / "work");
        scratch = root / "scratch";
    }
    void TearDown() override { fs::remove_all(root); }

    // Plays each row that runs here, each run of a race until one fails.
    template <typename Rows> void playAll(const Rows& rows)
    {
        for (auto row = std::begin(rows); row != std::end(rows) && !IsSkipped(); ++row) {
            SCOPED_TRACE(row->what);
            for (int run = 0; run < row->times && runsHere(*row) && (run == 0 || !HasFailure()); ++run)
                play(*row, work, scratch);
        }
    }

    fs::path root, work, scratch;
};

} // namespace

TEST_F(Console, Scenarios) { playAll(scenarios); }

// Where each start takes tens of seconds (the 32-bit build under an emulator), this is the table's test: the rows
// that end at q in as few starts as may be, for each way a list of names is saved, sharing no file with other bytes.
TEST_F(Console, ScenariosInOneStart)
{
    const std::string utf8Mark = "\xEF\xBB\xBF";
    for (const char* list : {"UTF-8", "UTF-8 with a mark", "UTF-16LE"}) {
        SCOPED_TRACE("a list of names in "s + list);
        const bool plain = list == "UTF-8"s, utf16 = list == "UTF-16LE"s;
        if (utf16 && !windows)
            continue; // read as bytes elsewhere
        std::vector<std::pair<Row, std::vector<const Row*>>> starts;
        for (const Row& row : scenarios) {
            const std::string input = row.input.compare(0, 3, utf8Mark) == 0 ? row.input.substr(3) : row.input;
            const bool endsAtQ = input.size() >= 2 && input.compare(input.size() - 2, 2, "q\n") == 0;
            const bool ascii = std::all_of(input.begin(), input.end(), [](char c) { return (c & 0x80) == 0; });
            // A large input would take minutes through an emulator; the UTF-16 list takes ASCII rows, a byte a unit.
            if (!runsHere(row) || !endsAtQ || row.sizeLimit != RLIM_INFINITY || !row.environment.empty() ||
                input.size() > (1 << 20) || (!plain && row.codePage) || (utf16 && !ascii))
                continue;
            const Tree changes = changesHere(row), after = overlaid(row.before, changes);
            // Names that differ only in case name one file on Windows.
            const auto same = [](char a, char b) { return std::tolower(a) == std::tolower(b); };
            const auto fits = [&](const Row& all) {
                const Tree allAfter = overlaid(all.before, all.changed);
                for (const auto& [from, into] : {std::pair{&row.before, &all.before}, {&after, &allAfter}})
                    for (const auto& [name, bytes] : *from)
                        for (const auto& [other, otherBytes] : *into)
                            if (std::equal(name.begin(), name.end(), other.begin(), other.end(), same) &&
                                (name != other || bytes != otherBytes))
                                return false;
                return true;
            };
            auto start = std::find_if(starts.begin(), starts.end(), [&](const auto& s) { return fits(s.first); });
            if (start == starts.end() && !plain && !starts.empty())
                continue; // each start costs a minute under an emulator: the plain list has this row
            if (start == starts.end())
                start = starts.insert(start, {Row().says(P), {}});
            Row& all = start->first;
            all.input += input.substr(0, input.size() - 2);
            all.console += row.console.substr(P.size());
            all.before.insert(row.before.begin(), row.before.end());
            all.changed.insert(changes.begin(), changes.end());
            start->second.push_back(&row);
        }
        for (auto& [all, rows] : starts) {
            // A name after q is never read. Lists saved with a mark come from Windows tools, with CRLF line ends.
            const std::string crlf = withCrlf(all.input += "q\nnever.txt\n");
            if (!plain)
                all.input = utf16 ? marked(std::u16string(crlf.begin(), crlf.end()), false) : utf8Mark + crlf;
            all.setup = [rows = rows](const fs::path& d) { for (const Row* row : rows) if (row->setup) row->setup(d); };
            all.verify = [rows = rows](const fs::path& d) { for (const Row* row : rows) if (row->verify) row->verify(d); };
            play(all, work, scratch);
        }
    }
}

// Each read of big.txt stops at failAt and fails from there with EIO, as on a failing disk (tests/failing_read.c,
// preloaded), or the file is rewritten while it is read slowly: the tool must say it could not read, and publish no
// copy, so an old one stays whole. Nor does a copy take its name where something it may not replace came meanwhile.
TEST_F(Console, PublishesOnlyAWholeCopyOfAnUnchangedFile)
{
    const std::string text = bigText.substr(0, 300000);
    const Tree files{{"big.txt", text}, {"big.txt_noNl.txt", "old"}};
    std::vector<Row> rows;
    // At the first byte, around a 128 KiB block, the file's edges.
    for (const std::size_t failAt : {0, 1, 8191, 100000, 131071, 131072, 299999})
        rows.push_back(Row("reads fail from byte " + std::to_string(failAt)).files(files).typed("big.txt\nq\n")
            .preload({{"NONL_FAIL_READ_FILE", "big.txt"}, {"NONL_FAIL_READ_AFTER", std::to_string(failAt)}})
            .says(asked({filled(texts::readFailed, "big.txt")})));
    // A file that cannot be read at all says so, whatever stands at its copy's name.
    rows.push_back(Row("reads fail from byte 0, a folder at the copy's name").files({{"big.txt", text}, {"big.txt_noNl.txt", "<dir>"}})
        .typed("big.txt\nq\n").preload({{"NONL_FAIL_READ_FILE", "big.txt"}, {"NONL_FAIL_READ_AFTER", "0"}})
        .says(asked({filled(texts::readFailed, "big.txt")})));
    // Cut short and written again, as an editor saves, while the copy reads its 6 MiB a block each 300 ms.
    const std::string six(6 << 20, 's');
    rows.push_back(Row("the file is rewritten meanwhile").files({{"big.txt", six}, {"big.txt_noNl.txt", "old"}})
        .preload({{"NONL_FAIL_READ_FILE", "big.txt"}, {"NONL_READ_DELAY_MS", "300"}}).args({"big.txt"})
        .meanwhile([this](Running&) {
            usleep(700000);
            writeFile(work / "big.txt", "new\n");
        }).exits(1, filled(texts::readFailed, "big.txt")).leaves({{"big.txt", "new\n"}}));
    rows.push_back(Row("a link is put at the copy's name meanwhile").files({{"big.txt", six}})
        .preload({{"NONL_FAIL_READ_FILE", "big.txt"}, {"NONL_READ_DELAY_MS", "300"}}).args({"big.txt"})
        .meanwhile([this](Running&) {
            usleep(700000);
            fs::create_symlink("elsewhere", work / "big.txt_noNl.txt");
        }).exits(1, cannotCreate("big.txt_noNl.txt")).leaves({{"big.txt_noNl.txt", "-> elsewhere"}}));
    if (!runsHere(rows[0]))
        GTEST_SKIP() << "only a Linux build is preloaded with a Linux library";
    playAll(rows);
}

// A copy that takes seconds shows how far it has come on a terminal's standard error, where the cursor stands at a
// line's start (never after a prompt); the screen ends as without it, and no control character of a name shows.
TEST_F(Console, ShowsProgressOnATerminalDuringALongCopy)
{
    const std::string big = std::string(6 << 20, 'x') + "\n", msg = withCrlf(ok("big.txt")), erase = "\r\x1b[K";
    const std::string cjk = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE5\x90\x8D\xE5\x89\x8D.txt";
    const Tree files{{"big.txt", big}, {cjk, big}, {escName, big}, {"c1\x9B\xC2\x9B.txt", "c\n"}, {"\xC4\x9B.txt", "c\n"}};
    // Cells a terminal gives these lines: two for each of the CJK characters, one for ASCII.
    const auto cells = [](const std::string& line) {
        return std::count_if(line.begin(), line.end(), [](char c) { return (c & 0x80) == 0; }) +
               2 * std::count_if(line.begin(), line.end(), [](char c) { return (c & 0xF0) == 0xE0; });
    };
    // Each read of the file named taking 300 ms; on a terminal too narrow for a longer line, with what is typed at
    // it after the first prompt, what it shows from the last progress line (CR, ESC [ K) on, or all of it.
    const auto slowly = [&](const char* what, const std::string& name, const std::string& typed = "",
                            unsigned short width = 20, Settings settings = {}) {
        settings.insert(settings.end(), {{"NONL_FAIL_READ_FILE", name}, {"NONL_READ_DELAY_MS", "300"}});
        Row row = Row(what).files(files).preload(settings);
        row.view = [&, erase](const std::string& raw) {
            // Each line is drawn as CR, ESC [ K (erase the line) and the text, which must fit.
            for (std::size_t at = raw.find("\x1b[K"); at != std::string::npos; at = raw.find("\x1b[K", at + 1))
                EXPECT_LT(cells(raw.substr(at + 3, raw.find('\r', at) - at - 3)), 20) << "too wide: " << raw.substr(at);
            // No escape sequence but the tool's own erase, whatever a name holds.
            EXPECT_EQ(std::regex_replace(raw, std::regex("\x1b\\[K"), "").find('\x1b'), std::string::npos) << raw;
            return raw.rfind(erase) == std::string::npos ? raw : raw.substr(raw.rfind(erase));
        };
        return std::move(row).talking(typed.empty() ? std::function<void(Running&)>() : [typed](Running& tool) {
            EXPECT_TRUE(tool.until([](const std::string& drawn) { return drawn == P; }));
            tool.type(typed);
        }, width);
    };
    const Tree copied{{"big.txt_noNl.txt", std::string(6 << 20, 'x')}};
    const Row rows[] = {
        slowly("a CJK name given as an argument, on a narrow terminal", cjk).args({cjk}).says(erase + withCrlf(ok(cjk)))
            .leaves({{cjk + "_noNl.txt", std::string(6 << 20, 'x')}}),
        slowly("typed names from a file: none", "big.txt").typed("big.txt\nq\n").says(P + msg + P).leaves(copied),
        slowly("two names typed on one line: none, both prompts stay", "big.txt", "big.txt big.txt\n\x04")
            .says(P + "big.txt big.txt\r\n" + msg + P + msg + P + "\r\n").leaves(copied),
        slowly("a name ended by Ctrl-D: none, and the tool ends the line", "big.txt", "big.txt\x04\x04")
            .says(P + "big.txt" + msg + P + "\r\n").leaves(copied),
        // The next line is shown as it is typed, before its prompt: none for it.
        slowly("a name alone on its line, and one typed ahead", "big.txt", "big.txt\nbig.txt\n\x04")
            .says(erase + msg + P + msg + P + "\r\n").leaves(copied),
        slowly("escape sequences in a name, its progress line's too", escName).args({escName})
            .says(erase + withCrlf(ok("?]0;owned??[2J.txt"))).leaves({{escName + "_noNl.txt", std::string(6 << 20, 'x')}}),
        // Outside a UTF-8 locale every byte 0x80 to 0x9F may steer the terminal.
        slowly("a name in UTF-8 outside a UTF-8 locale", "big.txt", "", 20, {{"LC_ALL", "C"}}).args({"\xC4\x9B.txt"})
            .says(withCrlf(ok("\xC4?.txt"))).leaves({{"\xC4\x9B.txt_noNl.txt", "c"}}),
        // 0x9B alone is CSI to an 8-bit terminal; in UTF-8 (C2 9B) it is C1 anywhere.
        slowly("C1 bytes in a name", "big.txt").args({"c1\x9B\xC2\x9B.txt"}).says(withCrlf(ok("c1??.txt")))
            .leaves({{"c1\x9B\xC2\x9B.txt_noNl.txt", "c"}}),
        Row("none where standard error is a file").files(files).preload({{"NONL_FAIL_READ_FILE", "big.txt"}, {"NONL_READ_DELAY_MS", "300"}})
            .args({"big.txt"}).says(ok("big.txt")).leaves(copied),
        // Where the line cannot be taken back, or would break into the shell's own line (a job in the background: the
        // terminal is the tool's own, its foreground job the shell's).
        slowly("a terminal one column wide: none", "big.txt", "", 1).args({"big.txt"}).says(msg).leaves(copied),
        slowly("TERM=dumb: none", "big.txt", "", 20, {{"TERM", "dumb"}}).args({"big.txt"}).says(msg).leaves(copied),
        slowly("a job in the background: none", "big.txt").args({"big.txt"}).meanwhile([](Running&) {})
            .as({"setsid", "-w", "-c", "sh", "-c", "set -m; \"$@\" & wait", "sh"}).says(msg).leaves(copied),
        // Stopped (Ctrl-Z) and sent on in the background (bg) before a stop ends it: the line is the shell's now.
        [&] {
            Row row = slowly("a job put in the background before it is stopped: the shell's line stays", "big.txt")
                .args({"big.txt"}).as({"setsid", "-w", "-c", "sh", "-c",
                                       "set -m; \"$@\" & fg >/dev/null; bg >/dev/null; sleep 0.3; kill -TERM %1; wait", "sh"})
                .meanwhile([](Running& tool) {
                    EXPECT_TRUE(tool.until([](const std::string& drawn) { return drawn.find("\x1b[Kbig") != std::string::npos; }));
                    tool.type("\x1a");
                }).says("big.txt: kept");
            row.view = [](const std::string& raw) { return raw.substr(raw.rfind("\x1b[K") + 3, 8) + " kept"; };
            return row;
        }(),
        // The line ends with the tool: the screen ends as it was before it, and no copy is left.
        slowly("Ctrl-C during the copy", "big.txt").args({"big.txt"}).says(erase).exits(128 + SIGINT)
            .meanwhile([](Running& tool) {
                EXPECT_TRUE(tool.until([](const std::string& drawn) { return drawn.find("\x1b[Kbig") != std::string::npos; }));
                kill(tool.pid, SIGINT);
            }),
    };
    if (!runsHere(rows[0]))
        GTEST_SKIP() << "only a Linux build is preloaded with a Linux library";
    playAll(rows);
}

// Names typed at a Windows console, which wine gives the tool when its standard streams are a terminal: the console
// is read in UTF-16, 1023 units at a time.
TEST_F(Console, TakesNamesTypedAtAWindowsConsole)
{
    if (!windows)
        GTEST_SKIP() << "a terminal is a stream of bytes to the Linux build, as tested above";
    const std::string omegas = "\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1.txt", nihongo = "\xE6\x97\xA5\xE6\x9C\xAC \xE8\xAA\x9E.txt",
                      smile = "\xF0\x9F\x98\x80.txt";
    const auto line = [](const std::string& message) { return message.substr(1, message.size() - 2); };
    // Each line typed after its prompt (none: input from a file); the screen as its prompts and the other lines that
    // show something (not where wine draws a name otherwise).
    const auto typedLines = [](const char* what, const std::string& typed, bool messages = true) {
        std::vector<std::string> lines;
        std::istringstream split(typed);
        for (std::string text; std::getline(split, text);)
            lines.push_back(text + "\r");
        Row row = Row(what).talking(typed.empty() ? std::function<void(Running&)>() : [lines](Running& tool) {
            for (std::size_t typed = 0; typed < lines.size(); tool.type(lines[typed++]))
                if (!tool.until([typed](const std::string& drawn) { return promptsOn(screenOf(drawn)) > typed; }, 300))
                    return;
        });
        row.environment = {{"TERM", "xterm"}}; // the same screen anywhere
        row.view = [messages](const std::string& drawn) {
            const std::string screen = screenOf(drawn);
            std::string seen = std::to_string(promptsOn(screen)) + " prompts\n";
            std::istringstream shownLines(screen);
            for (std::string text; std::getline(shownLines, text);)
                if (messages && text.find(P) == std::string::npos && text.find_first_not_of(' ') != std::string::npos)
                    seen += text + "\n";
            return shown(seen);
        };
        return row;
    };
    const Row rows[] = {
        typedLines("names in three scripts, one with a blank", cafe + "\n" + omegas + "\n\"" + nihongo + "\"\nq")
            .files({{cafe, "caf\ne\n"}, {omegas, "o\nm\r\ne\n"}, {nihongo, "ni\nhon\n"}})
            .says("4 prompts\n" + line(ok(cafe)) + line(ok(omegas)) + line(ok(nihongo)))
            .leaves({{cafe + "_noNl.txt", "cafe"}, {omegas + "_noNl.txt", "ome"}, {nihongo + "_noNl.txt", "nihon"}}),
        // Opened as files, these would read the keyboard and swallow all that is typed after them.
        typedLines("the console's own names are refused, even with a real con.txt, and q still ends the tool",
                   "CON\nCONIN$\ncon.txt\nq").files({{"con.txt", "c\n"}})
            .says("4 prompts\n" + line(cannotOpen("CON")) + line(cannotOpen("CONIN$")) + line(cannotOpen("con.txt"))),
        // Wine draws a character beyond U+FFFF as two replacement characters: the copy tells.
        typedLines("a character beyond U+FFFF split between two console reads", std::string(1022, ' ') + smile + "\nq", false)
            .files({{smile, "e\n"}}).says("2 prompts\n").leaves({{smile + "_noNl.txt", "e"}}),
        typedLines("Ctrl-Z then Enter ends the tool as q does", "\x1a").files({{cafe, "c\n"}}).says("1 prompts\n"),
        typedLines("names given as arguments with the input from a file: no wait for Enter", "").args({cafe})
            .files({{cafe, "c\n"}}).says("0 prompts\n" + line(ok(cafe))).leaves({{cafe + "_noNl.txt", "c"}}),
        // Redirected, messages take the console's output code page, as cmd's own commands do (437 in wine: \xE9 is 0x82).
        typedLines("names given as arguments with the output to a file: no wait for Enter", "").args({cafe})
            .as({"sh", "-c", "exec \"$@\" >said.txt", "sh"}).meanwhile([](Running&) {}).files({{cafe, "c\n"}})
            .says("0 prompts\n").leaves({{cafe + "_noNl.txt", "c"}, {"said.txt", shown(ok("caf\x82.txt"))}}),
    };
    playAll(rows);
}

// Names as arguments: success on stdout, failures on stderr, and a status that tells.
TEST_F(Console, CopiesTheNamesGivenAsArguments)
{
    const std::string beyond = "caf\xC3\xA9 \xCE\xA9.txt", help = "Usage: nonl [OPTION]... [NAME]...\n";
    const auto given = [&beyond](const char* what, std::vector<std::string> arguments) {
        return Row(what).args(std::move(arguments))
            .files({{"a.txt", "a\n"}, {"b c.txt", "b\nc\n"}, {"q", "q\n"}, {beyond, "\xCE\xA9\n"}});
    };
    std::string forty, folder = "Z:" + work.string(), big(std::size_t{64} << 20, 'x');
    for (int name = 0; name < 40; ++name)
        forty += ok("a.txt");
    std::replace(folder.begin(), folder.end(), '/', '\\');
    const std::string list = "b c.txt\r\nq\r\n\r\nmissing.txt\n\"a.txt\"\n";
    const auto killed = [this](const char* what, Tree files, int signal = SIGKILL, Settings settings = {}) {
        Row row = Row(what).files(std::move(files)).args({"big.txt"}).exits(128 + signal).meanwhile([this, signal](Running& tool) {
            while (pendingCopy(tool.pid, work, "big.txt").empty() && !ended(tool.pid)) {
            }
            // Past the instant between a Windows copy's making and its mark to go, where a kill leaves it.
            if (windows)
                usleep(20000);
            kill(tool.pid, signal);
            const auto left = [this] {
                for (const auto& entry : fs::directory_iterator(work))
                    if (entry.path().filename().string().rfind("~nonl-", 0) == 0)
                        return true;
                return false;
            };
            for (int waited = 0; waited < 50 && left(); ++waited)
                usleep(100000);
        });
        // A read each 300 ms on Linux, where nothing shows the copy otherwise; a Windows build takes a while for 64 MiB.
        settings.insert(settings.end(), {{"NONL_FAIL_READ_FILE", "big.txt"}, {"NONL_READ_DELAY_MS", "300"}});
        return windows && signal == SIGKILL ? row : std::move(row).preload(settings);
    };
    const Row rows[] = {
        given("copies each name", {"a.txt", "b c.txt", "q"}).says(ok("a.txt") + ok("b c.txt") + ok("q"))
            .leaves({{"a.txt_noNl.txt", "a"}, {"b c.txt_noNl.txt", "bc"}, {"q_noNl.txt", "q"}}),
        given("goes on past a missing name and says so", {"a.txt", "missing.txt", "q"}).says(ok("a.txt") + ok("q"))
            .exits(1, cannotOpen("missing.txt")).leaves({{"a.txt_noNl.txt", "a"}, {"q_noNl.txt", "q"}}),
        given("says both streams in the order of the names into one file", {"a.txt", "missing.txt", "q"})
            .as({"sh", "-c", "exec \"$@\" 2>&1", "sh"})
            .says(ok("a.txt") + cannotOpen("missing.txt") + ok("q")).exits(1).leaves({{"a.txt_noNl.txt", "a"}, {"q_noNl.txt", "q"}}),
        // A redirected Windows message shows the name in the ANSI code page (wine's is 1252), "?" for what it lacks.
        given("takes a name beyond ASCII", {beyond}).says(ok(windows ? "caf\xE9 ?.txt" : beyond))
            .leaves({{beyond + "_noNl.txt", "\xCE\xA9"}}),
        given("prints the build's version first and copies nothing", {"--version", "a.txt"}).saysFirst("nonl " NONL_VERSION "\n"),
        given("refuses an unknown option and copies nothing", {"a.txt", "-x"})
            .exits(2, "nonl: unknown option '-x' (see 'nonl --help')\n"),
        given("prints its usage", {"a.txt", "--help"}).saysFirst(help),
        // A script must not take a success message that never arrived for success.
        given("fails when its success message cannot be written", {"a.txt"}).as({"sh", "-c", "exec \"$@\" >/dev/full", "sh"}).exits(1)
            .leaves({{"a.txt_noNl.txt", "a"}}).onLinuxOnly(),
        // Each name's files and folder are closed before the next: 40 names, 12 open files at most.
        given("closes each name's files before the next", std::vector<std::string>(40, "a.txt")).holding(12).says(forty)
            .leaves({{"a.txt_noNl.txt", "a"}}).onLinuxOnly(),
        // Windows shells leave wildcards to programs, which match README.* to README too. A name ending in a dot
        // (from Samba, WSL or a Mac) is opened as it is, also in a drive's folder after \\.\ (files, not devices).
        // Wine quotes "a *.txt", keeping its blank: a quoted pattern is a name.
        Row("expands wildcards on Windows").onWindowsOnly()
            .files({{"b.txt", "b\n"}, {"A.txt", "a\n"}, {"old.txt_noNl.txt", "o\n"}, {"x.log", "x\n"}, {"zz.log", "z\n"},
                    {"sub/c.txt", "c\n"}, {"README", "r\n"}, {"a b.txt", "ab\n"}, {"rep", "p\n"}, {"rep.", "dot\n"}, {"dir.txt", "<dir>"}})
            .args({"*.txt", "?.log", "sub\\*", "*.none", "README.*", "\\\\.\\" + folder + "\\rep*", "a *.txt"})
            .says(ok("a b.txt") + ok("A.txt") + ok("b.txt") + ok("x.log") + ok("sub\\c.txt") + ok("README") +
                  ok("\\\\.\\" + folder + "\\rep") + ok("\\\\?\\" + folder + "\\rep."))
            .exits(1, cannotOpen("*.none") + cannotOpen("a *.txt"))
            .leaves({{"A.txt_noNl.txt", "a"}, {"b.txt_noNl.txt", "b"}, {"x.log_noNl.txt", "x"},
                     {"sub/c.txt_noNl.txt", "c"}, {"README_noNl.txt", "r"}, {"a b.txt_noNl.txt", "ab"}, {"rep_noNl.txt", "p"},
                     {"rep._noNl.txt", "dot"}}),
        // A program holding a file open with DELETE access and letting others in (an indexer, a log rotator, the tool
        // writing a copy, here stopped) keeps no other from reading it.
        // The copy another run is writing, which it holds with DELETE access; wine lets others read it meanwhile.
        Row("reads a file others hold open with DELETE access").onWindowsOnly().files({{"big.txt", big}}).args({"big.txt"})
            .says(ok("big.txt")).leaves({{"big.txt_noNl.txt", big}}).meanwhile([this](Running& first) {
                std::string held;
                while ((held = pendingCopy(first.pid, work, "big.txt")).empty() && !ended(first.pid)) {
                }
                kill(first.pid, SIGSTOP);
                const std::string leaf = fs::path(held).filename().string();
                const Outcome run = held.empty() ? Outcome{"", "", -1} : runTool(work, root / "second", Row().args({leaf}));
                kill(first.pid, SIGCONT);
                if (run.status < 0)
                    GTEST_SKIP() << "the first copy ended before it could be held";
                EXPECT_EQ(run.console + run.errors, shown(ok(leaf)));
                fs::remove(work / (leaf + "_noNl.txt")); // what the first had written by then
            }),
        // A list of names, one a line, as dir /b and ls write them: blanks and quotes part of a name, q a name.
        given("copies the files a list names, each line whole", {"--files-from=list.txt", "--files-from", "none.txt"})
            .then([&list](const fs::path& d) { writeFile(d / "list.txt", list); })
            .says(ok("b c.txt") + ok("q")).exits(1, cannotOpen("missing.txt") + cannotOpen("\"a.txt\"") + cannotOpen("none.txt"))
            .leaves({{"b c.txt_noNl.txt", "bc"}, {"q_noNl.txt", "q"}, {"list.txt", list}}),
        given("says so when a list cannot be read to its end", {"--files-from=list.txt"})
            .then([&list](const fs::path& d) { writeFile(d / "list.txt", list); })
            .preload({{"NONL_FAIL_READ_FILE", "list.txt"}, {"NONL_FAIL_READ_AFTER", "9"}}).says(ok("b c.txt"))
            .exits(1, filled(texts::readFailed, "list.txt")).leaves({{"b c.txt_noNl.txt", "bc"}, {"list.txt", list}}),
        given("copies the files a list on standard input names, each ended by NUL", {"a.txt", "--files0-from=-"})
            .typed("b c.txt\0q\0"s).says(ok("a.txt") + ok("b c.txt") + ok("q"))
            .leaves({{"a.txt_noNl.txt", "a"}, {"b c.txt_noNl.txt", "bc"}, {"q_noNl.txt", "q"}}),
        // cmd /u /c dir /b writes UTF-16LE without a byte-order mark.
        given("reads a list in UTF-16 without a mark", {"--files-from=-"}).onWindowsOnly()
            .typed(std::string("b\0 \0c\0.\0t\0x\0t\0\r\0\n\0q\0\r\0\n\0"s)).says(ok("b c.txt") + ok("q"))
            .leaves({{"b c.txt_noNl.txt", "bc"}, {"q_noNl.txt", "q"}}),
        // Whoever reads the output goes away before the first message: every copy is still made.
        given("goes on when its output goes away", {"a.txt", "b c.txt", "q"}).says("")
            .as({"sh", "-c", "{ sleep 0.3; \"$@\"; echo $? >status; } | true", "sh"})
            .leaves({{"a.txt_noNl.txt", "a"}, {"b c.txt_noNl.txt", "bc"}, {"q_noNl.txt", "q"}, {"status", "1\n"}}),
        // Killed as it writes the copy: a copy with no name goes with it (wine's server takes a Windows one away
        // once it sees the tool gone), and the name keeps what it held.
        killed("killed during a copy: no copy, nothing else left", {{"big.txt", big}}),
        killed("killed during a copy: the old copy whole, nothing else left", {{"big.txt", big}, {"big.txt_noNl.txt", "old"}}),
        // A stop that the tool sees takes a hidden name away too.
        killed("stopped during a copy under a hidden name: the old copy whole, nothing else left",
               {{"big.txt", big}, {"big.txt_noNl.txt", "old"}}, SIGTERM, {{"NONL_NO_TMPFILE", "1"}}),
    };
    playAll(rows);
}

// Windows 11 takes nul.txt for a file, earlier Windows (and wine) for the device NUL: either is right, a success
// without the file's bytes never.
TEST_F(Console, TakesReservedNamesWithAnExtensionAsTheSystemDoes)
{
    if (!windows)
        GTEST_SKIP() << "Windows' reserved names";
    for (const std::string name : {"nul.txt", "aux.txt", "com1.txt"}) {
        SCOPED_TRACE(name);
        fill(work, {{name, "n\n"}});
        const Outcome run = runTool(work, scratch, Row().args({name}));
        const Tree after = run.status == 0 ? Tree{{name, "n\n"}, {name + "_noNl.txt", "n"}} : Tree{{name, "n\n"}};
        EXPECT_EQ(run.console + run.errors, shown(run.status == 0 ? ok(name) : cannotOpen(name)));
        EXPECT_EQ(snapshot(work), after);
    }
}

// A new copy is no easier to read than its input: only a member of the input's group may read it through group
// bits, and an input whose ACL shuts someone out gives a copy only its owner reads. The tool runs as user 65534.
TEST_F(Console, GivesANewCopyNoReaderItsInputShutsOut)
{
    if (windows || geteuid() != 0 || std::system("command -v setpriv setfacl >/dev/null") != 0)
        GTEST_SKIP() << "needs root, setpriv and setfacl (run as root in CI)";
    const std::vector<std::string> nobody = {"setpriv", "--reuid=65534", "--regid=100", "--clear-groups", "--"},
                                   member = {"setpriv", "--reuid=65534", "--regid=100", "--groups=1234", "--"}, byRoot;
    const fs::perms ownerOnly = fs::perms::owner_read | fs::perms::owner_write, groupToo = ownerOnly | fs::perms::group_read,
                    othersToo = fs::perms::others_read;
    // hr.txt, in group 1234 with these modes and an ACL made by setfacl's arguments in the folder, copied by this
    // user into a copy with those modes and group.
    const auto hr = [](const char* what, const std::vector<std::string>& user, fs::perms input, std::string acl,
                       fs::perms copy, gid_t group) {
        return Row(what).as(user).files({{"hr.txt", "pay\nroll\n"}}).args({"hr.txt"}).says(ok("hr.txt"))
            .leaves({{"hr.txt_noNl.txt", "payroll"}})
            .then([input, acl](const fs::path& d) {
                fs::permissions(d, fs::perms::all);
                ASSERT_EQ(chown((d / "hr.txt").c_str(), 65534, 1234), 0);
                fs::permissions(d / "hr.txt", input);
                if (!acl.empty() && std::system(("cd " + d.string() + " && setfacl " + acl).c_str()) != 0)
                    GTEST_SKIP() << "this file system takes no ACL";
            })
            .checks([copy, group](const fs::path& d) {
                struct stat made {};
                EXPECT_EQ(fs::status(d / "hr.txt_noNl.txt").permissions(), copy);
                EXPECT_TRUE(stat((d / "hr.txt_noNl.txt").c_str(), &made) == 0 && made.st_gid == group) << made.st_gid;
            });
    };
    // An empty file that anyone may read and write, of user 4321 in group 1234, at the copy's name in a folder of
    // group 1234 with these modes.
    const fs::perms anyone = ownerOnly | fs::perms::group_read | fs::perms::group_write | fs::perms::others_read |
                             fs::perms::others_write,
                    groupsFolder = fs::perms::set_gid | fs::perms::owner_all | fs::perms::group_all | fs::perms::others_read |
                                   fs::perms::others_exec,
                    stickyFolder = fs::perms::sticky_bit | fs::perms::all;
    // By the member, or by whoever else user names (root: no one).
    const auto planted = [&](const char* what, fs::perms folder, uid_t owner = 4321, fs::perms modes = fs::perms::none,
                             const std::vector<std::string>* user = nullptr) {
        Row row = hr(what, user != nullptr ? *user : member, ownerOnly, "", ownerOnly, 1234);
        row.setup = [first = row.setup, folder, owner, modes = modes == fs::perms::none ? anyone : modes](const fs::path& d) {
            first(d);
            writeFile(d / "hr.txt_noNl.txt", "");
            ASSERT_TRUE(chown((d / "hr.txt_noNl.txt").c_str(), owner, 1234) == 0 && chown(d.c_str(), 0, 1234) == 0);
            fs::permissions(d / "hr.txt_noNl.txt", modes);
            fs::permissions(d, folder);
        };
        return row;
    };
    // What is refused at the copy's name leaves it as it was.
    const auto kept = [&](Row row, fs::perms modes) {
        return std::move(row).says("").exits(1, cannotCreate("hr.txt_noNl.txt")).leaves({{"hr.txt_noNl.txt", ""}})
            .checks([modes](const fs::path& d) { EXPECT_EQ(fs::status(d / "hr.txt_noNl.txt").permissions(), modes); });
    };
    const Row rows[] = {
        hr("not a member of the input's group: no group bits", nobody, groupToo, "", ownerOnly, 100),
        hr("a member: the input's group and its bits", member, groupToo, "", groupToo, 1234),
        hr("others keep what the input gives them", nobody, groupToo | othersToo, "", ownerOnly | othersToo, 100),
        hr("in another group, others get no more than the input's group", nobody, ownerOnly | othersToo, "", ownerOnly, 100),
        hr("an ACL that shuts a user out: owner bits only", member, groupToo | othersToo, "-m u:4321:--- hr.txt", ownerOnly, 1234),
        hr("a folder's default ACL naming a user: no group bits", member, groupToo, "-d -m u:4321:rw .", ownerOnly, 1234),
        // Another member of the group plants a file anyone may read at the copy's name: it is replaced, never written.
        planted("a file planted in a group's folder is replaced by a private copy", groupsFolder)
            .leaves({{"hr.txt_noNl.txt", "payroll"}}),
        // Where the sticky bit keeps others' files, the planted one stays as it was; so does a copy made read-only.
        kept(planted("a file planted in a sticky folder is left alone", stickyFolder), anyone),
        kept(planted("... also by root", stickyFolder, 4321, anyone, &byRoot), anyone),
        kept(planted("an old copy its owner made read-only is kept", groupsFolder, 65534, fs::perms::owner_read), fs::perms::owner_read),
    };
    fs::permissions(root, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    playAll(rows);
}

// A file under a lease (a Samba oplock, an NFS delegation) is waited for, not refused as a device. What the holder
// does before it lets go neither moves the copy to another folder nor makes the tool wait on a FIFO.
TEST_F(Console, WaitsForAFileUnderALease)
{
    if (windows)
        GTEST_SKIP() << "leases are Linux's";
    // The test holds a lease on A/f, reached through H/d; at its break it does what the row says, then lets go.
    sigset_t io;
    sigemptyset(&io);
    sigaddset(&io, SIGIO);
    sigprocmask(SIG_BLOCK, &io, nullptr);
    int lease = -1;
    std::thread writer;
    std::atomic<bool> released{false}, opened{false};
    const auto leased = [&](const char* what, std::function<void(const fs::path&)> atBreak) {
        return Row(what).files({{"A/f", "l\ne\n"}, {"B", "<dir>"}, {"H/d", "-> ../A"}}).args({"H/d/f"})
            .then([&lease](const fs::path& w) {
                lease = open((w / "A/f").c_str(), O_RDONLY | O_CLOEXEC);
                if (fcntl(lease, F_SETLEASE, F_WRLCK) != 0)
                    GTEST_SKIP() << "this file system grants no lease";
            })
            .meanwhile([&, atBreak](Running&) {
                const timespec wait{60, 0};
                EXPECT_EQ(sigtimedwait(&io, nullptr, &wait), SIGIO) << "the lease was never broken";
                atBreak(work);
                close(lease);
            });
    };
    const Row rows[] = {
        leased("points the folder's link at another folder after a while", [](const fs::path& w) {
            usleep(300000);
            fs::create_directory_symlink("../B", w / "H/new");
            fs::rename(w / "H/new", w / "H/d");
        }).says(ok("H/d/f")).leaves({{"A/f_noNl.txt", "le"}, {"H/d", "-> ../B"}}),
        // A writer waits for the FIFO's reader: it gets through only if the tool opens the FIFO.
        leased("renames a FIFO over the input, which is never opened", [&](const fs::path& w) {
            mkfifo((w / "H/fifo").c_str(), 0644);
            released = opened = false;
            writer = std::thread([&, fifo = w / "H/fifo"] {
                const int fd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
                opened = !released;
                close(fd);
            });
            usleep(50000);
            fs::rename(w / "H/fifo", w / "A/f");
        }).exits(1, cannotOpen("H/d/f")).leaves({{"A/f", "<fifo>"}}).repeated(20).checks([&](const fs::path& w) {
            released = true;
            const int reader = open((w / "A/f").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            writer.join();
            close(reader);
            EXPECT_FALSE(opened) << "the tool opened the FIFO";
        }),
    };
    playAll(rows);
    close(lease);
    sigprocmask(SIG_UNBLOCK, &io, nullptr);
}
