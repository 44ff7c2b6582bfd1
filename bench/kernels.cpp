// Prints how many GB/s each line-end kernel drops in memory, for each rule, on
// text of about 40 characters a line (CRLF line ends for the crlf rule), in
// bytes, UTF-16 and UTF-32.

#include "lf_kernels.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::string text(std::size_t size, const char* lineEnd)
{
    std::mt19937 random(1);
    std::string bytes;
    while (bytes.size() < size) {
        for (unsigned word = random() % 16; word > 0; --word)
            bytes += std::string(1 + random() % 9, static_cast<char>('a' + random() % 26)) + ' ';
        bytes += lineEnd;
    }
    bytes.resize(size);
    return bytes;
}

// The fewest seconds one round of refilling work from source and then running
// each kernel took, the refill's own time taken off. The kernels take turns
// round by round, so a busy spell of a shared machine slows them alike; the
// fastest round is the kernel's own speed.
std::vector<double> timed(const std::string& source, std::vector<char>& work, const std::vector<LfKernel>& kernels,
                          int rounds)
{
    std::vector<double> best(kernels.size() + 1, 1e9); // the last: the refill alone
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t k = 0; k < best.size(); ++k) {
            const auto start = std::chrono::steady_clock::now();
            std::memcpy(work.data(), source.data(), work.size()); // a fresh block, as a read gives
            if (k < kernels.size() && kernels[k].drop(work.data(), work.size()) == 0)
                std::printf("(kernel %s kept nothing)\n", kernels[k].name);
            best[k] = std::min(best[k], std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
    }
    for (std::size_t k = 0; k < kernels.size(); ++k)
        best[k] -= best.back();
    best.pop_back();
    return best;
}

} // namespace

// The text in units of unit bytes, little-endian: each byte of it padded with NULs.
std::string inUnits(const std::string& bytes, std::size_t unit)
{
    std::string units;
    for (const char c : bytes)
        units += std::string(1, c) + std::string(unit - 1, '\0');
    return units;
}

int main()
{
    const std::size_t block = 128 * 1024; // in the processor's cache: the kernels' own speed
    const int rounds = 3000;
    const struct {
        const char* label;
        TextRule rule;
    } rules[] = {
        {"lf", {Units::bytes, LineEnds::lf}},          {"crlf", {Units::bytes, LineEnds::crlf}},
        {"utf16 lf", {Units::utf16le, LineEnds::lf}},  {"utf16 crlf", {Units::utf16le, LineEnds::crlf}},
        {"utf32 lf", {Units::utf32le, LineEnds::lf}},  {"utf32 crlf", {Units::utf32le, LineEnds::crlf}},
    };
    std::printf("%-10s %-12s %8s\n", "rule", "kernel", "GB/s");
    for (const auto& rule : rules) {
        const std::size_t unit = unitSize(rule.rule.units);
        const std::string source =
            inUnits(text(block / unit, rule.rule.ends == LineEnds::crlf ? "\r\n" : "\n"), unit);
        std::vector<char> work(block);
        const std::vector<LfKernel> kernels = lfKernels(rule.rule);
        const std::vector<double> seconds = timed(source, work, kernels, rounds);
        for (std::size_t k = 0; k < kernels.size(); ++k) // the tool takes the last, the fastest this processor runs
            std::printf("%-10s %-12s %8.2f%s\n", rule.label, kernels[k].name, block / seconds[k] / 1e9,
                        k + 1 == kernels.size() ? "  (the tool's)" : "");
    }
}
