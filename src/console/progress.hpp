// A line on a terminal that tells how far a long copy has come.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

class Progress {
public:
    using Clock = std::chrono::steady_clock;
    // Puts a line in place of the one drawn before; "" takes it away.
    using Draw = std::function<void(const std::string& line)>;

    // Nothing is drawn without draw (when standard error is no terminal, or the
    // cursor stands after a prompt). draw shows the name as a terminal may.
    Progress(std::string name, Draw draw, Clock::time_point start = Clock::now());
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // done bytes of total are copied: shown once the copy has run for a
    // second, redrawn at most four times a second.
    void advance(std::uint64_t done, std::uint64_t total, Clock::time_point now = Clock::now());
    // Takes the line away, if one was drawn, before the tool says how it went.
    void finish();

    // The cells a line may take on a terminal this many columns wide (0: not
    // known): one less, so that the cursor never wraps; none where even a
    // short line would not fit.
    static std::size_t cells(std::size_t columns);

    // "name: 1.5 of 3.0 GiB (50%)", a long name cut to its last 40 bytes or
    // fewer, from the start of a character.
    static std::string line(const std::string& name, std::uint64_t done, std::uint64_t total);

private:
    std::string name_;
    Draw draw_;
    Clock::time_point next_; // the earliest the line is drawn again
    bool drawn_ = false;
};
