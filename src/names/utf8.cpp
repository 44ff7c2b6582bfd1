#include "names/utf8.hpp"

void appendUtf8(std::string& text, char32_t c)
{
    if (c < 0x80) {
        text += static_cast<char>(c);
    } else if (c < 0x800) {
        text += static_cast<char>(0xC0 | c >> 6);
        text += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        text += static_cast<char>(0xE0 | c >> 12);
        text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | c >> 18);
        text += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::size_t utf8At(const std::string& text, std::size_t at, char32_t& c)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                                : lead >= 0xF0 && lead <= 0xF4                                 ? 4
                                                                                                               : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto byte = static_cast<unsigned char>(text[at + k]);
        if ((byte & 0xC0) != 0x80)
            return 0;
        c = c << 6 | (byte & 0x3F);
    }
    // no longer form than needed, no surrogate, nothing past U+10FFFF
    if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return length;
}

bool isUtf8BeyondAscii(const std::string& text)
{
    bool beyond = false;
    char32_t c = 0;
    for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
        length = utf8At(text, i, c);
        if (length == 0)
            return false;
        beyond = beyond || length > 1;
    }
    return beyond;
}

std::size_t characterAt(const std::string& text, std::size_t at)
{
    char32_t c = 0;
    const std::size_t length = utf8At(text, at, c);
    return length == 0 ? 1 : length;
}

std::string startOf(const std::string& text, std::size_t characters)
{
    std::size_t at = 0;
    for (std::size_t seen = 0; at < text.size() && seen < characters; ++seen)
        at += characterAt(text, at);
    return at < text.size() ? text.substr(0, at) + "..." : text;
}

std::size_t lastBytesAt(const std::string& text, std::size_t bytes)
{
    std::size_t at = 0;
    while (at < text.size() && text.size() - at > bytes)
        at += characterAt(text, at);
    return at;
}
