#pragma once

// The processor's single-precision FMA peak, measured: independent multiply-add chains at
// the widest vector width the processor offers, on every thread at once.

#include <string>

namespace ventaro::bench {

struct FmaPeak {
  double gflops = 0;
  std::string instructions; // which code path ran, e.g. "AVX2 + FMA"
};

/// Runs the chains on `threads` threads for about `seconds` each and sums their rates.
FmaPeak measureFmaPeak(int threads, double seconds);

} // namespace ventaro::bench
