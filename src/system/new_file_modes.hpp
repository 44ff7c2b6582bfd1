// The permission bits of a new copy, from its input's: plain numbers, so the
// rule is tested alone on any system.
#pragma once

struct CopyModes {
    unsigned made;   // what the copy is created with, before it has the input's group
    unsigned wanted; // what it is given once its group is the input's
};

// inputMode: the input's mode bits; umaskBits: the process's umask; namedAcl:
// the input has an access ACL naming users or groups, which the mode cannot carry.
// No execute bits, and no more than the input has less the umask; named entries
// leave only the owner's. Until the copy's group is the input's, it has no group
// bits, and others no more than the input's group has: members of the copy's
// group may be among the input's others.
CopyModes copyModes(unsigned inputMode, unsigned umaskBits, bool namedAcl);
