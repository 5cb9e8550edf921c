#pragma once

// Shared bits of the fuzz targets.

#include <cstdio>
#include <cstdlib>

namespace ventaro::fuzz {

// Ends the run as a finding when a property does not hold; libFuzzer keeps the input that did it.
inline void check(bool holds, const char* property) {
  if (!holds) {
    std::fprintf(stderr, "fuzz property violated: %s\n", property);
    std::abort();
  }
}

} // namespace ventaro::fuzz
