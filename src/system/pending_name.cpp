#include "system/pending_name.hpp"

#include <cstdio>

std::string pendingName(const char* lead, std::uint32_t process, std::uint64_t time, std::uint64_t count)
{
    std::uint64_t mixed = (std::uint64_t{process} << 32 ^ time) + count * 0x9E3779B97F4A7C15u;
    mixed = (mixed ^ mixed >> 30) * 0xBF58476D1CE4E5B9u;
    mixed = (mixed ^ mixed >> 27) * 0x94D049BB133111EBu;
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(mixed ^ mixed >> 31));
    return lead + std::string(digits) + ".tmp";
}
