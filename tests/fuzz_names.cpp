// libFuzzer target: for any typed bytes, read as on POSIX systems or as on
// Windows, the name reader ends, hands out no name longer than the longest,
// and no more text than it was given: nothing is handed out twice.

#include "names/typed.hpp"

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::string typed(reinterpret_cast<const char*>(data + 1), size - 1);
    std::istringstream in(typed);
    NameReader reader(*in.rdbuf(), (data[0] & 1) != 0);
    std::size_t names = 0, handedOut = 0;
    for (Name name; reader.next(name); ++names) {
        if (name.text.size() > NameReader::longestName || names > typed.size())
            std::abort();
        if (!name.tooLong)
            handedOut += name.text.size();
    }
    if (handedOut > typed.size())
        std::abort();
    return 0;
}
