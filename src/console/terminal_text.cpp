#include "console/terminal_text.hpp"

#include "names/utf8.hpp"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace {

struct Range {
    char32_t first, last;
};

// East Asian Wide and Fullwidth (Unicode's EastAsianWidth.txt), emoji among them.
constexpr Range wide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC}, {0x23F0, 0x23F0},
    {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},   {0x2648, 0x2653}, {0x267F, 0x267F},
    {0x2693, 0x2693},   {0x26A1, 0x26A1},   {0x26AA, 0x26AB},   {0x26BD, 0x26BE}, {0x26C4, 0x26C5},
    {0x26CE, 0x26CE},   {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3}, {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B}, {0x2728, 0x2728},
    {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},   {0x2757, 0x2757}, {0x2795, 0x2797},
    {0x27B0, 0x27B0},   {0x27BF, 0x27BF},   {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50}, {0x2B55, 0x2B55},
    {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x9FFF},   {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19}, {0xFE30, 0xFE6F},
    {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4}, {0x16FF0, 0x16FF1}, {0x17000, 0x18D08},
    {0x1AFF0, 0x1AFFE}, {0x1B000, 0x1B2FF}, {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E},
    {0x1F191, 0x1F19A}, {0x1F200, 0x1F251}, {0x1F260, 0x1F265}, {0x1F300, 0x1F64F}, {0x1F680, 0x1F6FF},
    {0x1F7E0, 0x1F7EB}, {0x1F7F0, 0x1F7F0}, {0x1F900, 0x1F9FF}, {0x1FA70, 0x1FAFF},
    {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

// Combining marks and zero-width characters of the common scripts; one missed here
// counts one cell, which only shortens a line.
constexpr Range zero[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x05BF, 0x05BF}, {0x05C1, 0x05C2},
    {0x05C4, 0x05C5}, {0x05C7, 0x05C7}, {0x0610, 0x061A}, {0x064B, 0x065F}, {0x0670, 0x0670},
    {0x06D6, 0x06DC}, {0x06DF, 0x06E4}, {0x06E7, 0x06E8}, {0x06EA, 0x06ED}, {0x0900, 0x0902},
    {0x093A, 0x093A}, {0x093C, 0x093C}, {0x0941, 0x0948}, {0x094D, 0x094D}, {0x0951, 0x0957},
    {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x0E47, 0x0E4E}, {0x1160, 0x11FF}, {0x1AB0, 0x1AFF},
    {0x1DC0, 0x1DFF}, {0x200B, 0x200F}, {0x202A, 0x202E}, {0x2060, 0x2064}, {0x20D0, 0x20FF},
    {0x302A, 0x302D}, {0x3099, 0x309A}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF},
    {0xE0001, 0xE007F}, {0xE0100, 0xE01EF},
};

template <std::size_t N>
bool within(const Range (&ranges)[N], char32_t c)
{
    const Range* at = std::lower_bound(std::begin(ranges), std::end(ranges), c,
                                       [](const Range& range, char32_t value) { return range.last < value; });
    return at != std::end(ranges) && at->first <= c;
}

// The character at text[at] and its length in bytes; a byte that is no UTF-8 is one of its own.
std::size_t decode(const std::string& text, std::size_t at, char32_t& c)
{
    const std::size_t length = utf8At(text, at, c);
    if (length == 0)
        c = static_cast<unsigned char>(text[at]);
    return length == 0 ? 1 : length;
}

std::size_t cellsAt(const std::string& text, std::size_t at, std::size_t& length)
{
    char32_t c = 0;
    length = decode(text, at, c);
    if (length == 1 && c >= 0x80) // no UTF-8
        return 1;
    return within(wide, c) ? 2 : within(zero, c) ? 0 : 1;
}

} // namespace

std::size_t cellsOf(const std::string& text)
{
    std::size_t cells = 0;
    for (std::size_t at = 0, length = 0; at < text.size(); at += length)
        cells += cellsAt(text, at, length);
    return cells;
}

std::string fitCells(const std::string& text, std::size_t columns)
{
    std::size_t cells = 0, at = 0;
    for (std::size_t length = 0; at < text.size(); at += length) {
        cells += cellsAt(text, at, length);
        if (cells > columns)
            break;
    }
    return text.substr(0, at);
}

std::string harmless(const std::string& text, bool eightBit, bool utf8Terminal)
{
    std::string shown;
    for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
        char32_t c = 0;
        length = utf8Terminal ? decode(text, at, c) : 1;
        if (!utf8Terminal)
            c = static_cast<unsigned char>(text[at]);
        const bool utf8 = length > 1 || c < 0x80;
        const bool control = c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F && (utf8 || eightBit || !utf8Terminal));
        shown += control ? std::string(1, '?') : text.substr(at, length);
    }
    return shown;
}

bool utf8Locale(const char* lcAll, const char* lcCtype, const char* lang)
{
    for (const char* setting : {lcAll, lcCtype, lang}) {
        if (setting == nullptr || *setting == '\0')
            continue;
        // language_territory.codeset@modifier, or a codeset alone (LC_CTYPE=UTF-8, as macOS sets it)
        std::string codeset = std::string(setting).substr(0, std::string(setting).find('@'));
        codeset = codeset.substr(codeset.find('.') == std::string::npos ? 0 : codeset.find('.') + 1);
        std::string folded;
        for (const char c : codeset)
            if (c != '-')
                folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return folded == "utf8";
    }
    return false;
}
