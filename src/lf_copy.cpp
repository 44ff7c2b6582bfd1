#include "lf_copy.hpp"

CopyResult copyWithoutLineEnds(const ReadBlock& read, const WriteBlock& write, LineEnds rule, char* buffer,
                               std::size_t size, std::size_t ready)
{
    // A CR at the end of a block waits at the front of the buffer: the next
    // block tells whether an LF follows it.
    std::size_t heldCr = 0;
    std::ptrdiff_t got = ready > 0 ? static_cast<std::ptrdiff_t>(ready) : read(buffer, size);
    for (;;) {
        if (got <= 0) {
            if (heldCr != 0 && !write(buffer, heldCr))
                return CopyResult::writeFailed;
            return got == 0 ? CopyResult::copied : CopyResult::readFailed;
        }
        const std::size_t filled = heldCr + static_cast<std::size_t>(got);
        const bool endsInCr = rule == LineEnds::crlf && buffer[filled - 1] == '\r';
        const std::size_t kept = dropLineEnds(rule, buffer, filled); // keeps that last CR
        heldCr = endsInCr ? 1 : 0;
        if (kept > heldCr && !write(buffer, kept - heldCr))
            return CopyResult::writeFailed;
        if (endsInCr)
            buffer[0] = '\r';
        got = read(buffer + heldCr, size - heldCr);
    }
}
