// Prints how many GB/s each line-end kernel drops in memory, for each rule, on
// text of about 46 bytes a line (CRLF line ends for the crlf rule), in
// bytes, UTF-16 and UTF-32: blocks of 128 KiB, in the processor's cache as a
// block just read is, each a new stretch of 16 MiB of text, so the processor
// cannot learn the line ends of a block it has seen (it would, round after
// round, and a kernel that branches on them would seem faster than it is).

#include "copy/kernels.hpp"

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

// The text in units of unit bytes, little-endian: each byte of it padded with NULs.
std::string inUnits(const std::string& bytes, std::size_t unit)
{
    std::string units(bytes.size() * unit, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        units[i * unit] = bytes[i];
    return units;
}

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The median seconds each kernel took on a block, the copy into the block
// taken off. Block after block of source, the kernels take turns on each, so a
// busy spell of a shared machine slows them alike.
std::vector<double> timed(const std::string& source, std::size_t block, const std::vector<LineEndKernel>& kernels)
{
    std::vector<char> work(block);
    std::vector<std::vector<double>> times(kernels.size() + 1); // the last: the copy alone
    for (int pass = 0; pass < 4; ++pass) {
        for (std::size_t at = 0; at + block <= source.size(); at += block) {
            // The block in the cache before any is timed, so that each finds it alike.
            std::memcpy(work.data(), source.data() + at, block);
            for (std::size_t k = 0; k < times.size(); ++k) {
                const auto start = std::chrono::steady_clock::now();
                std::memcpy(work.data(), source.data() + at, block); // a fresh block, as a read gives
                if (k < kernels.size() && kernels[k].drop(work.data(), block) == 0)
                    std::printf("(kernel %s kept nothing)\n", kernels[k].name);
                times[k].push_back(seconds(start));
            }
        }
    }
    std::vector<double> medians;
    for (std::vector<double>& each : times) {
        std::nth_element(each.begin(), each.begin() + each.size() / 2, each.end());
        medians.push_back(each[each.size() / 2]);
    }
    for (double& median : medians)
        median -= medians.back();
    medians.pop_back();
    for (const double median : medians)
        if (median <= 0)
            std::printf("(a kernel took no time beyond the copy: the figures below mean nothing)\n");
    return medians;
}

} // namespace

int main()
{
    const std::size_t block = 128 * 1024, stretch = 16 * 1024 * 1024;
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
            inUnits(text(stretch / unit, rule.rule.ends == LineEnds::crlf ? "\r\n" : "\n"), unit);
        const std::vector<LineEndKernel> kernels = lineEndKernels(rule.rule);
        const std::vector<double> median = timed(source, block, kernels);
        for (std::size_t k = 0; k < kernels.size(); ++k) // the tool takes the last, the fastest this processor runs
            std::printf("%-10s %-12s %8.2f%s\n", rule.label, kernels[k].name, block / median[k] / 1e9,
                        k + 1 == kernels.size() ? "  (the tool's)" : "");
    }
}
