// Byte strings the tests compare the tool's output against.
#pragma once

#include <algorithm>
#include <string>

// The text with every LF removed and nothing else changed.
inline std::string withoutLf(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
    return text;
}

// Each of the 256 byte values once, in order.
inline std::string everyByte()
{
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        bytes += static_cast<char>(b);
    return bytes;
}
