// How text is encoded: what its byte-order mark says.
#pragma once

#include "lf_kernels.hpp"

#include <cstddef>

// What a file that starts with these bytes is made of: the units of UTF-32 or
// UTF-16 when it starts with their byte-order mark, else bytes. (A UTF-8 file
// is bytes: its LF and CR are bytes too.)
Units unitsOf(const char* start, std::size_t size);
