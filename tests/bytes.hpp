// Byte strings the tests compare the tool's output against.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>

// The text with every LF removed and nothing else changed.
inline std::string withoutLf(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
    return text;
}

// The text with every LF unit removed, and under the crlf rule every CR unit
// right before one: units of unit bytes in either byte order, a part of a unit
// at the end kept as it is.
inline std::string withoutLineEnds(const std::string& text, std::size_t unit, bool bigEndian, bool crlf)
{
    const auto is = [&](std::size_t at, char c) {
        if (at + unit > text.size())
            return false;
        for (std::size_t b = 0; b < unit; ++b)
            if (text[at + b] != (b == (bigEndian ? unit - 1 : 0) ? c : '\0'))
                return false;
        return true;
    };
    std::string kept;
    std::size_t at = 0;
    for (; at + unit <= text.size(); at += unit)
        if (!is(at, '\n') && !(crlf && is(at, '\r') && is(at + unit, '\n')))
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
