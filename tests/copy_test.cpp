#include "bytes.hpp"
#include "lf_copy.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
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

// A heap block of exactly blockSize bytes, so AddressSanitizer sees any access past it.
CopyResult copy(std::istream& in, std::ostream& out, std::size_t blockSize)
{
    const std::unique_ptr<char[]> block(new char[blockSize]);
    return copyWithoutLineFeeds(in, out, block.get(), blockSize);
}

// Hands out its text through underflow, chunk bytes at a time as a file buffer
// does (0: no get area, one byte a call as an unbuffered device), then ends or
// fails as a device error does.
class SourceBuf : public std::streambuf {
public:
    SourceBuf(std::string text, std::size_t chunk, bool fails)
        : text_(std::move(text)), chunk_(chunk), fails_(fails)
    {
    }

protected:
    int_type underflow() override
    {
        if (next_ == text_.size()) {
            if (fails_)
                throw std::runtime_error("read error");
            return traits_type::eof();
        }
        if (chunk_ > 0) {
            const std::size_t n = std::min(chunk_, text_.size() - next_);
            setg(&text_[next_], &text_[next_], &text_[next_] + n);
            next_ += n;
        }
        return traits_type::to_int_type(chunk_ > 0 ? *gptr() : text_[next_]);
    }
    int_type uflow() override
    {
        if (chunk_ > 0)
            return std::streambuf::uflow();
        const int_type c = underflow();
        ++next_;
        return c;
    }

private:
    std::string text_;
    std::size_t chunk_, next_ = 0;
    bool fails_;
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

// Whatever the stream buffer hands out before its end or a read error, in
// pieces smaller or larger than a block, all of it arrives without its LFs.
TEST(Copy, KeepsEveryByteDeliveredBeforeTheEndOrAReadError)
{
    const std::string text = randomText(1000, 5);
    for (const bool fails : {false, true}) {
        for (const std::size_t chunk : {0, 1, 5, 64, 999, 4096}) {
            for (const std::size_t blockSize : {1, 4, 7, 100, 4096}) {
                SourceBuf source(text, chunk, fails);
                std::istream in(&source);
                std::ostringstream out;
                const std::string where = std::string(fails ? "failing" : "ending") + " source, chunk " +
                                          std::to_string(chunk) + ", block " + std::to_string(blockSize);
                ASSERT_EQ(copy(in, out, blockSize), fails ? CopyResult::readFailed : CopyResult::copied)
                    << where;
                ASSERT_EQ(out.str(), withoutLf(text)) << where;
            }
        }
    }
}

TEST(Copy, RefusesABufferOfNoBytes)
{
    std::istringstream in("a\nb\n");
    std::ostringstream out;
    char block[1];
    EXPECT_THROW(copyWithoutLineFeeds(in, out, block, 0), std::invalid_argument);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(in.tellg(), 0);
}

// The file reads through the buffer given, so each read of it can fill a block.
TEST(Copy, ReadsAFileThroughTheBufferGiven)
{
    const std::string text = randomText(10000, 6);
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("nonl-read-buffer-" + std::to_string(std::random_device()()));
    std::ofstream(path, std::ios::binary) << text;
    std::vector<char> readBuffer(4096, '\x5a');
    std::ifstream in;
    setReadBuffer(in, readBuffer.data(), readBuffer.size());
    in.open(path, std::ios::binary);
    std::ostringstream out;
    EXPECT_EQ(copy(in, out, copyBlockSize), CopyResult::copied);
    in.close();
    std::filesystem::remove(path);
    EXPECT_EQ(out.str(), withoutLf(text));
    EXPECT_NE(std::string(readBuffer.begin(), readBuffer.end()), std::string(4096, '\x5a'))
        << "the file was not read through the buffer";
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
// the 8-, 16- and 64-byte edges the kernels work in, must give the plain result.
// Each runs on a heap buffer of exactly the size given, so AddressSanitizer
// catches a read or write past its end.
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

    for (const LfKernel& kernel : lfKernels()) {
        for (const std::string& bytes : buffers) {
            const std::unique_ptr<char[]> work(new char[bytes.size()]);
            std::copy(bytes.begin(), bytes.end(), work.get());
            const std::size_t kept = kernel.drop(work.get(), bytes.size());
            ASSERT_EQ(std::string(work.get(), kept), withoutLf(bytes))
                << kernel.name << " on " << bytes.size() << " bytes";
        }
    }
}

namespace {

// The kernel this processor should get, worked out here from its features.
std::string expectedKernel()
{
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi2"))
        return "avx512vbmi2";
    if (__builtin_cpu_supports("ssse3"))
        return "ssse3";
#endif
    return "portable";
}

} // namespace

TEST(Kernels, TheFastestThisProcessorRunsIsInUse)
{
    EXPECT_EQ(std::string(activeKernel().name), expectedKernel());
    EXPECT_EQ(std::string(lfKernels().back().name), expectedKernel());
}

namespace {

// Static initialisers of different files run in no set order: one here may
// come before the copy's own.
const std::string droppedDuringStartUp = [] {
    std::string text = "a\nb\n\nc";
    text.resize(dropLineFeeds(&text[0], text.size()));
    return text;
}();

} // namespace

TEST(Kernels, WorkFromAStaticInitialiserOfAnotherFile)
{
    EXPECT_EQ(droppedDuringStartUp, "abc");
}
