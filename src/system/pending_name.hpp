// The name a copy is written under until it takes its own, where it needs one.
#pragma once

#include <cstdint>
#include <string>

// lead, then 16 hex digits that mix the process, the time and a count of the
// names this process made (SplitMix64), so that no two runs pick one name,
// then ".tmp".
std::string pendingName(const char* lead, std::uint32_t process, std::uint64_t time, std::uint64_t count);
