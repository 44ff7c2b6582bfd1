// Runs the built tool in a fresh folder with scripted standard input and checks
// the exact console bytes, the exit status and every file left behind.
// NONL_EXE names another build to run, NONL_LAUNCHER a program to run it with
// (NONL_EXE=build-win-x64/nonl.exe NONL_LAUNCHER=wine64 for the Windows build);
// a .exe is held to Windows' rules: CRLF on the console, a CR before an LF dropped with it.

#include "bytes.hpp"
#include "encoding.hpp"
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
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

const std::string P = texts::prompt;

// A message with the name in place of its %s.
std::string filled(const char* message, const std::string& name)
{
    std::string text = message;
    return text.replace(text.find("%s"), 2, name);
}

std::string ok(const std::string& name) { return filled(texts::copied, name); }
std::string cannotOpen(const std::string& name) { return filled(texts::openFailed, name); }
std::string cannotCreate(const std::string& name) { return filled(texts::createFailed, name); }
std::string cannotWrite(const std::string& name) { return filled(texts::writeFailed, name); }

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Every entry below root: a file's bytes, "<dir>" or "-> target" for a link.
using Tree = std::map<std::string, std::string>;

// Keeps a failure report readable: long contents stand as their size and hash.
Tree digested(Tree tree)
{
    for (auto& entry : tree) {
        std::string& bytes = entry.second;
        if (bytes.size() > 200)
            bytes = "<" + std::to_string(bytes.size()) + " bytes, hash " +
                    std::to_string(std::hash<std::string>()(bytes)) + ">";
    }
    return tree;
}

Tree snapshot(const fs::path& root)
{
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().lexically_relative(root).generic_string();
        if (entry.is_symlink())
            tree[name] = "-> " + fs::read_symlink(entry.path()).string();
        else if (entry.is_fifo())
            tree[name] = "<fifo>";
        else if (entry.is_directory())
            tree[name] = "<dir>";
        else
            tree[name] = readFile(entry.path());
    }
    return digested(tree);
}

std::string exePath()
{
    const char* exe = std::getenv("NONL_EXE");
    return fs::absolute(exe != nullptr ? exe : NONL_EXE).string();
}

bool onWindows()
{
    static const bool windows = [] {
        const std::string exe = exePath();
        return exe.size() > 4 && exe.compare(exe.size() - 4, 4, ".exe") == 0;
    }();
    return windows;
}

// Each line end as CRLF, as a terminal or Windows text mode writes it.
std::string withCrlf(const std::string& text)
{
    std::string crlf;
    for (char c : text)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return crlf;
}

// What the console shows.
std::string shown(const std::string& console) { return onWindows() ? withCrlf(console) : console; }

std::vector<std::string> command(const std::vector<std::string>& arguments = {})
{
    std::vector<std::string> words;
    if (const char* launcher = std::getenv("NONL_LAUNCHER")) {
        std::istringstream split(launcher);
        for (std::string word; split >> word;)
            words.push_back(word);
    }
    words.push_back(exePath());
    words.insert(words.end(), arguments.begin(), arguments.end());
    return words;
}

// How the tool is started besides its standard streams.
struct Start {
    std::vector<std::string> arguments;
    rlim_t fileSizeLimit = RLIM_INFINITY;
    std::string peakFile = {}; // where /usr/bin/time puts the tool's peak memory in KiB
    std::vector<std::pair<std::string, std::string>> environment = {};
    std::string console = {}; // where stdout goes instead of a file of the scratch folder
    bool errorsToConsole = false; // stderr into the same file, as 2>&1 does
    std::vector<std::string> runAs = {}; // a command that starts the tool as another user
    int seconds = 300; // until a tool that hangs is killed: a start under an emulator takes a minute
    rlim_t openFiles = RLIM_INFINITY; // how many files it may hold open
};

// Starts the tool in dir with the given descriptors as its standard streams,
// under umask 022 as a typical user.
pid_t start(const fs::path& dir, int in, int out, int err, const Start& how = {})
{
    std::vector<std::string> words = command(how.arguments);
    // Measured by a small parent: a child forked from this test inherits its size.
    if (!how.peakFile.empty())
        words.insert(words.begin(), {"/usr/bin/time", "-f", "%M", "-o", how.peakFile});
    words.insert(words.begin(), how.runAs.begin(), how.runAs.end());
    const pid_t pid = fork();
    if (pid == 0) {
        umask(022);
        // Wine takes arguments and file names in the locale's encoding: UTF-8, as Linux has them.
        if (onWindows())
            setenv("LC_ALL", "C.UTF-8", 1);
        const rlimit limit{how.fileSizeLimit, how.fileSizeLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
        if (how.openFiles != RLIM_INFINITY) {
            const rlimit files{how.openFiles, how.openFiles};
            setrlimit(RLIMIT_NOFILE, &files);
        }
        for (const auto& [name, value] : how.environment)
            setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv;
        for (const std::string& word : words)
            argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        if (chdir(dir.c_str()) == 0 && dup2(in, 0) >= 0 && dup2(out, 1) >= 0 && dup2(err, 2) >= 0)
            execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

struct Outcome {
    std::string console;
    std::string errors;
    int status = -1;
    long peakKiB = -1;
};

// The tool's exit status once it has ended. A tool that hangs is killed after seconds and fails
// its case instead of holding up every test after it.
int finish(pid_t pid, int seconds)
{
    int status = 0;
    for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; ++waited) {
        if (waited == seconds * 10) {
            ADD_FAILURE() << "the tool had not ended in time: killed";
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        usleep(100000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Reads what the tool writes to fd onto seen until done(seen) holds or, without done, until
// the tool has ended (left for finish to reap); false when seconds pass first or the tool ends
// short of done.
bool readUntil(int fd, std::string& seen, int seconds, const std::function<bool(const std::string&)>& done = {},
               pid_t tool = 0)
{
    char chunk[4096];
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);;) {
        if (done && done(seen))
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        siginfo_t ended{};
        const bool gone = tool != 0 && waitid(P_PID, static_cast<id_t>(tool), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                          ended.si_pid != 0;
        pollfd ready{fd, POLLIN, 0};
        const bool polled = poll(&ready, 1, gone ? 0 : 100) == 1;
        const ssize_t got = polled ? read(fd, chunk, sizeof chunk) : 0;
        if (got > 0)
            seen.append(chunk, static_cast<std::size_t>(got));
        else if (gone) // and all it wrote has been read
            return !done;
        else if (polled) // closed while the tool runs on
            usleep(100000);
    }
}

Outcome runTool(const fs::path& dir, const fs::path& scratch, const std::string& input, const Start& how = {})
{
    writeFile(scratch / "stdin", input);
    const int in = open((scratch / "stdin").c_str(), O_RDONLY);
    const std::string console = how.console.empty() ? (scratch / "stdout").string() : how.console;
    const int out = open(console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open((scratch / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t pid = start(dir, in, out, how.errorsToConsole ? out : err, how);
    const int status = finish(pid, how.seconds);
    close(in);
    close(out);
    close(err);
    Outcome run;
    run.console = readFile(scratch / "stdout");
    run.errors = readFile(scratch / "stderr");
    run.status = status;
    if (!how.peakFile.empty())
        run.peakKiB = std::atol(readFile(how.peakFile).c_str());
    return run;
}

class Console : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "nonl-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
        work = root / "work";
        scratch = root / "scratch";
        fs::create_directories(work);
        fs::create_directories(scratch);
    }
    void TearDown() override { fs::remove_all(root); }

    fs::path root, work, scratch;
};

struct Scenario {
    const char* name;
    Tree before;                             // files written into the folder first
    std::function<void(const fs::path&)> setup; // folders and links
    std::string input;
    std::string console;
    Tree after;                              // the whole folder afterwards
    bool linuxOnly = false;                  // limits, modes, links, devices, folders opened for reading
    Tree copiesOnWindows = {}; // where Windows drops CR before LF too
    rlim_t fileSizeLimit = RLIM_INFINITY;
    std::function<void(const fs::path&)> verify = {}; // what the tree cannot show
    bool windowsOnly = false;                         // Windows device names
};

const std::string longName = std::string(200, 'n') + ".txt";
const std::string deepFolder = std::string(69, 'a') + "/" + std::string(69, 'b') + "/" + std::string(69, 'c');
const std::string deepName = deepFolder + "/" + std::string(100, 'd') + ".txt";
const std::string bigText = [] {
    std::string text;
    for (int line = 0; text.size() < 600000; ++line)
        text += "line " + std::to_string(line) + " of a file larger than one block\n";
    return text;
}();

void mkdir(const fs::path& path) { fs::create_directories(path); }

// The folder emptied and given these files, in their folders.
void fill(const fs::path& dir, const Tree& files)
{
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const auto& [name, bytes] : files) {
        fs::create_directories((dir / name).parent_path());
        writeFile(dir / name, bytes);
    }
}

// Text in UTF-16 or UTF-32 after its byte-order mark, in either byte order.
template <typename Char>
std::string marked(const std::basic_string<Char>& text, bool bigEndian)
{
    std::string bytes;
    for (const Char c : Char(0xFEFF) + text)
        for (std::size_t b = 0; b < sizeof(Char); ++b)
            bytes += static_cast<char>(c >> 8 * (bigEndian ? sizeof(Char) - 1 - b : b) & 0xFF);
    return bytes;
}

fs::perms modeOf(const fs::path& path) { return fs::status(path).permissions(); }

// C:\Windows of the wine prefix the Windows builds run in.
fs::path windowsFolder()
{
    const char* prefix = std::getenv("WINEPREFIX");
    return fs::path(prefix != nullptr ? prefix : std::string(std::getenv("HOME")) + "/.wine") / "drive_c/windows";
}

const std::string smallText = bigText.substr(0, 700); // one write, kept in the stream buffer until closed
const std::string hugeWord(std::size_t{64} << 20, 'w');

// A sanitized build's tool needs far more memory for the sanitizer's own books.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
#else
constexpr bool sanitized = false;
#endif

const Scenario scenarios[] = {
    {"joins the lines of a file", {{"report.txt", "one\ntwo\n\nthree\n"}}, {},
     "report.txt\nq\n", P + ok("report.txt") + P,
     {{"report.txt", "one\ntwo\n\nthree\n"}, {"report.txt_noNl.txt", "onetwothree"}}},
    {"copies an empty file", {{"e.txt", ""}}, {}, "e.txt\nq\n", P + ok("e.txt") + P,
     {{"e.txt", ""}, {"e.txt_noNl.txt", ""}}},
    {"passes every byte but LF, CR and 0xFF included", {{"b.bin", everyByte() + "\r\n"}}, {},
     "b.bin\nq\n", P + ok("b.bin") + P,
     {{"b.bin", everyByte() + "\r\n"}, {"b.bin_noNl.txt", withoutLf(everyByte() + "\r")}}, false,
     {{"b.bin_noNl.txt", withoutLf(everyByte())}}},
    // Windows drops a CR right before an LF too, as its text mode reads a line end, but keeps
    // Ctrl-Z (0x1A) and all after it, where its text mode would stop.
    {"keeps the CRs of CRLF lines, which Windows drops with the LF",
     {{"w.txt", "a\r\nb\r\n"}, {"sub.txt", "abc\r\ndef\x1aghi\r\n"}, {"end.txt", "x\r\n\x1a"},
      {"cr.txt", "a\rb\r\r\nc\r"}},
     {}, "w.txt sub.txt end.txt cr.txt\nq\n", P + ok("w.txt") + P + ok("sub.txt") + P + ok("end.txt") + P + ok("cr.txt") + P,
     {{"w.txt", "a\r\nb\r\n"}, {"w.txt_noNl.txt", "a\rb\r"}, {"sub.txt", "abc\r\ndef\x1aghi\r\n"},
      {"sub.txt_noNl.txt", "abc\rdef\x1aghi\r"}, {"end.txt", "x\r\n\x1a"}, {"end.txt_noNl.txt", "x\r\x1a"},
      {"cr.txt", "a\rb\r\r\nc\r"}, {"cr.txt_noNl.txt", "a\rb\r\rc\r"}},
     false,
     {{"w.txt_noNl.txt", "ab"}, {"sub.txt_noNl.txt", "abcdef\x1aghi"}, {"end.txt_noNl.txt", "x\x1a"},
      {"cr.txt_noNl.txt", "a\rb\rc\r"}}},
    // Line ends are whole units after a UTF-16 or UTF-32 byte-order mark (U+4E0A holds 0x0A);
    // without a mark, bytes.
    {"leaves out the line ends of UTF-16 and UTF-32 text",
     {{"le.txt", marked(u"a\r\n\u4E0A\U0001F600\r\nend"s, false)},
      {"be.txt", marked(u"a\r\n\u4E0A\U0001F600\r\nend"s, true)},
      {"32.txt", marked(U"x\r\ny\n"s, false)}, {"no-mark.txt", "\0\n\0\n"s}},
     {}, "le.txt be.txt 32.txt no-mark.txt\nq\n",
     P + ok("le.txt") + P + ok("be.txt") + P + ok("32.txt") + P + ok("no-mark.txt") + P,
     {{"le.txt", marked(u"a\r\n\u4E0A\U0001F600\r\nend"s, false)},
      {"le.txt_noNl.txt", marked(u"a\r\u4E0A\U0001F600\rend"s, false)},
      {"be.txt", marked(u"a\r\n\u4E0A\U0001F600\r\nend"s, true)},
      {"be.txt_noNl.txt", marked(u"a\r\u4E0A\U0001F600\rend"s, true)},
      {"32.txt", marked(U"x\r\ny\n"s, false)}, {"32.txt_noNl.txt", marked(U"x\ry"s, false)},
      {"no-mark.txt", "\0\n\0\n"s}, {"no-mark.txt_noNl.txt", "\0\0"s}},
     false,
     {{"le.txt_noNl.txt", marked(u"a\u4E0A\U0001F600end"s, false)},
      {"be.txt_noNl.txt", marked(u"a\u4E0A\U0001F600end"s, true)}, {"32.txt_noNl.txt", marked(U"xy"s, false)}}},
    // Lists of names as Windows saves them: a UTF-8 mark is no part of the first name; each
    // name shows in the bytes it came in.
    {"reads lists of names in UTF-8, with a mark or without", {{"caf\xC3\xA9.txt", "c\n"}, {"\xCE\xA9.txt", "o\n"}},
     {}, "\xEF\xBB\xBF" "caf\xC3\xA9.txt \xCE\xA9.txt\nq\n",
     P + ok("caf\xC3\xA9.txt") + P + ok("\xCE\xA9.txt") + P,
     {{"caf\xC3\xA9.txt", "c\n"}, {"caf\xC3\xA9.txt_noNl.txt", "c"}, {"\xCE\xA9.txt", "o\n"},
      {"\xCE\xA9.txt_noNl.txt", "o"}}},
    // Without a mark, a word that is UTF-8 is taken so, any other in the ANSI code page (wine's: 1252).
    {"reads a list of names in UTF-16 and words in UTF-8 or the ANSI code page",
     {{"caf\xC3\xA9.txt", "c\n"}, {"\xCE\xA9.txt", "o\n"}}, {},
     marked(u"caf\u00E9.txt \u03A9.txt\r\nq\r\n"s, false) + "ignored\n",
     P + ok("caf\xC3\xA9.txt") + P + ok("\xCE\xA9.txt") + P,
     {{"caf\xC3\xA9.txt", "c\n"}, {"caf\xC3\xA9.txt_noNl.txt", "c"}, {"\xCE\xA9.txt", "o\n"},
      {"\xCE\xA9.txt_noNl.txt", "o"}}, false, {}, RLIM_INFINITY, {}, true},
    {"reads words in UTF-8 or the ANSI code page", {{"caf\xC3\xA9.txt", "c\n"}, {"\xCE\xA9.txt", "o\n"}}, {},
     "caf\xE9.txt \xCE\xA9.txt\nq\n", P + ok("caf\xE9.txt") + P + ok("\xCE\xA9.txt") + P,
     {{"caf\xC3\xA9.txt", "c\n"}, {"caf\xC3\xA9.txt_noNl.txt", "c"}, {"\xCE\xA9.txt", "o\n"},
      {"\xCE\xA9.txt_noNl.txt", "o"}}, false, {}, RLIM_INFINITY, {}, true},
    // Device names open devices on Windows, whatever file has that name; COM3 is never even opened.
    {"refuses Windows device names and goes on", {{"real.txt", "r\n"}}, {},
     "NUL AUX COM1 COM3 CONIN$ CON \\\\.\\pipe\\x real.txt\nq\n",
     P + cannotOpen("NUL") + P + cannotOpen("AUX") + P + cannotOpen("COM1") + P + cannotOpen("COM3") + P +
         cannotOpen("CONIN$") + P + cannotOpen("CON") + P + cannotOpen("\\\\.\\pipe\\x") + P + ok("real.txt") + P,
     {{"real.txt", "r\n"}, {"real.txt_noNl.txt", "r"}}, false, {}, RLIM_INFINITY, {}, true},
    // cmd writes its own commands' output (dir /b) in the OEM code page: 0x82 is \u00E9 in wine's 437.
    {"reads a piped name in the OEM code page where only that names a file", {{"oem-caf\xC3\xA9.txt", "c\n"}}, {},
     "oem-caf\x82.txt\nq\n", P + ok("oem-caf\x82.txt") + P,
     {{"oem-caf\xC3\xA9.txt", "c\n"}, {"oem-caf\xC3\xA9.txt_noNl.txt", "c"}}, false, {}, RLIM_INFINITY, {}, true},
    // The 32-bit build on 64-bit Windows (and wine) sees SysWOW64 as System32 unless it asks not to.
    {"copies the file of System32 that is named, also from the 32-bit build", {},
     [](const fs::path&) {
         writeFile(windowsFolder() / "system32/nonl-redirect.txt", "64-bit\n");
         if (fs::exists(windowsFolder() / "syswow64"))
             writeFile(windowsFolder() / "syswow64/nonl-redirect.txt", "32-bit\n");
     },
     "C:\\Windows\\System32\\nonl-redirect.txt\nq\n", P + ok("C:\\Windows\\System32\\nonl-redirect.txt") + P, {},
     false, {}, RLIM_INFINITY,
     [](const fs::path&) {
         EXPECT_EQ(readFile(windowsFolder() / "system32/nonl-redirect.txt_noNl.txt"), "64-bit");
         EXPECT_FALSE(fs::exists(windowsFolder() / "syswow64/nonl-redirect.txt_noNl.txt"));
         for (const char* made : {"system32/nonl-redirect.txt", "system32/nonl-redirect.txt_noNl.txt",
                                  "syswow64/nonl-redirect.txt", "syswow64/nonl-redirect.txt_noNl.txt"})
             fs::remove(windowsFolder() / made);
     },
     true},
    // Wine keeps a DACL as the file's mode: the input's, owner only, shuts others out of the copy too.
    {"gives the copy of a private file its input's DACL", {{"mine.txt", "m\n"}},
     [](const fs::path& d) { fs::permissions(d / "mine.txt", fs::perms::owner_read | fs::perms::owner_write); },
     "mine.txt\nq\n", P + ok("mine.txt") + P, {{"mine.txt", "m\n"}, {"mine.txt_noNl.txt", "m"}}, false, {},
     RLIM_INFINITY,
     [](const fs::path& d) {
         EXPECT_EQ(modeOf(d / "mine.txt_noNl.txt") & fs::perms::others_all, fs::perms::none);
     },
     true},
    {"copies a file larger than a block", {{"big.txt", bigText}}, {}, "big.txt\nq\n",
     P + ok("big.txt") + P, {{"big.txt", bigText}, {"big.txt_noNl.txt", withoutLf(bigText)}}},
    {"truncates an earlier output", {{"a.txt", "a\n"}, {"a.txt_noNl.txt", "much longer old output"}},
     {}, "a.txt\nq\n", P + ok("a.txt") + P, {{"a.txt", "a\n"}, {"a.txt_noNl.txt", "a"}}},
    {"takes an earlier output as a new input", {{"x_noNl.txt", "x"}}, {}, "x_noNl.txt\nq\n",
     P + ok("x_noNl.txt") + P, {{"x_noNl.txt", "x"}, {"x_noNl.txt_noNl.txt", "x"}}},
    {"quits on q without opening a file of that name", {{"q", "q\n"}}, {}, "q\na.txt\n", P,
     {{"q", "q\n"}}},
    {"takes a quoted q as a file name", {{"q", "q\n"}}, {}, "\"q\"\nq\n", P + ok("q") + P,
     {{"q", "q\n"}, {"q_noNl.txt", "q"}}},
    {"takes Q and quit as file names", {{"Q", "Q\n"}}, {}, "Q\nquit\nq\n",
     P + ok("Q") + P + cannotOpen("quit") + P, {{"Q", "Q\n"}, {"Q_noNl.txt", "Q"}}},
    {"reports a missing file and asks again", {}, {}, "missing.txt\nq\n",
     P + cannotOpen("missing.txt") + P, {}},
    {"keeps waiting through empty lines", {{"a", "1\n"}}, {}, "\n\n  \t\n a \nq\n",
     P + ok("a") + P, {{"a", "1\n"}, {"a_noNl.txt", "1"}}},
    {"handles two names on one line in two passes", {{"a", "1\n"}, {"b", "2\n"}}, {}, "a b\nq\n",
     P + ok("a") + P + ok("b") + P, {{"a", "1\n"}, {"a_noNl.txt", "1"}, {"b", "2\n"}, {"b_noNl.txt", "2"}}},
    {"writes beside an input in a folder", {{"sub/in.txt", "x\ny\n"}}, {}, "sub/in.txt\nq\n",
     P + ok("sub/in.txt") + P, {{"sub", "<dir>"}, {"sub/in.txt", "x\ny\n"}, {"sub/in.txt_noNl.txt", "xy"}}},
    {"handles a 200-character name", {{longName, "l\nl\n"}}, {}, longName + "\nq\n",
     P + ok(longName) + P, {{longName, "l\nl\n"}, {longName + "_noNl.txt", "ll"}}},
    // Over 260 characters with its folder: Windows opens it by its full path after \\?\.
    {"copies a file whose path is longer than 300 characters", {{deepName, "d\ne\n"}}, {}, deepName + "\nq\n",
     P + ok(deepName) + P, {{deepName, "d\ne\n"}, {deepName + "_noNl.txt", "de"}, {deepFolder, "<dir>"},
     {deepFolder.substr(0, 139), "<dir>"}, {deepFolder.substr(0, 69), "<dir>"}}},
    {"ends at the end of input after a last name without a line end", {{"a", "1\n"}}, {}, "a",
     P + ok("a") + P, {{"a", "1\n"}, {"a_noNl.txt", "1"}}},
    {"ends on empty input", {}, {}, "", P, {}},
    {"refuses a name holding a NUL byte", {{"keep.txt", "keep\n"}}, {},
     std::string("keep.txt\0b\nq\n", 13), P + cannotOpen("keep.txt") + P, {{"keep.txt", "keep\n"}}},
    {"refuses a folder as input", {}, [](const fs::path& d) { mkdir(d / "dir"); }, "dir\nq\n",
     P + cannotOpen("dir") + P, {{"dir", "<dir>"}}, true},
    {"reports an output that cannot be created",
     {{"made.txt", "a\n"}}, [](const fs::path& d) { mkdir(d / "made.txt_noNl.txt"); }, "made.txt\nq\n",
     P + cannotCreate("made.txt_noNl.txt") + P, {{"made.txt", "a\n"}, {"made.txt_noNl.txt", "<dir>"}}},
    {"refuses an output that is a symbolic link to the input", {{"soft.txt", "keep\n"}},
     [](const fs::path& d) { fs::create_symlink("soft.txt", d / "soft.txt_noNl.txt"); }, "soft.txt\nq\n",
     P + cannotCreate("soft.txt_noNl.txt") + P, {{"soft.txt", "keep\n"}, {"soft.txt_noNl.txt", "-> soft.txt"}}, true},
    {"refuses an output that is a hard link to the input", {{"hard.txt", "keep\n"}},
     [](const fs::path& d) { fs::create_hard_link(d / "hard.txt", d / "hard.txt_noNl.txt"); }, "hard.txt\nq\n",
     P + cannotCreate("hard.txt_noNl.txt") + P, {{"hard.txt", "keep\n"}, {"hard.txt_noNl.txt", "keep\n"}}},
    // The limit holds for the console's file too, which stays far below it.
    {"reports a write that fails only when a small output is closed", {{"a.txt", smallText}}, {}, "a.txt\nq\n",
     P + cannotWrite("a.txt_noNl.txt") + P, {{"a.txt", smallText}, {"a.txt_noNl.txt", withoutLf(smallText).substr(0, 400)}},
     true, {}, 400},
    {"refuses outputs that are devices, FIFOs, or links, even to another file",
     {{"dev", "d\n"}, {"fifo", "f\n"}, {"dangling", "x\n"}, {"loop", "l\n"}, {"other", "o\n"}, {"else", "e\n"}},
     [](const fs::path& d) {
         fs::create_symlink("else", d / "other_noNl.txt");
         fs::create_symlink("/dev/null", d / "dev_noNl.txt");
         ASSERT_EQ(mkfifo((d / "fifo_noNl.txt").c_str(), 0644), 0);
         fs::create_symlink("elsewhere", d / "dangling_noNl.txt");
         fs::create_symlink("loop_noNl.txt", d / "loop_noNl.txt");
     },
     "dev fifo dangling loop other\nq\n",
     P + cannotCreate("dev_noNl.txt") + P + cannotCreate("fifo_noNl.txt") + P + cannotCreate("dangling_noNl.txt") +
         P + cannotCreate("loop_noNl.txt") + P + cannotCreate("other_noNl.txt") + P,
     {{"other", "o\n"}, {"else", "e\n"}, {"other_noNl.txt", "-> else"},
      {"dev", "d\n"}, {"dev_noNl.txt", "-> /dev/null"}, {"fifo", "f\n"}, {"fifo_noNl.txt", "<fifo>"},
      {"dangling", "x\n"}, {"dangling_noNl.txt", "-> elsewhere"}, {"loop", "l\n"}, {"loop_noNl.txt", "-> loop_noNl.txt"}},
     true},
    {"refuses a device that never ends and a FIFO that waits for a writer as input", {},
     [](const fs::path& d) {
         fs::create_symlink("/dev/zero", d / "z");
         ASSERT_EQ(mkfifo((d / "p").c_str(), 0644), 0);
     },
     // The limit ends a copy of /dev/zero quickly, should one start.
     "z p\nq\n", P + cannotOpen("z") + P + cannotOpen("p") + P, {{"z", "-> /dev/zero"}, {"p", "<fifo>"}}, true, {},
     100000},
    {"ends a copy over the file-size limit with a message and goes on", {{"big.txt", bigText}, {"s.txt", "s\n"}},
     {}, "big.txt s.txt q\n", P + cannotWrite("big.txt_noNl.txt") + P + ok("s.txt") + P,
     {{"big.txt", bigText}, {"big.txt_noNl.txt", withoutLf(bigText).substr(0, 500000)}, {"s.txt", "s\n"},
      {"s.txt_noNl.txt", "s"}}, true, {}, 500000},
    {"gives a new copy no permission its input lacks and leaves an old copy's alone",
     {{"private.txt", "p\n"}, {"shared.txt", "s\n"}, {"shared.txt_noNl.txt", "old"}, {"run.sh", "r\n"}},
     [](const fs::path& d) {
         fs::permissions(d / "run.sh", fs::perms::all);
         fs::permissions(d / "private.txt", fs::perms::owner_read | fs::perms::owner_write);
         fs::permissions(d / "shared.txt", fs::perms::owner_read | fs::perms::owner_write);
         fs::permissions(d / "shared.txt_noNl.txt", fs::perms::owner_all | fs::perms::others_read);
     },
     "private.txt shared.txt run.sh q\n", P + ok("private.txt") + P + ok("shared.txt") + P + ok("run.sh") + P,
     {{"private.txt", "p\n"}, {"private.txt_noNl.txt", "p"}, {"shared.txt", "s\n"}, {"shared.txt_noNl.txt", "s"},
      {"run.sh", "r\n"}, {"run.sh_noNl.txt", "r"}},
     true, {}, RLIM_INFINITY,
     [](const fs::path& d) {
         const fs::perms readWrite = fs::perms::owner_read | fs::perms::owner_write;
         EXPECT_EQ(modeOf(d / "run.sh_noNl.txt"), readWrite | fs::perms::group_read | fs::perms::others_read);
         EXPECT_EQ(modeOf(d / "private.txt_noNl.txt"), fs::perms::owner_read | fs::perms::owner_write);
         EXPECT_EQ(modeOf(d / "shared.txt_noNl.txt"), fs::perms::owner_all | fs::perms::others_read);
     }},
    // Scripts see the exact name; only a terminal is spared its escape sequences.
    {"says a name holding escape sequences byte for byte into a file", {{"\x1b]0;owned\a\x1b[2J.txt", "e\n"}}, {},
     "\x1b]0;owned\a\x1b[2J.txt\nq\n", P + ok("\x1b]0;owned\a\x1b[2J.txt") + P,
     {{"\x1b]0;owned\a\x1b[2J.txt", "e\n"}, {"\x1b]0;owned\a\x1b[2J.txt_noNl.txt", "e"}}, true},
    {"takes a quoted name with blanks", {{"New Text Document.txt", "a\nb\n"}}, {},
     "\"New Text Document.txt\"\nq\n", P + ok("New Text Document.txt") + P,
     {{"New Text Document.txt", "a\nb\n"}, {"New Text Document.txt_noNl.txt", "ab"}}},
    {"takes a pasted quoted path with folders and a dragged name in single quotes",
     {{"my dir/sub/notes.txt", "n\n"}, {"it's here.txt", "i\n"}}, {},
     "\"my dir/sub/notes.txt\" \"it's here.txt\"\n'my dir/sub/notes.txt' \nq\n",
     P + ok("my dir/sub/notes.txt") + P + ok("it's here.txt") + P + ok("my dir/sub/notes.txt") + P,
     {{"my dir", "<dir>"}, {"my dir/sub", "<dir>"}, {"my dir/sub/notes.txt", "n\n"},
      {"my dir/sub/notes.txt_noNl.txt", "n"}, {"it's here.txt", "i\n"}, {"it's here.txt_noNl.txt", "i"}}},
    // As terminals and ls paste names on Linux; on Windows a backslash separates folders.
    {"takes names quoted as a shell quotes them", {{"it's here.txt", "i\n"}, {"my notes.txt", "m\n"}}, {},
     "'it'\\''s here.txt' my\\ notes.txt\nq\n", P + ok("it's here.txt") + P + ok("my notes.txt") + P,
     {{"it's here.txt", "i\n"}, {"it's here.txt_noNl.txt", "i"}, {"my notes.txt", "m\n"}, {"my notes.txt_noNl.txt", "m"}},
     true},
    {"joins quoted parts around a backslash into one path", {{"My Documents/a b.txt", "a\n"}}, {},
     "\"My Documents\"\\\"a b.txt\"\nq\n", P + ok("My Documents\\a b.txt") + P,
     {{"My Documents", "<dir>"}, {"My Documents/a b.txt", "a\n"}, {"My Documents/a b.txt_noNl.txt", "a"}}, false, {},
     RLIM_INFINITY, {}, true},
    {"reads an unclosed quote as part of the name", {{"a", "1\n"}}, {}, "\"odd.txt a\nq\n",
     P + cannotOpen("\"odd.txt") + P + ok("a") + P, {{"a", "1\n"}, {"a_noNl.txt", "1"}}},
    // A file named as the start it shows is not opened either.
    {"shows only the start of a 64 MiB word and goes on", {{"a", "1\n"}, {std::string(64, 'w') + "...", "w\n"}}, {},
     hugeWord + " a\nq\n", P + cannotOpen(std::string(64, 'w') + "...") + P + ok("a") + P,
     {{"a", "1\n"}, {"a_noNl.txt", "1"}, {std::string(64, 'w') + "...", "w\n"}}, false, {}, RLIM_INFINITY},
    {"takes a word at the limit as a name, shows only the start of one longer and goes on",
     {{"after-long.txt", "still\nhere\n"}}, {},
     std::string(texts::longestName, 'y') + " " + std::string(texts::longestName + 1, 'z') + " after-long.txt\nq\n",
     P + cannotOpen(std::string(texts::longestName, 'y')) + P + cannotOpen(std::string(64, 'z') + "...") + P +
         ok("after-long.txt") + P,
     {{"after-long.txt", "still\nhere\n"}, {"after-long.txt_noNl.txt", "stillhere"}}},
};

bool runsHere(const Scenario& scenario)
{
    return !(scenario.linuxOnly && onWindows()) && !(scenario.windowsOnly && !onWindows());
}

Tree afterHere(const Scenario& scenario)
{
    Tree after = scenario.after;
    if (onWindows())
        for (const auto& [name, bytes] : scenario.copiesOnWindows)
            after.at(name) = bytes;
    return after;
}

void play(const Scenario& scenario, const fs::path& work, const fs::path& scratch)
{
    fill(work, scenario.before);
    if (scenario.setup)
        scenario.setup(work);

    // Words of any length pass through a small, fixed amount of memory.
    const bool measure = scenario.input.size() > hugeWord.size() && !onWindows() && !sanitized;
    const Outcome run = runTool(work, scratch, scenario.input,
                                {{}, scenario.fileSizeLimit, measure ? (scratch / "peak").string() : ""});
    EXPECT_EQ(run.console, shown(scenario.console));
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(snapshot(work), digested(afterHere(scenario)));
    if (scenario.verify)
        scenario.verify(work);
    if (measure) {
        EXPECT_GT(run.peakKiB, 0);
        EXPECT_LT(run.peakKiB, 16 * 1024);
    }
}

// UTF-8 text as UTF-16LE after its byte-order mark.
std::string utf16le(const std::string& utf8)
{
    std::u16string units;
    for (std::size_t at = 0; at < utf8.size();) {
        const unsigned char lead = static_cast<unsigned char>(utf8[at]);
        const int more = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        char32_t c = more == 0 ? lead : lead & (0x3F >> more);
        for (int k = 1; k <= more; ++k)
            c = c << 6 | (utf8[at + k] & 0x3F);
        at += 1 + more;
        if (c > 0xFFFF)
            units += {char16_t(0xD800 + ((c - 0x10000) >> 10)), char16_t(0xDC00 + (c & 0x3FF))};
        else
            units += char16_t(c);
    }
    return marked(units, false);
}

// Whether two names name one file: Windows ignores case.
bool sameName(const std::string& a, const std::string& b)
{
    return onWindows() ? std::equal(a.begin(), a.end(), b.begin(), b.end(),
                                    [](char x, char y) { return std::tolower(x) == std::tolower(y); })
                       : a == b;
}

// A pseudo-terminal: what the tool draws arrives at screen; tool is its end for the tool.
bool openTerminal(int& screen, int& tool)
{
    screen = posix_openpt(O_RDWR | O_NOCTTY);
    if (screen < 0 || grantpt(screen) != 0 || unlockpt(screen) != 0)
        return false;
    tool = open(ptsname(screen), O_RDWR | O_NOCTTY);
    return tool >= 0;
}

// The screen a terminal shows for what was drawn on it: escape sequences gone but a cursor
// move right (wine draws blanks so), and no CR.
std::string screenOf(const std::string& drawn)
{
    std::string screen;
    for (std::size_t at = 0; at < drawn.size(); ++at) {
        if (drawn[at] == '\x1b' && at + 1 < drawn.size() && drawn[at + 1] == '[') {
            std::size_t end = at + 2;
            while (end < drawn.size() && (drawn[end] < 0x40 || drawn[end] > 0x7E))
                ++end;
            if (end < drawn.size() && drawn[end] == 'C')
                screen.append(std::max(1, std::atoi(drawn.c_str() + at + 2)), ' ');
            at = end;
        } else if (drawn[at] == '\x1b' && at + 1 < drawn.size() && drawn[at + 1] == ']') {
            at = drawn.find('\x07', at); // a window title
        } else if (drawn[at] == '\x1b') {
            ++at;
        } else if (drawn[at] != '\r') {
            screen += drawn[at];
        }
        if (at == std::string::npos)
            break;
    }
    return screen;
}

} // namespace

TEST_F(Console, Scenarios)
{
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        if (runsHere(scenario))
            play(scenario, work, scratch);
    }
}

// Where each start takes tens of seconds (the 32-bit build under an emulator), this is the
// table's test: the rows that end at q run one after another in as few starts as may be, for
// each way a list of names is saved. Rows share a start only where no file of one is another's
// with other bytes.
TEST_F(Console, ScenariosInOneStart)
{
    const std::string utf8Mark = "\xEF\xBB\xBF";
    for (const char* list : {"UTF-8", "UTF-8 with a mark", "UTF-16LE"}) {
        SCOPED_TRACE("a list of names in "s + list);
        const bool plain = list == "UTF-8"s, utf16 = list == "UTF-16LE"s;
        if (utf16 && !onWindows())
            continue; // read as bytes elsewhere
        std::vector<std::pair<Scenario, std::vector<const Scenario*>>> starts;
        for (const Scenario& row : scenarios) {
            std::string input = row.input.compare(0, 3, utf8Mark) == 0 ? row.input.substr(3) : row.input;
            const bool endsAtQ = input.size() >= 2 && input.compare(input.size() - 2, 2, "q\n") == 0;
            const bool utf8 = isUtf8BeyondAscii(input) || std::all_of(input.begin(), input.end(), [](char c) {
                                  return static_cast<unsigned char>(c) < 0x80;
                              });
            // A large input would take minutes through an emulator.
            if (!runsHere(row) || !endsAtQ || row.fileSizeLimit != RLIM_INFINITY || input.size() > (1 << 20) ||
                (!plain && !utf8))
                continue;
            const Tree after = afterHere(row);
            const auto fits = [&](const Scenario& all) {
                for (const auto& [from, into] : {std::pair{&row.before, &all.before}, {&after, &all.after}})
                    for (const auto& [name, bytes] : *from)
                        for (const auto& [other, otherBytes] : *into)
                            if (sameName(name, other) && (name != other || bytes != otherBytes))
                                return false;
                return true;
            };
            auto start = std::find_if(starts.begin(), starts.end(), [&](const auto& s) { return fits(s.first); });
            if (start == starts.end() && !plain && !starts.empty())
                continue; // each start costs a minute under an emulator: the plain list has this row
            if (start == starts.end())
                start = starts.insert(start, {Scenario{"", {}, {}, "", P, {}}, {}});
            Scenario& all = start->first;
            all.input += input.substr(0, input.size() - 2);
            all.console += row.console.substr(P.size());
            all.before.insert(row.before.begin(), row.before.end());
            all.after.insert(after.begin(), after.end());
            start->second.push_back(&row);
        }
        for (auto& [all, rows] : starts) {
            // A name after q is never read: nothing is called never.txt.
            all.input += "q\nnever.txt\n";
            // Lists saved with a mark come from Windows tools, with CRLF line ends.
            all.input = plain ? all.input
                              : utf16 ? utf16le(withCrlf(all.input))
                                      : utf8Mark + withCrlf(all.input);
            // Each row's step of this kind, in turn.
            const auto everyRow = [&rows = rows](std::function<void(const fs::path&)> Scenario::*step) {
                return [rows, step](const fs::path& dir) {
                    for (const Scenario* row : rows)
                        if (row->*step)
                            (row->*step)(dir);
                };
            };
            all.setup = everyRow(&Scenario::setup);
            all.verify = everyRow(&Scenario::verify);
            play(all, work, scratch);
        }
    }
}

// Each read of big.txt stops at failAt and fails from there with EIO, as on a
// failing disk (tests/failing_read.c, preloaded): the copy must hold every byte
// before that point but its LFs, and the tool must say it could not read.
TEST_F(Console, KeepsEveryByteReadBeforeAReadErrorAndSaysSo)
{
#ifdef NONL_FAIL_READ_LIB
    if (onWindows())
        GTEST_SKIP() << "a Windows build cannot be preloaded with a Linux library";
    const std::string text = bigText.substr(0, 300000);
    // At the first byte, around a 128 KiB block, and the edges of the file.
    for (const std::size_t failAt : {0, 1, 8191, 100000, 131071, 131072, 299999}) {
        SCOPED_TRACE("reads fail from byte " + std::to_string(failAt));
        fill(work, {{"big.txt", text}});
        const Outcome run = runTool(work, scratch, "big.txt\nq\n",
                                    {{}, RLIM_INFINITY, "",
                                     {{"LD_PRELOAD", NONL_FAIL_READ_LIB}, {"NONL_FAIL_READ_FILE", "big.txt"},
                                      {"NONL_FAIL_READ_AFTER", std::to_string(failAt)},
                                      {"ASAN_OPTIONS", "verify_asan_link_order=0"}}});
        // A file that gives not a byte is one that cannot be opened: no copy is made.
        Tree after{{"big.txt", text}};
        if (failAt > 0)
            after["big.txt_noNl.txt"] = withoutLf(text.substr(0, failAt));
        EXPECT_EQ(snapshot(work), digested(after));
        EXPECT_EQ(run.errors, "");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.console, P + (failAt > 0 ? filled(texts::readFailed, "big.txt") : cannotOpen("big.txt")) + P);
    }
#else
    GTEST_SKIP() << "no library to make reads fail on this system";
#endif
}

// A copy that takes seconds shows how far it has come on a terminal's standard error, where
// the cursor stands at a line's start: never after a prompt, which it would take away. The
// screen ends as it would without it; no control character of a name reaches the terminal.
TEST_F(Console, ShowsProgressOnATerminalDuringALongCopy)
{
#ifdef NONL_FAIL_READ_LIB
    if (onWindows())
        GTEST_SKIP() << "a Windows build cannot be preloaded with a Linux library";
    const std::string big = std::string(6 << 20, 'x') + "\n", msg = withCrlf(ok("big.txt"));
    const std::string cjk = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE5\x90\x8D\xE5\x89\x8D.txt";
    fill(work, {{"big.txt", big}, {cjk, big}, {"\x1b]0;owned\a\x1b[2J.txt", "e\n"}});
    writeFile(scratch / "typed", "big.txt\nq\n");
    // The tool started with these arguments, each read of the file slow taking 300 ms.
    const auto slowly = [](const std::vector<std::string>& arguments, const std::string& slow) {
        Start how{arguments};
        how.environment = {{"LD_PRELOAD", NONL_FAIL_READ_LIB}, {"NONL_FAIL_READ_FILE", slow},
                           {"NONL_READ_DELAY_MS", "300"}, {"ASAN_OPTIONS", "verify_asan_link_order=0"}};
        return how;
    };
    // Cells a terminal gives these lines: two for each of the CJK characters, one for ASCII.
    const auto cells = [](const std::string& line) {
        return std::count_if(line.begin(), line.end(), [](char c) { return (c & 0x80) == 0; }) +
               2 * std::count_if(line.begin(), line.end(), [](char c) { return (c & 0xF0) == 0xE0; });
    };
    const struct {
        const char* what;
        std::vector<std::string> arguments; // none: names typed
        std::string typed;                  // at the terminal after the first prompt; none: from a file
        std::string slow;                   // the file read slowly
        bool progress;                      // a progress line is drawn
        std::string after;                  // the screen after the last progress line, or all of it
    } cases[] = {
        {"a name given as an argument", {"big.txt"}, "", "big.txt", true, msg},
        {"a CJK name on a narrow terminal", {cjk}, "", cjk, true, withCrlf(ok(cjk))},
        {"typed names from a file: none", {}, "", "big.txt", false, P + msg + P},
        {"two names typed on one line: none, both prompts stay", {}, "big.txt big.txt\n\x04", "big.txt", false,
         P + "big.txt big.txt\r\n" + msg + P + msg + P + "\r\n"},
        {"a name ended by Ctrl-D: none, and the tool ends the line", {}, "big.txt\x04\x04", "big.txt", false,
         P + "big.txt" + msg + P + "\r\n"},
        // The next line is shown as it is typed, before its prompt: none for it.
        {"a name alone on its line, and one typed ahead", {}, "big.txt\nbig.txt\n\x04", "big.txt", true,
         msg + P + msg + P + "\r\n"},
        {"escape sequences in a name", {"\x1b]0;owned\a\x1b[2J.txt"}, "", "big.txt", false,
         withCrlf(ok("?]0;owned??[2J.txt"))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int terminal = -1, tool = -1;
        ASSERT_TRUE(openTerminal(terminal, tool));
        const winsize narrow{3, 20, 0, 0}; // a line wider than the terminal would wrap
        ASSERT_EQ(ioctl(terminal, TIOCSWINSZ, &narrow), 0);
        const bool atTerminal = c.arguments.empty() && !c.typed.empty();
        const int names = atTerminal ? tool : open(c.arguments.empty() ? (scratch / "typed").c_str() : "/dev/null", O_RDONLY);
        const pid_t pid = start(work, names, tool, tool, slowly(c.arguments, c.slow));
        close(tool);
        if (!atTerminal)
            close(names);
        std::string raw;
        if (atTerminal) {
            EXPECT_TRUE(readUntil(terminal, raw, 60, [](const std::string& seen) { return seen == P; }, pid));
            ASSERT_EQ(write(terminal, c.typed.data(), c.typed.size()), static_cast<ssize_t>(c.typed.size()));
        }
        EXPECT_TRUE(readUntil(terminal, raw, 120, {}, pid));
        EXPECT_EQ(finish(pid, 0), 0);
        close(terminal);
        // Each line is drawn as CR, ESC [ K (erase the line) and the text, which must fit.
        for (std::size_t at = raw.find("\x1b[K"); at != std::string::npos; at = raw.find("\x1b[K", at + 1))
            EXPECT_LT(cells(raw.substr(at + 3, raw.find('\r', at) - at - 3)), 20) << "wider than the terminal: " << raw.substr(at);
        const std::size_t erased = raw.rfind("\r\x1b[K");
        EXPECT_EQ(erased != std::string::npos, c.progress) << raw;
        EXPECT_EQ(raw.substr(erased == std::string::npos ? 0 : erased + 4), c.after);
    }
    const Outcome run = runTool(work, scratch, "", slowly({"big.txt"}, "big.txt"));
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.console, ok("big.txt"));
#else
    GTEST_SKIP() << "no library to make reads slow on this system";
#endif
}

// Names typed at a Windows console, which wine gives the tool when its standard streams are
// a terminal: the console is read in UTF-16, 1023 units at a time.
TEST_F(Console, TakesNamesTypedAtAWindowsConsole)
{
    if (!onWindows())
        GTEST_SKIP() << "a terminal is a stream of bytes to the Linux build, as tested above";
    const std::string cafe = "caf\xC3\xA9.txt", omega = "\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1.txt",
                      nihongo = "\xE6\x97\xA5\xE6\x9C\xAC \xE8\xAA\x9E.txt", smile = "\xF0\x9F\x98\x80.txt";
    const auto line = [](const std::string& message) { return message.substr(1, message.size() - 3); };
    const struct {
        const char* name;
        Tree before;
        std::vector<std::string> typed;
        std::optional<std::vector<std::string>> messages; // the lines that start with a message
        Tree added;
    } cases[] = {
        {"names in three scripts, one with a blank", {{cafe, "caf\ne\n"}, {omega, "o\nm\r\ne\n"}, {nihongo, "ni\nhon\n"}},
         {cafe, omega, '"' + nihongo + '"', "q"}, {{line(ok(cafe)), line(ok(omega)), line(ok(nihongo))}},
         {{cafe + "_noNl.txt", "cafe"}, {omega + "_noNl.txt", "ome"}, {nihongo + "_noNl.txt", "nihon"}}},
        // Opened as files, these would read the keyboard and swallow all that is typed after them.
        {"the console's own names are refused, even with a real con.txt, and q still ends the tool",
         {{"con.txt", "c\n"}}, {"CON", "CONIN$", "con.txt", "q"},
         {{line(cannotOpen("CON")), line(cannotOpen("CONIN$")), line(cannotOpen("con.txt"))}}, {}},
        // Wine draws a character beyond U+FFFF as two replacement characters: the copy tells.
        {"a character beyond U+FFFF split between two console reads", {{smile, "e\n"}},
         {std::string(1022, ' ') + smile, "q"}, {}, {{smile + "_noNl.txt", "e"}}},
        {"Ctrl-Z then Enter ends the tool as q does", {{cafe, "c\n"}}, {"\x1a"}, {{}}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fill(work, c.before);
        int terminal = -1, tool = -1;
        ASSERT_TRUE(openTerminal(terminal, tool));
        // Raw from the start: an Enter typed before wine has set up its console would reach it as
        // LF, which the console takes as Ctrl-J. A fixed TERM keeps the screen the same anywhere.
        termios raw{};
        tcgetattr(tool, &raw);
        cfmakeraw(&raw);
        tcsetattr(tool, TCSANOW, &raw);
        const pid_t pid = start(work, tool, tool, tool, {{}, RLIM_INFINITY, "", {{"TERM", "xterm"}}});
        close(tool);
        std::string drawn;
        const auto promptsOn = [](const std::string& screen) {
            std::size_t seen = 0;
            for (std::size_t at = screen.find(P); at != std::string::npos; at = screen.find(P, at + 1))
                ++seen;
            return seen;
        };
        const auto prompts = [&](std::size_t count) {
            return [&, count](const std::string& drawn) { return promptsOn(screenOf(drawn)) >= count; };
        };
        for (std::size_t count = 1; count <= c.typed.size(); ++count) {
            if (!readUntil(terminal, drawn, count == 1 ? 300 : 60, prompts(count), pid)) {
                ADD_FAILURE() << "no prompt before typing " << c.typed[count - 1];
                break;
            }
            const std::string typed = c.typed[count - 1] + "\r";
            ASSERT_EQ(write(terminal, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
        }
        readUntil(terminal, drawn, 60, {}, pid);
        const int status = finish(pid, 0);
        close(terminal);
        const std::string screen = screenOf(drawn);
        EXPECT_EQ(status, 0) << screen;
        EXPECT_EQ(promptsOn(screen), c.typed.size()) << screen;
        if (c.messages) {
            std::vector<std::string> messages;
            std::istringstream lines(screen);
            for (std::string text; std::getline(lines, text);)
                if (text.rfind("Successfully", 0) == 0 || text.rfind("Unable", 0) == 0)
                    messages.push_back(text);
            EXPECT_EQ(messages, *c.messages) << screen;
        }
        Tree after = c.before;
        after.insert(c.added.begin(), c.added.end());
        EXPECT_EQ(snapshot(work), digested(after)) << screen;
    }
}

const std::string helpStart = "Usage: nonl [OPTION]... [NAME]...\n";

// Names as arguments: success on stdout, failures on stderr, and a status that tells.
TEST_F(Console, CopiesTheNamesGivenAsArguments)
{
    const Tree files{{"a.txt", "a\n"}, {"b c.txt", "b\nc\n"}, {"-d.txt", "d\n"}, {"q", "q\n"}, {"caf\xC3\xA9 \xCE\xA9.txt", "\xCE\xA9\n"}};
    // A redirected Windows message shows the name in the ANSI code page (wine's is 1252),
    // with "?" for what it lacks.
    const std::string cafeShown = onWindows() ? "caf\xE9 ?.txt" : "caf\xC3\xA9 \xCE\xA9.txt";
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        std::string console;
        std::string errors;
        int status;
        Tree added;
    } cases[] = {
        {"copies each name", {"a.txt", "b c.txt", "q"}, ok("a.txt") + ok("b c.txt") + ok("q"), "", 0,
         {{"a.txt_noNl.txt", "a"}, {"b c.txt_noNl.txt", "bc"}, {"q_noNl.txt", "q"}}},
        {"goes on past a missing name and says so", {"a.txt", "missing.txt", "q"}, ok("a.txt") + ok("q"),
         cannotOpen("missing.txt"), 1, {{"a.txt_noNl.txt", "a"}, {"q_noNl.txt", "q"}}},
        {"takes a name that starts with - after --", {"--", "-d.txt"}, ok("-d.txt"), "", 0, {{"-d.txt_noNl.txt", "d"}}},
        {"takes a name beyond ASCII", {"caf\xC3\xA9 \xCE\xA9.txt"}, ok(cafeShown), "", 0,
         {{"caf\xC3\xA9 \xCE\xA9.txt_noNl.txt", "\xCE\xA9"}}},
        {"prints its version, copyright and licence", {"--version", "a.txt"},
         "nonl " NONL_VERSION "\nCopyright (c) 2026 the nonl authors\nLicense MIT <https://opensource.org/licenses/MIT>.\n"
         "This is free software: you are free to change and redistribute it.\n"
         "There is NO WARRANTY, to the extent permitted by law.\n", "", 0, {}},
        {"refuses an unknown option and copies nothing", {"a.txt", "-x"}, "",
         "nonl: unknown option '-x' (see 'nonl --help')\n", 2, {}},
        {"prints its usage", {"a.txt", "--help"}, helpStart, "", 0, {}},
        {"prints its usage for -h", {"-h"}, helpStart, "", 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fill(work, files);
        const Outcome run = runTool(work, scratch, "", {c.arguments});
        if (c.console == helpStart) {
            EXPECT_EQ(run.console.substr(0, shown(helpStart).size()), shown(helpStart)) << run.console;
        } else {
            EXPECT_EQ(run.console, shown(c.console));
        }
        EXPECT_EQ(run.errors, shown(c.errors));
        EXPECT_EQ(run.status, c.status);
        Tree after = files;
        after.insert(c.added.begin(), c.added.end());
        EXPECT_EQ(snapshot(work), digested(after));
    }
    // Both streams into one file: the messages stay in the order of the names.
    const Outcome together = runTool(work, scratch, "", {{"a.txt", "missing.txt", "q"}, RLIM_INFINITY, "", {}, "", true});
    EXPECT_EQ(together.console, shown(ok("a.txt") + cannotOpen("missing.txt") + ok("q")));
    if (onWindows())
        return;
    // A script must not take a success message that never arrived for success.
    SCOPED_TRACE("a full disk under the success message");
    const Outcome run = runTool(work, scratch, "", {{"a.txt"}, RLIM_INFINITY, "", {}, "/dev/full"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(readFile(work / "a.txt_noNl.txt"), "a");
    // Each name's files and folder are closed before the next: 40 names, 12 open files at most.
    Start many{std::vector<std::string>(40, "a.txt")};
    many.openFiles = 12;
    EXPECT_EQ(runTool(work, scratch, "", many).status, 0);
}

// Windows shells leave wildcards to programs: the tool expands them in its arguments.
TEST_F(Console, ExpandsWildcardsInArgumentsOnWindows)
{
    if (!onWindows())
        GTEST_SKIP() << "the shell expands them elsewhere";
    const Tree files{{"b.txt", "b\n"}, {"A.txt", "a\n"}, {"old.txt_noNl.txt", "o\n"}, {"x.log", "x\n"},
                     {"zz.log", "z\n"}, {"sub/c.txt", "c\n"}, {"README", "r\n"}, {"a b.txt", "ab\n"},
                     {"rep", "p\n"}, {"rep.", "dot\n"}};
    fill(work, files);
    mkdir(work / "dir.txt");
    std::string folder = "Z:" + work.string();
    std::replace(folder.begin(), folder.end(), '/', '\\');
    // As Windows programs match: README.* takes README too. A name ending in a dot (from
    // Samba, WSL or a Mac) is opened as it is, not trimmed to another, also in a folder named
    // as a drive's after \\.\ (files, not devices). Wine quotes "a *.txt", whose blank it must
    // keep: a quoted pattern is a name.
    const Outcome run = runTool(work, scratch, "",
                                {{"*.txt", "?.log", "sub\\*", "*.none", "README.*", "\\\\.\\" + folder + "\\rep*", "a *.txt"}});
    EXPECT_EQ(run.console, shown(ok("a b.txt") + ok("A.txt") + ok("b.txt") + ok("x.log") + ok("sub\\c.txt") +
                                 ok("README") + ok("\\\\.\\" + folder + "\\rep") + ok("\\\\?\\" + folder + "\\rep.")));
    EXPECT_EQ(run.errors, shown(cannotOpen("*.none") + cannotOpen("a *.txt")));
    EXPECT_EQ(run.status, 1);
    Tree after = files;
    after.insert({{"dir.txt", "<dir>"}, {"sub", "<dir>"}, {"A.txt_noNl.txt", "a"}, {"b.txt_noNl.txt", "b"},
                  {"x.log_noNl.txt", "x"}, {"sub/c.txt_noNl.txt", "c"}, {"README_noNl.txt", "r"},
                  {"a b.txt_noNl.txt", "ab"}, {"rep_noNl.txt", "p"}, {"rep._noNl.txt", "dot"}});
    EXPECT_EQ(snapshot(work), digested(after));
}

// Windows 11 takes nul.txt for a file, earlier Windows (and wine) for the device NUL: either
// is right, a success without the file's bytes never.
TEST_F(Console, TakesReservedNamesWithAnExtensionAsTheSystemDoes)
{
    if (!onWindows())
        GTEST_SKIP() << "Windows' reserved names";
    for (const std::string name : {"nul.txt", "aux.txt", "com1.txt"}) {
        SCOPED_TRACE(name);
        fill(work, {{name, "n\n"}});
        const Outcome run = runTool(work, scratch, "", {{name}});
        Tree after{{name, "n\n"}};
        if (run.status == 0)
            after[name + "_noNl.txt"] = "n";
        EXPECT_EQ(run.console + run.errors, shown(run.status == 0 ? ok(name) : cannotOpen(name)));
        EXPECT_EQ(snapshot(work), after);
    }
}

// A program that holds a file open with DELETE access and lets others in (an indexer, a log
// rotator, the tool itself writing a new copy) does not keep the tool from reading it.
TEST_F(Console, ReadsAFileOthersHoldOpenWithDeleteAccess)
{
    if (!onWindows())
        GTEST_SKIP() << "Windows' sharing modes";
    const std::string text(std::size_t{64} << 20, 'x');
    fill(work, {{"big.txt", text}});
    // The first tool, stopped while it holds the new big.txt_noNl.txt.
    const int none = open("/dev/null", O_RDWR);
    const pid_t holder = start(work, none, none, none, {{"big.txt"}});
    while (!fs::exists(work / "big.txt_noNl.txt") && waitpid(holder, nullptr, WNOHANG) == 0)
        usleep(200);
    kill(holder, SIGSTOP);
    siginfo_t ended{};
    const bool holding = waitid(P_PID, static_cast<id_t>(holder), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                         ended.si_pid == 0;
    const Outcome run = holding ? runTool(work, scratch, "", {{"big.txt_noNl.txt"}}) : Outcome{};
    kill(holder, SIGCONT);
    EXPECT_EQ(finish(holder, 60), 0);
    close(none);
    if (!holding)
        GTEST_SKIP() << "the first copy ended before it could be held";
    EXPECT_EQ(run.console + run.errors, shown(ok("big.txt_noNl.txt")));
    EXPECT_EQ(readFile(work / "big.txt"), text);
}

// A new copy is no easier to read than its input: only a member of the input's
// group may read it through group bits, and an input whose ACL shuts someone out
// gives a copy only its owner reads. The tool runs as user 65534 in group 100.
TEST_F(Console, GivesANewCopyNoReaderItsInputShutsOut)
{
    if (onWindows() || geteuid() != 0 || std::system("command -v setpriv setfacl >/dev/null") != 0)
        GTEST_SKIP() << "needs root, setpriv and setfacl (run as root in CI)";
    const std::vector<std::string> asNobody = {"setpriv", "--reuid=65534", "--regid=100", "--clear-groups", "--"};
    std::vector<std::string> asGroupMember = asNobody;
    asGroupMember[3] = "--groups=1234";
    const fs::perms ownerOnly = fs::perms::owner_read | fs::perms::owner_write;
    const fs::perms groupToo = ownerOnly | fs::perms::group_read;
    const struct {
        const char* name;
        std::vector<std::string> runAs;
        const char* acl; // setfacl's arguments, in the folder
        fs::perms input, copy;
        gid_t copyGroup;
    } cases[] = {
        {"not a member of the input's group: no group bits", asNobody, nullptr, groupToo, ownerOnly, 100},
        {"a member: the input's group and its bits", asGroupMember, nullptr, groupToo, groupToo, 1234},
        {"others keep what the input gives them", asNobody, nullptr, groupToo | fs::perms::others_read,
         ownerOnly | fs::perms::others_read, 100},
        {"in another group, others get no more than the input's group", asNobody, nullptr,
         ownerOnly | fs::perms::others_read, ownerOnly, 100},
        {"an ACL that shuts a user out: owner bits only", asGroupMember, "-m u:4321:--- hr.txt",
         groupToo | fs::perms::others_read, ownerOnly, 1234},
        {"a folder's default ACL naming a user: no group bits", asGroupMember, "-d -m u:4321:rw .", groupToo,
         ownerOnly, 1234},
    };
    fs::permissions(root, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(work, fs::perms::all);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path input = work / "hr.txt", copy = work / "hr.txt_noNl.txt";
        fs::remove(copy);
        writeFile(input, "pay\nroll\n");
        ASSERT_EQ(chown(input.c_str(), 65534, 1234), 0);
        fs::permissions(input, c.input);
        if (c.acl != nullptr && std::system(("cd " + work.string() + " && setfacl " + c.acl).c_str()) != 0)
            GTEST_SKIP() << "this file system takes no ACL";
        const Outcome run = runTool(work, scratch, "", {{"hr.txt"}, RLIM_INFINITY, "", {}, "", false, c.runAs});
        EXPECT_EQ(run.console + run.errors, ok("hr.txt"));
        struct stat made {};
        ASSERT_EQ(stat(copy.c_str(), &made), 0);
        std::ostringstream mode, wanted;
        mode << std::oct << (made.st_mode & 0777);
        wanted << std::oct << static_cast<unsigned>(c.copy);
        EXPECT_EQ(mode.str(), wanted.str());
        EXPECT_EQ(made.st_gid, c.copyGroup);
        EXPECT_EQ(readFile(copy), "payroll");
        fs::remove(input);
        EXPECT_EQ(std::system(("setfacl -b -k " + work.string()).c_str()), 0);
    }
}

// A file under a lease (a Samba oplock, an NFS delegation) is waited for until its holder lets
// go, as by any program, not refused as a device would be. What the holder does before it lets
// go neither moves the copy to another folder nor makes the tool wait on a FIFO.
TEST_F(Console, WaitsForAFileUnderALease)
{
    if (onWindows())
        GTEST_SKIP() << "leases are Linux's";
    const Tree before{{"A/f", "l\ne\n"}, {"B", "<dir>"}, {"H", "<dir>"}, {"A", "<dir>"}, {"H/d", "-> ../A"}};
    const struct {
        const char* what;
        void (*atBreak)(const fs::path& work);
        int runs;
        std::string errors; // the tool's; without any, it copied
        Tree changed;
    } cases[] = {
        {"lets go after a while", [](const fs::path&) { usleep(300000); }, 1, "", {{"A/f_noNl.txt", "le"}}},
        {"points the folder's link at another folder", [](const fs::path& w) {
             fs::create_directory_symlink("../B", w / "H/new");
             fs::rename(w / "H/new", w / "H/d");
         }, 1, "", {{"A/f_noNl.txt", "le"}, {"H/d", "-> ../B"}}},
        {"renames a FIFO over the input", [](const fs::path& w) {
             mkfifo((w / "H/fifo").c_str(), 0644);
             fs::rename(w / "H/fifo", w / "A/f");
         }, 20, cannotOpen("H/d/f"), {{"A/f", "<fifo>"}}},
    };
    for (const auto& c : cases) {
        for (int attempt = 0; attempt < c.runs && !HasFailure(); ++attempt) {
            SCOPED_TRACE(c.what);
            fill(work, {{"A/f", "l\ne\n"}});
            mkdir(work / "B");
            mkdir(work / "H");
            fs::create_directory_symlink("../A", work / "H/d");
            int granted[2];
            ASSERT_EQ(pipe(granted), 0);
            const pid_t holder = fork();
            if (holder == 0) {
                signal(SIGIO, [](int) {}); // the lease breaks
                const int fd = open((work / "A/f").c_str(), O_RDONLY);
                const char leased = fcntl(fd, F_SETLEASE, F_WRLCK) == 0 ? 'y' : 'n';
                if (write(granted[1], &leased, 1) == 1 && leased == 'y')
                    pause();
                c.atBreak(work);
                fcntl(fd, F_SETLEASE, F_UNLCK);
                _exit(0);
            }
            char leased = 'n';
            ASSERT_EQ(read(granted[0], &leased, 1), 1);
            close(granted[0]);
            close(granted[1]);
            if (leased != 'y') {
                kill(holder, SIGKILL);
                waitpid(holder, nullptr, 0);
                GTEST_SKIP() << "this file system grants no lease";
            }
            Start how{{"H/d/f"}};
            how.seconds = 20;
            const Outcome run = runTool(work, scratch, "", how);
            kill(holder, SIGKILL);
            waitpid(holder, nullptr, 0);
            EXPECT_EQ(run.console + run.errors, c.errors.empty() ? ok("H/d/f") : c.errors);
            Tree after = before;
            for (const auto& [name, bytes] : c.changed)
                after[name] = bytes;
            EXPECT_EQ(snapshot(work), after);
        }
    }
}

// A program driving the tool through a pipe must see each prompt before the
// tool waits for its answer.
TEST_F(Console, ShowsThePromptThroughAPipeBeforeWaiting)
{
    writeFile(work / "a", "1\n");
    int toTool[2], fromTool[2];
    ASSERT_EQ(pipe(toTool), 0);
    ASSERT_EQ(pipe(fromTool), 0);
    const int err = open((scratch / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t pid = start(work, toTool[0], fromTool[1], err);
    close(toTool[0]);
    close(fromTool[1]);
    close(err);

    std::string seen;
    const auto until = [](const std::string& expected) {
        return [expected](const std::string& seen) { return seen.size() >= expected.size(); };
    };
    readUntil(fromTool[0], seen, 10, until(shown(P)));
    EXPECT_EQ(seen, shown(P));
    ASSERT_EQ(write(toTool[1], "a\n", 2), 2);
    readUntil(fromTool[0], seen, 10, until(shown(P + ok("a") + P)));
    EXPECT_EQ(seen, shown(P + ok("a") + P));
    ASSERT_EQ(write(toTool[1], "q\n", 2), 2);
    close(toTool[1]);
    EXPECT_EQ(finish(pid, 10), 0);
    close(fromTool[0]);
    EXPECT_EQ(readFile(work / "a_noNl.txt"), "1");
}
