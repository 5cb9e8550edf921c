#include "bench/library_reference.h"

namespace ventaro::bench {

// Built where the CUDA backend is not: there is nothing to compare against.
std::optional<double> cublasGflops(int, int, int) {
  return std::nullopt;
}

std::optional<double> cudaPeakGflops(std::string&) {
  return std::nullopt;
}

} // namespace ventaro::bench
