#include "bytes.hpp"
#include "console/progress.hpp"
#include "copy/blocks.hpp"
#include "system/pending_name.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

// Units of text under a rule: LF, CR and others at random, as many as percent
// says LF or CR, the others of random bytes, half of them 0x0A, 0x0D or NUL.
std::string unitsOfText(TextRule rule, std::size_t count, unsigned percent, unsigned seed)
{
    std::mt19937 random(seed);
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        std::string bytes = unitBytes(rule.units, "\n\r"[random() % 2]);
        if (random() % 100 >= percent)
            for (char& c : bytes)
                c = random() % 2 != 0 ? "\n\r"[random() % 3] : static_cast<char>(random() % 256);
        text += bytes;
    }
    return text;
}

// Random bytes with many LFs and CRs.
std::string randomText(std::size_t size, unsigned seed) { return unitsOfText({}, size, 25, seed); }

// Every kind of unit under both rules.
const std::vector<TextRule> everyRule = [] {
    std::vector<TextRule> rules;
    for (const Units units : {Units::bytes, Units::utf16le, Units::utf16be, Units::utf32le, Units::utf32be})
        for (const LineEnds ends : {LineEnds::lf, LineEnds::crlf})
            rules.push_back({units, ends});
    return rules;
}();

std::string describe(TextRule rule) { return "units " + std::to_string(int(rule.units)) + (rule.ends == LineEnds::crlf ? " crlf" : " lf"); }

// Hands out text chunk bytes a read, then ends, or fails as a device error does.
struct Source {
    std::string text;
    std::size_t chunk;
    bool fails = false;
    std::size_t next = 0;

    std::ptrdiff_t operator()(char* data, std::size_t size)
    {
        if (next == text.size())
            return fails ? -1 : 0;
        const std::size_t n = std::min({chunk, size, text.size() - next});
        std::copy_n(text.data() + next, n, data);
        next += n;
        return static_cast<std::ptrdiff_t>(n);
    }
};

// Copies through a heap block of exactly blockSize bytes, so AddressSanitizer sees any access past it;
// written takes what a disk of room bytes takes.
Outcome copy(Source& source, std::string& written, TextRule rule, std::size_t blockSize,
                std::size_t room = std::string::npos)
{
    const std::unique_ptr<char[]> block(new char[blockSize]);
    const WriteBlock write = [&](const char* data, std::size_t size) {
        const std::size_t taken = std::min(size, room - written.size());
        written.append(data, taken);
        return taken == size;
    };
    return copyWithoutLineEnds(std::ref(source), write, rule, block.get(), blockSize);
}

} // namespace

// Whatever the source hands out before its end or a read error, whole or in pieces smaller or larger than a
// block, all of it arrives without its line ends and nothing else changed, at any block size.
TEST(Copy, LeavesOutEveryLineEndAndNothingElseAtAnyBlockSizeAndRead)
{
    std::vector<Source> sources;
    for (const std::string& input : {""s, "\n"s, "\n\n\n\n\n\n\n\n\n"s, "no line feed at all"s, "one\ntwo\n\nthree\n"s,
                                     "\nstarts and ends with LF\n"s, "crlf\r\nlines\r\n\r\n and a lone CR\r and CR CR LF\r\r\n\r"s,
                                     everyByte() + everyByte(), randomText(300000, 1),
                                     std::string(70000, '\n') + "x" + std::string(70000, 'y')})
        sources.push_back({input, std::string::npos});
    for (const bool fails : {false, true})
        for (const std::size_t chunk : {1, 5, 64, 999, 4096})
            sources.push_back({randomText(1000, 5), chunk, fails});
    for (const TextRule rule : everyRule) {
        for (const std::size_t blockSize : {8, 9, 11, 16, 100, 4096, int{copyBlockSize}}) {
            for (Source source : sources) {
                std::string written;
                const std::string where = describe(rule) + ", block " + std::to_string(blockSize) + ", reads of " +
                                          std::to_string(source.chunk) + (source.fails ? ", failing," : "") + " from " +
                                          std::to_string(source.text.size()) + " bytes";
                ASSERT_EQ(copy(source, written, rule, blockSize), source.fails ? Outcome::readFailed : Outcome::copied)
                    << where;
                ASSERT_EQ(written, withoutLineEnds(source.text, rule)) << where;
            }
        }
    }
}

// Windows line ends and units where blocks meet: the bytes each read hands out, and the copy.
TEST(Copy, JoinsWhatFallsInDifferentBlocks)
{
    const TextRule crlf{Units::bytes, LineEnds::crlf}, utf16le{Units::utf16le, LineEnds::crlf},
        utf16be{Units::utf16be, LineEnds::crlf}, utf32le{Units::utf32le, LineEnds::lf};
    const struct {
        TextRule rule;
        std::string input;
        std::size_t chunk;
        std::string copied;
    } cases[] = {
        {crlf, "ab\r\ncd", 3, "abcd"},           // CR last in one block, LF first in the next
        {crlf, "ab\r\r\ncd", 3, "ab\rcd"},       // CR CR LF across the boundary
        {crlf, "ab\r\r\ncd", 4, "ab\rcd"},
        {crlf, "ab\rcd\r", 3, "ab\rcd\r"},       // lone CRs stay, the last one too
        {crlf, "a\r\n\r\n\r\nb", 1, "ab"},       // a byte a read
        {crlf, "a\r\x1a\r\nb\x1a", 2, "a\r\x1a" "b\x1a"}, // Ctrl-Z is a byte like any other
        // a, CR, LF, then U+4E0A, U+0A0A and U+0D0A, whose bytes hold 0A and 0D: units split every way
        {utf16le, "a\0\r\0\n\0\x0A\x4E\x0A\x0A\x0A\x0D"s, 3, "a\0\x0A\x4E\x0A\x0A\x0A\x0D"s},
        {utf16le, "a\0\r\0\n\0\x0A\x4E\x0A\x0A\x0A\x0D"s, 1, "a\0\x0A\x4E\x0A\x0A\x0A\x0D"s},
        {utf16be, "\0a\0\r\0\n\x4E\x0A\x0A\x0A\x0D\x0A"s, 3, "\0a\x4E\x0A\x0A\x0A\x0D\x0A"s},
        {utf16le, "\n\0\n\0b\0\r\0"s, 2, "b\0\r\0"s}, // LF last in a block and first in the next; a last CR
        {utf16le, "a\0\n\0b"s, 2, "a\0b"s},                // an odd last byte stays
        {utf16le, "a\0\r\0\n"s, 2, "a\0\r\0\n"s},          // also after a CR
        {utf32le, "\n\0\0\0x\0\0\0\r\0\0\0\n\0\0"s, 5, "x\0\0\0\r\0\0\0\n\0\0"s},
    };
    for (const auto& c : cases) {
        Source source{c.input, c.chunk};
        std::string written;
        EXPECT_EQ(copy(source, written, c.rule, 4096), Outcome::copied);
        EXPECT_EQ(written, c.copied) << describe(c.rule) << ", reads of " << c.chunk << " from "
                                     << testing::PrintToString(c.input);
    }
}

TEST(Copy, StopsAtTheFirstWriteThatFails)
{
    const std::string input = randomText(10000, 2);
    for (const TextRule rule : everyRule) {
        Source source{input, std::string::npos};
        std::string written;
        EXPECT_EQ(copy(source, written, rule, 16, 25), Outcome::writeFailed);
        EXPECT_EQ(written, withoutLineEnds(input, rule).substr(0, 25));
        EXPECT_LT(source.next, 100u) << "went on reading after the output failed";
    }
}

// Every kernel this processor runs, on buffers whose line ends fall on and
// around the 8-, 16- and 64-byte edges the kernels work in, must give the plain
// result. Each runs on a heap buffer of exactly the size given, so
// AddressSanitizer catches a read or write past its end.
TEST(Kernels, MatchThePlainResultOnEveryLengthAndDensity)
{
    unsigned seed = 3;
    std::string ran; // a kernel that no test here runs must not pass unseen
    for (const TextRule rule : everyRule) {
        const std::size_t unit = unitSize(rule.units);
        std::vector<std::string> buffers;
        for (std::size_t count = 0; count <= 260 / unit; ++count) {
            for (unsigned percent : {0u, 3u, 30u, 90u, 100u})
                buffers.push_back(unitsOfText(rule, count, percent, ++seed));
            // LF, CR LF and a lone CR just before, on and after each edge
            std::string edges;
            for (std::size_t i = 0, at = 0; i < count; ++i, at += unit) {
                const std::size_t in64 = at % 64, in16 = at % 16;
                const char c = in64 == 64 - unit || in16 == 16 - unit || in64 == 40   ? '\r'
                               : in16 == 0 || at % 8 == 8 - unit || in64 == unit ? '\n'
                                                                                  : 'x';
                edges += unitBytes(rule.units, c);
            }
            buffers.push_back(edges);
        }
        buffers.push_back(unitsOfText(rule, 3 * copyBlockSize / unit + 5, 20, ++seed));
        buffers.push_back(unitsOfText(rule, copyBlockSize / unit, 100, ++seed));

        for (const LineEndKernel& kernel : lineEndKernels(rule)) {
            if (ran.find(kernel.name) == std::string::npos)
                ran += std::string(ran.empty() ? "" : " ") + kernel.name;
            ASSERT_EQ(kernel.drop(nullptr, 0), 0u) << kernel.name; // an empty vector's data(); UBSan checks the arithmetic
            for (const std::string& bytes : buffers) {
                const std::unique_ptr<char[]> work(new char[bytes.size()]);
                std::copy(bytes.begin(), bytes.end(), work.get());
                const std::size_t kept = kernel.drop(work.get(), bytes.size());
                ASSERT_EQ(std::string(work.get(), kept), withoutLineEnds(bytes, rule))
                    << kernel.name << ", " << describe(rule) << ", on " << bytes.size() << " bytes";
            }
        }
    }
    std::printf("line-end kernels run on this processor: %s\n", ran.c_str());
}

namespace {

// Static initialisers of different files run in no set order: one here may
// come before the copy's own.
const std::string droppedDuringStartUp = [] {
    std::string text = "a\nb\r\n\nc";
    text.resize(dropLineEnds({Units::bytes, LineEnds::crlf}, &text[0], text.size()));
    return text;
}();

} // namespace

TEST(Kernels, WorkFromAStaticInitialiserOfAnotherFile)
{
    EXPECT_EQ(droppedDuringStartUp, "abc");
}

// The progress line: not before a second, at most four times a second, taken away at the end.
TEST(Progress, ShowsALongCopyOnlyAndAtMostFourTimesASecond)
{
    using ms = std::chrono::milliseconds;
    std::vector<std::string> drawn;
    const Progress::Clock::time_point start{};
    Progress progress("notes.txt", [&](const std::string& line) { drawn.push_back(line); }, start);
    for (const int at : {500, 999, 1000, 1100, 1249, 1250, 1600})
        progress.advance(std::uint64_t{1} << 20, 3 << 20, start + ms(at));
    progress.finish();
    progress.finish();
    const std::string line = "notes.txt: 1.0 of 3.0 MiB (33%)";
    EXPECT_EQ(drawn, (std::vector<std::string>{line, line, line, ""}));

    Progress quick("quick.txt", [&](const std::string& line) { drawn.push_back("quick " + line); }, start);
    quick.advance(10, 10, start + ms(900));
    quick.finish();
    EXPECT_EQ(drawn.size(), 4u) << "a copy of under a second drew " << drawn.back();

    EXPECT_EQ(Progress::line("a", 500, 1000), "a: 500 of 1000 bytes (50%)");
    EXPECT_EQ(Progress::line("a", 0, 0), "a: 0 of 0 bytes (100%)");
    EXPECT_EQ(Progress::line("big", std::uint64_t{3} << 30, std::uint64_t{6} << 30), "big: 3.0 of 6.0 GiB (50%)");
    EXPECT_EQ(Progress::line(std::string(50, 'x') + "\xCE\xA9\xCE\xA9", 1, 4),
              "..." + std::string(36, 'x') + "\xCE\xA9\xCE\xA9: 1 of 4 bytes (25%)");
    EXPECT_EQ(Progress::line("grew", 5, 4), "grew: 5 of 4 bytes (100%)");
    // One column less than the terminal's, so that the cursor never wraps; none under ten.
    for (const auto& [columns, cells] : {std::pair<std::size_t, std::size_t>{80, 79}, {10, 9}, {9, 0}, {1, 0}, {0, 79}})
        EXPECT_EQ(Progress::cells(columns), cells) << columns << " columns";
}

// A copy's pending name: two runs at the same moment, or one run twice, never pick one name.
TEST(PendingName, TellsProcessesAndNamesOfOneProcessApart)
{
    const std::string first = pendingName(".nonl-", 100, 5, 1);
    EXPECT_TRUE(std::regex_match(first, std::regex("\\.nonl-[0-9a-f]{16}\\.tmp"))) << first;
    EXPECT_NE(first, pendingName(".nonl-", 101, 5, 1));
    EXPECT_NE(first, pendingName(".nonl-", 100, 5, 2));
}
