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

// The fewest seconds that rounds of refilling work from source and then
// running drop took in several tries: the others were disturbed.
template <typename Drop>
double timed(const std::string& source, std::vector<char>& work, int rounds, Drop drop)
{
    double best = 1e9;
    for (int attempt = 0; attempt < 9; ++attempt) {
        const auto start = std::chrono::steady_clock::now();
        for (int round = 0; round < rounds; ++round) {
            std::memcpy(work.data(), source.data(), work.size()); // a fresh block, as a read gives
            drop(work.data(), work.size());
        }
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
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
    const int rounds = 1000; // 128 MiB through each kernel a try
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
        // The refill's own time is taken off each kernel's.
        const double refill = timed(source, work, rounds, [](char*, std::size_t) {});
        const std::vector<LfKernel> kernels = lfKernels(rule.rule);
        for (const LfKernel& kernel : kernels) {
            std::size_t kept = 0;
            const double seconds =
                timed(source, work, rounds, [&](char* data, std::size_t size) { kept += kernel.drop(data, size); });
            // The tool takes the last, the fastest this processor runs.
            std::printf("%-10s %-12s %8.2f%s%s\n", rule.label, kernel.name,
                        block * double(rounds) / (seconds - refill) / 1e9, kept == 0 ? " (nothing kept?)" : "",
                        &kernel == &kernels.back() ? "  (the tool's)" : "");
        }
    }
}
