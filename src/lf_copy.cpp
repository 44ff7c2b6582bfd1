#include "lf_copy.hpp"

#include <cstring>

std::size_t dropLineFeeds(char* data, std::size_t size)
{
    const char* const end = data + size;
    char* out = static_cast<char*>(std::memchr(data, '\n', size));
    if (out == nullptr)
        return size;
    // Move each run between two LFs down over the gap left by the LFs so far.
    for (const char* from = out + 1; from < end;) {
        const char* next = static_cast<const char*>(std::memchr(from, '\n', end - from));
        const char* stop = next != nullptr ? next : end;
        std::memmove(out, from, stop - from);
        out += stop - from;
        from = stop + 1;
    }
    return out - data;
}

CopyResult copyWithoutLineFeeds(std::istream& in, std::ostream& out, char* buffer,
                                std::size_t size)
{
    while (in.good()) {
        in.read(buffer, static_cast<std::streamsize>(size));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got > 0 && !out.write(buffer, static_cast<std::streamsize>(dropLineFeeds(buffer, got))))
            return CopyResult::writeFailed;
    }
    // A short read sets eof and fail; a read error sets bad.
    return in.bad() ? CopyResult::readFailed : CopyResult::copied;
}
