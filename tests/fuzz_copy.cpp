// libFuzzer target: for any bytes, any block size, any units and either
// line-end rule, the copy and every kernel must give the input with its line
// ends removed and nothing else changed.

#include "bytes.hpp"
#include "copy/blocks.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    // The first two bytes choose the rule (the units and the line ends) and the block size, 8 to 4103.
    const TextRule rule{static_cast<Units>(data[0] % 5), data[0] & 0x80 ? LineEnds::crlf : LineEnds::lf};
    const std::size_t unit = unitSize(rule.units);
    const std::size_t blockSize = (std::size_t{data[0] & 0x70u} << 4 | data[1]) + 8;
    const std::string input(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::string expected = withoutLineEnds(input, rule);

    // Each read hands out at most a third of what it may, so blocks end anywhere.
    std::size_t next = 0;
    const ReadBlock read = [&](char* to, std::size_t room) {
        const std::size_t n = std::min(input.size() - next, room / 3 + 1);
        std::copy_n(input.data() + next, n, to);
        next += n;
        return static_cast<std::ptrdiff_t>(n);
    };
    std::string written;
    const WriteBlock write = [&](const char* from, std::size_t n) {
        written.append(from, n);
        return true;
    };
    std::vector<char> block(blockSize);
    if (copyWithoutLineEnds(read, write, rule, block.data(), block.size()) != Outcome::copied ||
        written != expected)
        std::abort();

    for (const LineEndKernel& kernel : lineEndKernels(rule)) { // on whole units
        const std::string units = input.substr(0, input.size() - input.size() % unit);
        std::vector<char> work(units.begin(), units.end());
        const std::size_t kept = kernel.drop(work.data(), work.size());
        if (std::string(work.data(), kept) != withoutLineEnds(units, rule))
            std::abort();
    }
    return 0;
}
