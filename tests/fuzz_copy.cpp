// libFuzzer target: for any bytes and any block size, the copy and every LF
// kernel must give the input with each LF removed and nothing else changed.

#include "bytes.hpp"
#include "lf_copy.hpp"

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    // The first two bytes choose the block size, 1 to 65536.
    const std::size_t blockSize = (std::size_t{data[0]} << 8 | data[1]) + 1;
    const std::string input(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::string expected = withoutLf(input);

    std::istringstream in(input);
    std::ostringstream out;
    std::vector<char> block(blockSize);
    if (copyWithoutLineFeeds(in, out, block.data(), block.size()) != CopyResult::copied ||
        out.str() != expected)
        std::abort();

    for (const LfKernel& kernel : lfKernels()) {
        std::vector<char> work(input.begin(), input.end());
        const std::size_t kept = kernel.drop(work.data(), work.size());
        if (std::string(work.data(), kept) != expected)
            std::abort();
    }
    return 0;
}
