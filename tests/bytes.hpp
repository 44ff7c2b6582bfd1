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

// The text with every LF, and every CR right before one, removed.
inline std::string withoutCrLf(const std::string& text)
{
    std::string kept;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] != '\n' && !(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            kept += text[i];
    return kept;
}

// Each of the 256 byte values once, in order.
inline std::string everyByte()
{
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        bytes += static_cast<char>(b);
    return bytes;
}
