// Runs the built tool in a fresh folder with scripted standard input and checks
// the exact console bytes, the exit status and every file left behind.
// NONL_EXE names another build to run, NONL_LAUNCHER a program to run it with
// (NONL_EXE=build-win-x64/nonl.exe NONL_LAUNCHER=wine64 for the Windows build);
// a .exe is held to Windows text mode: CRLF on the console, CRLF read as LF.

#include "bytes.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

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

namespace {

const std::string P = "Please enter name of file (enter \"q\" to quit): ";

std::string ok(const std::string& name)
{
    return "\nSuccessfully removed end-of-line characters from \"" + name + "\"!\n\n";
}
std::string cannotOpen(const std::string& name) { return "\nUnable to open file \"" + name + "\"!\n\n"; }
std::string cannotCreate(const std::string& name) { return "\nUnable to create file \"" + name + "\"!\n\n"; }
std::string cannotWrite(const std::string& name) { return "\nUnable to write file \"" + name + "\"!\n\n"; }

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

// What the console shows: Windows text mode writes each line end as CRLF.
std::string shown(const std::string& console)
{
    if (!onWindows())
        return console;
    std::string crlf;
    for (char c : console)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return crlf;
}

std::vector<std::string> command()
{
    std::vector<std::string> words;
    if (const char* launcher = std::getenv("NONL_LAUNCHER")) {
        std::istringstream split(launcher);
        for (std::string word; split >> word;)
            words.push_back(word);
    }
    words.push_back(exePath());
    return words;
}

// Starts the tool in dir with the given descriptors as its standard streams.
pid_t start(const fs::path& dir, int in, int out, int err)
{
    const std::vector<std::string> words = command();
    const pid_t pid = fork();
    if (pid == 0) {
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
};

Outcome runTool(const fs::path& dir, const fs::path& scratch, const std::string& input)
{
    writeFile(scratch / "stdin", input);
    const int in = open((scratch / "stdin").c_str(), O_RDONLY);
    const int out = open((scratch / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open((scratch / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t pid = start(dir, in, out, err);
    int status = 0;
    waitpid(pid, &status, 0);
    close(in);
    close(out);
    close(err);
    Outcome run;
    run.console = readFile(scratch / "stdout");
    run.errors = readFile(scratch / "stderr");
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    bool linuxOnly = false;                  // /dev/full, links, folders opened for reading
    std::optional<Tree> afterOnWindows = {}; // where text mode reads the bytes otherwise
};

const std::string longName = std::string(200, 'n') + ".txt";
const std::string bigText = [] {
    std::string text;
    for (int line = 0; text.size() < 600000; ++line)
        text += "line " + std::to_string(line) + " of a file larger than one block\n";
    return text;
}();

void mkdir(const fs::path& path) { fs::create_directories(path); }

const Scenario scenarios[] = {
    {"joins the lines of a file", {{"report.txt", "one\ntwo\n\nthree\n"}}, {},
     "report.txt\nq\n", P + ok("report.txt") + P,
     {{"report.txt", "one\ntwo\n\nthree\n"}, {"report.txt_noNl.txt", "onetwothree"}}},
    {"copies an empty file", {{"e.txt", ""}}, {}, "e.txt\nq\n", P + ok("e.txt") + P,
     {{"e.txt", ""}, {"e.txt_noNl.txt", ""}}},
    {"passes every byte but LF, CR and 0xFF included", {{"b.bin", everyByte() + "\r\n"}}, {},
     "b.bin\nq\n", P + ok("b.bin") + P,
     {{"b.bin", everyByte() + "\r\n"}, {"b.bin_noNl.txt", withoutLf(everyByte() + "\r")}}, false,
     // Windows text mode ends the input at Ctrl-Z (0x1A)
     Tree{{"b.bin", everyByte() + "\r\n"}, {"b.bin_noNl.txt", withoutLf(everyByte().substr(0, 0x1A))}}},
    {"keeps the CRs of CRLF lines, which Windows text mode reads as LF", {{"w.txt", "a\r\nb\r\n"}}, {},
     "w.txt\nq\n", P + ok("w.txt") + P, {{"w.txt", "a\r\nb\r\n"}, {"w.txt_noNl.txt", "a\rb\r"}}, false,
     Tree{{"w.txt", "a\r\nb\r\n"}, {"w.txt_noNl.txt", "ab"}}},
    {"copies a file larger than a block", {{"big.txt", bigText}}, {}, "big.txt\nq\n",
     P + ok("big.txt") + P, {{"big.txt", bigText}, {"big.txt_noNl.txt", withoutLf(bigText)}}},
    {"truncates an earlier output", {{"a.txt", "a\n"}, {"a.txt_noNl.txt", "much longer old output"}},
     {}, "a.txt\nq\n", P + ok("a.txt") + P, {{"a.txt", "a\n"}, {"a.txt_noNl.txt", "a"}}},
    {"takes an earlier output as a new input", {{"x_noNl.txt", "x"}}, {}, "x_noNl.txt\nq\n",
     P + ok("x_noNl.txt") + P, {{"x_noNl.txt", "x"}, {"x_noNl.txt_noNl.txt", "x"}}},
    {"quits on q without opening a file of that name", {{"q", "q\n"}}, {}, "q\na.txt\n", P,
     {{"q", "q\n"}}},
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
    {"ends at the end of input after a last name without a line end", {{"a", "1\n"}}, {}, "a",
     P + ok("a") + P, {{"a", "1\n"}, {"a_noNl.txt", "1"}}},
    {"ends on empty input", {}, {}, "", P, {}},
    {"refuses a name holding a NUL byte", {{"a.txt", "keep\n"}}, {},
     std::string("a.txt\0b\nq\n", 10), P + cannotOpen("a.txt") + P, {{"a.txt", "keep\n"}}},
    {"refuses a folder as input", {}, [](const fs::path& d) { mkdir(d / "dir"); }, "dir\nq\n",
     P + cannotOpen("dir") + P, {{"dir", "<dir>"}}, true},
    {"reports an output that cannot be created",
     {{"a.txt", "a\n"}}, [](const fs::path& d) { mkdir(d / "a.txt_noNl.txt"); }, "a.txt\nq\n",
     P + cannotCreate("a.txt_noNl.txt") + P, {{"a.txt", "a\n"}, {"a.txt_noNl.txt", "<dir>"}}},
    {"refuses an output that is a symbolic link to the input", {{"a.txt", "keep\n"}},
     [](const fs::path& d) { fs::create_symlink("a.txt", d / "a.txt_noNl.txt"); }, "a.txt\nq\n",
     P + cannotCreate("a.txt_noNl.txt") + P, {{"a.txt", "keep\n"}, {"a.txt_noNl.txt", "-> a.txt"}}, true},
    {"refuses an output that is a hard link to the input", {{"a.txt", "keep\n"}},
     [](const fs::path& d) { fs::create_hard_link(d / "a.txt", d / "a.txt_noNl.txt"); }, "a.txt\nq\n",
     P + cannotCreate("a.txt_noNl.txt") + P, {{"a.txt", "keep\n"}, {"a.txt_noNl.txt", "keep\n"}}, true},
    {"reports a full disk when a small output is closed", {{"a.txt", "a\nb\n"}},
     [](const fs::path& d) { fs::create_symlink("/dev/full", d / "a.txt_noNl.txt"); }, "a.txt\nq\n",
     P + cannotWrite("a.txt_noNl.txt") + P, {{"a.txt", "a\nb\n"}, {"a.txt_noNl.txt", "-> /dev/full"}}, true},
    {"reports a full disk in the middle of a large output", {{"big.txt", bigText}},
     [](const fs::path& d) { fs::create_symlink("/dev/full", d / "big.txt_noNl.txt"); }, "big.txt\nq\n",
     P + cannotWrite("big.txt_noNl.txt") + P, {{"big.txt", bigText}, {"big.txt_noNl.txt", "-> /dev/full"}}, true},
};

} // namespace

TEST_F(Console, Scenarios)
{
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        if (scenario.linuxOnly && onWindows())
            continue;
        fs::remove_all(work);
        fs::create_directories(work);
        for (const auto& [name, bytes] : scenario.before) {
            fs::create_directories((work / name).parent_path());
            writeFile(work / name, bytes);
        }
        if (scenario.setup)
            scenario.setup(work);

        const Outcome run = runTool(work, scratch, scenario.input);
        EXPECT_EQ(run.console, shown(scenario.console));
        EXPECT_EQ(run.errors, "");
        EXPECT_EQ(run.status, 0);
        const Tree& after = onWindows() && scenario.afterOnWindows ? *scenario.afterOnWindows : scenario.after;
        EXPECT_EQ(snapshot(work), digested(after));
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

    // Reads until expected has arrived, or gives up after a quiet while.
    auto readUntil = [&](const std::string& expected) {
        std::string seen;
        char buffer[256];
        pollfd ready{fromTool[0], POLLIN, 0};
        while (seen.size() < expected.size() && poll(&ready, 1, 10000) == 1) {
            const ssize_t got = read(fromTool[0], buffer, sizeof buffer);
            if (got <= 0)
                break;
            seen.append(buffer, static_cast<std::size_t>(got));
        }
        return seen;
    };
    EXPECT_EQ(readUntil(shown(P)), shown(P));
    ASSERT_EQ(write(toTool[1], "a\n", 2), 2);
    EXPECT_EQ(readUntil(shown(ok("a") + P)), shown(ok("a") + P));
    ASSERT_EQ(write(toTool[1], "q\n", 2), 2);
    close(toTool[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    close(fromTool[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(readFile(work / "a_noNl.txt"), "1");
}
