// The kernels that drop line ends from a block in place, one set per rule.
#pragma once

#include "copy/text_rule.hpp"

#include <cstddef>
#include <vector>

// Removes the line ends of data[0, size) in place, keeping every other unit
// whole and in its order, and returns how many bytes remain; size is a whole
// number of units. A CR in the last unit is kept: the block cannot tell what
// follows it. Uses the fastest kernel below.
std::size_t dropLineEnds(TextRule rule, char* data, std::size_t size);

// One way of doing what dropLineEnds does for one rule. All give the same bytes.
struct LineEndKernel {
    const char* name;
    std::size_t (*drop)(char* data, std::size_t size);
};

// The kernels this processor can run for a rule: the portable one first, the fastest last.
std::vector<LineEndKernel> lineEndKernels(TextRule rule);
