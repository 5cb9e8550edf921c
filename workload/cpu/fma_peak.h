#pragma once

// The processor's single-precision FMA peak, measured: independent multiply-add chains at
// the widest vector width the processor offers, on every thread at once. The processor
// reports neither how many FMA units a core has nor the clock they run at under load, so the
// chains find out.

#include <optional>
#include <string>

namespace ventaro::gpu::cpu {

struct FmaPeak {
  double gflops = 0;
  std::string instructions; // which code path ran, e.g. "AVX2 + FMA"
};

/// Runs the chains on `threads` threads for about `seconds` each and sums their rates, each
/// over the processor time its thread ran; none where a thread cannot be started (an
/// address-space limit, say).
std::optional<FmaPeak> measureFmaPeak(int threads, double seconds);

} // namespace ventaro::gpu::cpu
