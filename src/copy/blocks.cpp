#include "copy/blocks.hpp"

#include <cstring>

namespace {

// The copy, the first ready bytes of buffer read already.
Outcome copyFrom(const ReadBlock& read, const WriteBlock& write, TextRule rule, char* buffer, std::size_t size,
                 std::size_t ready)
{
    const std::size_t unit = unitSize(rule.units);
    const std::string cr = unitBytes(rule.units, '\r');
    // What a block ends with waits at the front of the buffer for the next one:
    // a part of a unit, and under the crlf rule a CR, which the next block tells
    // whether an LF follows.
    std::size_t held = 0;
    std::ptrdiff_t got = ready > 0 ? static_cast<std::ptrdiff_t>(ready) : read(buffer, size);
    for (;;) {
        if (got <= 0) { // what is held is written as it is: a CR last in the file, an odd last byte
            if (held != 0 && !write(buffer, held))
                return Outcome::writeFailed;
            return got == 0 ? Outcome::copied : Outcome::readFailed;
        }
        const std::size_t filled = held + static_cast<std::size_t>(got);
        const std::size_t whole = filled - filled % unit, part = filled - whole;
        const std::size_t heldCr =
            rule.ends == LineEnds::crlf && whole > 0 && std::memcmp(buffer + whole - unit, cr.data(), unit) == 0 ? unit : 0;
        const std::size_t kept = dropLineEnds(rule, buffer, whole); // keeps that last CR
        if (kept > heldCr && !write(buffer, kept - heldCr))
            return Outcome::writeFailed;
        std::memmove(buffer + heldCr, buffer + whole, part);
        std::memcpy(buffer, cr.data(), heldCr);
        held = heldCr + part;
        got = read(buffer + held, size - held);
    }
}

} // namespace

Outcome copyWithoutLineEnds(const ReadBlock& read, const WriteBlock& write, TextRule rule, char* buffer,
                            std::size_t size)
{
    return copyFrom(read, write, rule, buffer, size, 0);
}

Outcome copyTextWithoutLineEnds(const ReadBlock& read, const WriteBlock& write, LineEnds ends, char* buffer,
                                std::size_t size, const StartCopy& start)
{
    const std::ptrdiff_t first = read(buffer, size);
    if (first < 0)
        return Outcome::readFailed;
    if (!start())
        return Outcome::createFailed;
    if (first == 0)
        return Outcome::copied;
    const auto ready = static_cast<std::size_t>(first);
    return copyFrom(read, write, TextRule{unitsOf(buffer, ready), ends}, buffer, size, ready);
}
