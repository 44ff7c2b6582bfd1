#include "bytes.hpp"
#include "lf_copy.hpp"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

namespace {

std::string randomText(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string text(size, '\0');
    for (char& c : text) {
        const unsigned roll = random() % 8;
        c = roll == 0 ? '\n' : roll == 1 ? static_cast<char>(random() % 256) : static_cast<char>('a' + roll);
    }
    return text;
}

CopyResult copy(std::istream& in, std::ostream& out, std::size_t blockSize)
{
    std::string block(blockSize, '\0');
    return copyWithoutLineFeeds(in, out, block.data(), block.size());
}

// Hands out its text, then fails as a device error does.
class FailingReadBuf : public std::streambuf {
public:
    explicit FailingReadBuf(std::string text) : text_(std::move(text))
    {
        setg(text_.data(), text_.data(), text_.data() + text_.size());
    }

protected:
    int_type underflow() override { throw std::runtime_error("read error"); }

private:
    std::string text_;
};

// Takes limit bytes, then refuses every further byte as a full disk does.
class FullDiskBuf : public std::streambuf {
public:
    explicit FullDiskBuf(std::size_t limit) : limit_(limit) {}
    std::string written;

protected:
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof()) || written.size() >= limit_)
            return traits_type::eof();
        written += traits_type::to_char_type(c);
        return c;
    }

private:
    std::size_t limit_;
};

} // namespace

TEST(Copy, LeavesOutEveryLfAndNothingElseAtAnyBlockSize)
{
    const std::string inputs[] = {
        "",
        "\n",
        "\n\n\n\n\n\n\n\n\n",
        "no line feed at all",
        "one\ntwo\n\nthree\n",
        "\nstarts and ends with LF\n",
        "crlf\r\nkeeps\r\nits\r\nCR\r\n",
        everyByte() + everyByte(),
        randomText(300000, 1),
        std::string(70000, '\n') + "x" + std::string(70000, 'y'),
    };
    for (std::size_t blockSize : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7},
                                  std::size_t{16}, std::size_t{4096}, copyBlockSize}) {
        for (const std::string& input : inputs) {
            std::istringstream in(input);
            std::ostringstream out;
            ASSERT_EQ(copy(in, out, blockSize), CopyResult::copied) << "block size " << blockSize;
            ASSERT_EQ(out.str(), withoutLf(input))
                << "block size " << blockSize << ", input of " << input.size() << " bytes";
        }
    }
}

TEST(Copy, ReportsAReadErrorAndKeepsTheBlocksCopiedBeforeIt)
{
    const std::string delivered = "ab\ncd\nef\ngh\n"; // three whole blocks of four
    FailingReadBuf failing(delivered);
    std::istream in(&failing);
    std::ostringstream out;
    EXPECT_EQ(copy(in, out, 4), CopyResult::readFailed);
    EXPECT_EQ(out.str(), withoutLf(delivered));
}

TEST(Copy, StopsAtTheFirstWriteThatFails)
{
    const std::string input = randomText(10000, 2);
    std::istringstream in(input);
    FullDiskBuf full(25);
    std::ostream out(&full);
    EXPECT_EQ(copy(in, out, 16), CopyResult::writeFailed);
    EXPECT_EQ(full.written, withoutLf(input).substr(0, 25));
    EXPECT_LT(in.tellg(), 100) << "went on reading after the output failed";
}

// Every kernel this processor runs, on buffers whose LFs fall on and around
// the 8-, 16- and 64-byte edges the kernels work in, must give the plain result
// and leave the bytes past the buffer alone.
TEST(Kernels, MatchThePlainResultOnEveryLengthAndDensity)
{
    std::mt19937 random(3);
    std::vector<std::string> buffers;
    for (std::size_t size = 0; size <= 260; ++size) {
        for (unsigned percent : {0u, 3u, 30u, 90u, 100u}) {
            std::string bytes(size, '\0');
            for (char& c : bytes)
                c = random() % 100 < percent ? '\n' : static_cast<char>(random() % 256);
            buffers.push_back(bytes);
        }
        std::string edges(size, 'x'); // LF just before, on and after each edge
        for (std::size_t i = 0; i < size; ++i)
            if (i % 8 == 7 || i % 16 == 0 || i % 64 == 63 || i % 64 == 1)
                edges[i] = '\n';
        buffers.push_back(edges);
    }
    buffers.push_back(randomText(3 * copyBlockSize + 5, 4));
    buffers.push_back(std::string(copyBlockSize, '\n'));

    const std::string guard(64, '\x5a');
    for (const LfKernel& kernel : lfKernels()) {
        for (const std::string& bytes : buffers) {
            std::string work = bytes + guard;
            const std::size_t kept = kernel.drop(work.data(), bytes.size());
            const std::string expected = withoutLf(bytes);
            ASSERT_EQ(work.substr(0, kept), expected)
                << kernel.name << " on " << bytes.size() << " bytes";
            ASSERT_EQ(work.substr(bytes.size()), guard) << kernel.name << " wrote past the buffer";
        }
    }
}
