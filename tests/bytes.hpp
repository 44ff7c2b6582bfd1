// Byte strings the tests compare the tool's output against.
#pragma once

#include "copy/kernels.hpp"

#include <cstddef>
#include <string>

// The text with its line ends removed under rule, unit by unit: every LF, and
// under the crlf rule every CR right before one; a part of a unit at the end kept.
inline std::string withoutLineEnds(const std::string& text, TextRule rule)
{
    const std::size_t unit = unitSize(rule.units);
    const std::string lf = unitBytes(rule.units, '\n'), cr = unitBytes(rule.units, '\r');
    const auto is = [&](std::size_t at, const std::string& which) { return text.compare(at, unit, which) == 0; };
    std::string kept;
    std::size_t at = 0;
    for (; at + unit <= text.size(); at += unit)
        if (!is(at, lf) && !(rule.ends == LineEnds::crlf && is(at, cr) && is(at + unit, lf)))
            kept += text.substr(at, unit);
    return kept + text.substr(at);
}

// Each of the 256 byte values once, in order.
inline std::string everyByte()
{
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        bytes += static_cast<char>(b);
    return bytes;
}
