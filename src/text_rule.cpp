#include "text_rule.hpp"

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
