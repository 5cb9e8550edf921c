#pragma once

// How a bench line shows a device's peak beside the load's figure.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace ventaro::bench {

/// ", peak P GFLOPS, F of peak" where the peak is known, ", peak unknown" otherwise.
inline std::string peakText(std::int64_t load, std::optional<double> peak) {
  if (!peak || !(*peak > 0)) {
    return ", peak unknown";
  }
  std::string text(64, '\0');
  const int length =
      std::snprintf(text.data(), text.size(), ", peak %lld GFLOPS, %.2f of peak",
                    static_cast<long long>(*peak), static_cast<double>(load) / *peak);
  text.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return text;
}

} // namespace ventaro::bench
