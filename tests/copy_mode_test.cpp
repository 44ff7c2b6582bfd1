#include "copy_mode.hpp"

#include <gtest/gtest.h>

// A new copy's modes (created with, then given once in the input's group).
TEST(CopyModes, NeverGiveACopyAPermissionItsInputDenies)
{
    const struct {
        unsigned input, umask;
        bool namedAcl;
        CopyModes expected;
        const char* why;
    } rows[] = {
        {0644, 022, false, {0604, 0644}, "others read as the input's group does, group bits wait for the group"},
        {0640, 022, false, {0600, 0640}, "the input's group may read, its others not: a member of the copy's group is one"},
        {0604, 022, false, {0600, 0604}, "others of the input read, its group not: the copy's group could hold them"},
        {0666, 077, false, {0600, 0600}, "the umask takes group and others"},
        {0755, 022, false, {0604, 0644}, "no execute bits"},
        {0644, 022, true, {0600, 0600}, "named ACL entries leave the owner's bits only"},
        {0400, 0, false, {0400, 0400}, "a read-only input gives a read-only copy"},
        {04666, 0, false, {0606, 0666}, "no set-ID bits"},
    };
    for (const auto& row : rows) {
        const CopyModes modes = copyModes(row.input, row.umask, row.namedAcl);
        EXPECT_EQ(modes.made, row.expected.made) << row.why;
        EXPECT_EQ(modes.wanted, row.expected.wanted) << row.why;
    }
}
