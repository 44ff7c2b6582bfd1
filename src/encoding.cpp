#include "encoding.hpp"

#include <cstring>

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
