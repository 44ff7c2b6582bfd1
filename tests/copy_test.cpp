#include "bytes.hpp"
#include "lf_copy.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

std::string randomText(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string text(size, '\0');
    for (char& c : text) {
        const unsigned roll = random() % 8;
        c = roll == 0 ? '\n' : roll == 1 ? '\r' : roll == 2 ? static_cast<char>(random() % 256) : static_cast<char>('a' + roll);
    }
    return text;
}

std::string expected(const std::string& text, LineEnds rule)
{
    return rule == LineEnds::crlf ? withoutCrLf(text) : withoutLf(text);
}

const LineEnds bothRules[] = {LineEnds::lf, LineEnds::crlf};

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
CopyResult copy(Source& source, std::string& written, LineEnds rule, std::size_t blockSize,
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

TEST(Copy, LeavesOutEveryLineEndAndNothingElseAtAnyBlockSize)
{
    const std::string inputs[] = {
        "",
        "\n",
        "\n\n\n\n\n\n\n\n\n",
        "no line feed at all",
        "one\ntwo\n\nthree\n",
        "\nstarts and ends with LF\n",
        "crlf\r\nlines\r\n\r\n and a lone CR\r and CR CR LF\r\r\n\r",
        everyByte() + everyByte(),
        randomText(300000, 1),
        std::string(70000, '\n') + "x" + std::string(70000, 'y'),
    };
    for (const LineEnds rule : bothRules) {
        for (const std::size_t blockSize : {2, 3, 7, 16, 4096, int{copyBlockSize}}) {
            for (const std::string& input : inputs) {
                Source source{input, std::string::npos};
                std::string written;
                ASSERT_EQ(copy(source, written, rule, blockSize), CopyResult::copied) << "block size " << blockSize;
                ASSERT_EQ(written, expected(input, rule))
                    << "rule " << int(rule) << ", block size " << blockSize << ", input of " << input.size() << " bytes";
            }
        }
    }
}

// Windows line ends where blocks meet: the bytes each read hands out, and the copy.
TEST(Copy, JoinsACrAndAnLfThatFallInDifferentBlocks)
{
    const struct {
        const char* input;
        std::size_t chunk;
        const char* copied;
    } cases[] = {
        {"ab\r\ncd", 3, "abcd"},           // CR last in one block, LF first in the next
        {"ab\r\r\ncd", 3, "ab\rcd"},       // CR CR LF across the boundary
        {"ab\r\r\ncd", 4, "ab\rcd"},
        {"ab\rcd\r", 3, "ab\rcd\r"},       // lone CRs stay, the last one too
        {"a\r\n\r\n\r\nb", 1, "ab"},       // a byte a read
        {"a\r\x1a\r\nb\x1a", 2, "a\r\x1a" "b\x1a"}, // Ctrl-Z is a byte like any other
    };
    for (const auto& c : cases) {
        Source source{c.input, c.chunk};
        std::string written;
        EXPECT_EQ(copy(source, written, LineEnds::crlf, 4096), CopyResult::copied);
        EXPECT_EQ(written, c.copied) << "reads of " << c.chunk << " from " << testing::PrintToString(c.input);
    }
}

// Whatever the source hands out before its end or a read error, in pieces
// smaller or larger than a block, all of it arrives without its line ends.
TEST(Copy, KeepsEveryByteDeliveredBeforeTheEndOrAReadError)
{
    const std::string text = randomText(1000, 5);
    for (const LineEnds rule : bothRules) {
        for (const bool fails : {false, true}) {
            for (const std::size_t chunk : {1, 5, 64, 999, 4096}) {
                for (const std::size_t blockSize : {2, 4, 7, 100, 4096}) {
                    Source source{text, chunk, fails};
                    std::string written;
                    const std::string where = std::string(fails ? "failing" : "ending") + " source, chunk " +
                                              std::to_string(chunk) + ", block " + std::to_string(blockSize);
                    ASSERT_EQ(copy(source, written, rule, blockSize), fails ? CopyResult::readFailed : CopyResult::copied)
                        << where;
                    ASSERT_EQ(written, expected(text, rule)) << where;
                }
            }
        }
    }
}

TEST(Copy, StopsAtTheFirstWriteThatFails)
{
    const std::string input = randomText(10000, 2);
    for (const LineEnds rule : bothRules) {
        Source source{input, std::string::npos};
        std::string written;
        EXPECT_EQ(copy(source, written, rule, 16, 25), CopyResult::writeFailed);
        EXPECT_EQ(written, expected(input, rule).substr(0, 25));
        EXPECT_LT(source.next, 100u) << "went on reading after the output failed";
    }
}

// Every kernel this processor runs, on buffers whose line ends fall on and
// around the 8-, 16- and 64-byte edges the kernels work in, must give the plain
// result. Each runs on a heap buffer of exactly the size given, so
// AddressSanitizer catches a read or write past its end.
TEST(Kernels, MatchThePlainResultOnEveryLengthAndDensity)
{
    std::mt19937 random(3);
    std::vector<std::string> buffers;
    for (std::size_t size = 0; size <= 260; ++size) {
        for (unsigned percent : {0u, 3u, 30u, 90u, 100u}) {
            std::string bytes(size, '\0');
            for (char& c : bytes)
                c = random() % 100 < percent ? "\n\r"[random() % 2] : static_cast<char>(random() % 256);
            buffers.push_back(bytes);
        }
        std::string edges(size, 'x'); // LF and CR LF just before, on and after each edge
        for (std::size_t i = 0; i < size; ++i) {
            if (i % 8 == 7 || i % 16 == 0 || i % 64 == 63 || i % 64 == 1)
                edges[i] = '\n';
            if (i % 16 == 15 || i % 64 == 0)
                edges[i] = '\r';
        }
        buffers.push_back(edges);
    }
    buffers.push_back(randomText(3 * copyBlockSize + 5, 4));
    buffers.push_back(std::string(copyBlockSize, '\n'));

    for (const LineEnds rule : bothRules) {
        for (const LfKernel& kernel : lfKernels(rule)) {
            for (const std::string& bytes : buffers) {
                const std::unique_ptr<char[]> work(new char[bytes.size()]);
                std::copy(bytes.begin(), bytes.end(), work.get());
                const std::size_t kept = kernel.drop(work.get(), bytes.size());
                ASSERT_EQ(std::string(work.get(), kept), expected(bytes, rule))
                    << kernel.name << " (rule " << int(rule) << ") on " << bytes.size() << " bytes";
            }
        }
    }
}

namespace {

// Static initialisers of different files run in no set order: one here may
// come before the copy's own.
const std::string droppedDuringStartUp = [] {
    std::string text = "a\nb\r\n\nc";
    text.resize(dropLineEnds(LineEnds::crlf, &text[0], text.size()));
    return text;
}();

} // namespace

TEST(Kernels, WorkFromAStaticInitialiserOfAnotherFile)
{
    EXPECT_EQ(droppedDuringStartUp, "abc");
}
