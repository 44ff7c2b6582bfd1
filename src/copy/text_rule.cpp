#include "copy/text_rule.hpp"

#include <cstring>

std::size_t unitSize(Units units)
{
    return units == Units::bytes ? 1 : units == Units::utf16le || units == Units::utf16be ? 2 : 4;
}

std::string unitBytes(Units units, char c)
{
    std::string unit(unitSize(units), '\0');
    unit[units == Units::utf16be || units == Units::utf32be ? unit.size() - 1 : 0] = c;
    return unit;
}

namespace {

bool startsWith(const char* start, std::size_t size, const char* mark, std::size_t length)
{
    return size >= length && std::memcmp(start, mark, length) == 0;
}

} // namespace

Units unitsOf(const char* start, std::size_t size)
{
    // UTF-32LE's mark begins as UTF-16LE's does, so it is looked for first.
    if (startsWith(start, size, "\xFF\xFE\0\0", 4))
        return Units::utf32le;
    if (startsWith(start, size, "\0\0\xFE\xFF", 4))
        return Units::utf32be;
    if (startsWith(start, size, "\xFF\xFE", 2))
        return Units::utf16le;
    if (startsWith(start, size, "\xFE\xFF", 2))
        return Units::utf16be;
    return Units::bytes;
}
