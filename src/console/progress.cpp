#include "console/progress.hpp"

#include "names/utf8.hpp"

#include <cstdio>

namespace {

constexpr std::size_t shownName = 40;

// The amount in the unit that suits the whole, with one decimal.
std::string amount(std::uint64_t bytes, std::uint64_t total, bool withUnit)
{
    const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    double scale = 1;
    for (; unit < 4 && total >= 1024 * scale; ++unit)
        scale *= 1024;
    char text[32];
    if (unit == 0)
        std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(bytes));
    else
        std::snprintf(text, sizeof text, "%.1f", bytes / scale);
    return withUnit ? std::string(text) + " " + units[unit] : text;
}

} // namespace

Progress::Progress(std::string name, Draw draw, Clock::time_point start)
    : name_(std::move(name)), draw_(std::move(draw)), next_(start + std::chrono::seconds(1))
{
}

void Progress::advance(std::uint64_t done, std::uint64_t total, Clock::time_point now)
{
    if (!draw_ || now < next_)
        return;
    draw_(line(name_, done, total));
    drawn_ = true;
    next_ = now + std::chrono::milliseconds(250);
}

void Progress::finish()
{
    if (drawn_)
        draw_("");
    drawn_ = false;
}

std::size_t Progress::cells(std::size_t columns)
{
    constexpr std::size_t narrowest = 10; // "a: 1.0 of" and no more
    return columns == 0 ? 79 : columns >= narrowest ? columns - 1 : 0;
}

std::string Progress::line(const std::string& name, std::uint64_t done, std::uint64_t total)
{
    const std::string shown = name.size() > shownName ? "..." + name.substr(lastBytesAt(name, shownName)) : name;
    const unsigned percent = total == 0 || done >= total ? 100 : static_cast<unsigned>(done * 100 / total);
    return shown + ": " + amount(done, total, false) + " of " + amount(total, total, true) + " (" + std::to_string(percent) + "%)";
}
