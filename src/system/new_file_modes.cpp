#include "system/new_file_modes.hpp"

CopyModes copyModes(unsigned inputMode, unsigned umaskBits, bool namedAcl)
{
    const unsigned wanted = inputMode & (namedAcl ? 0600u : 0666u) & ~umaskBits;
    return {(wanted & 0600u) | (wanted & 06u & inputMode >> 3), wanted};
}
