#pragma once

// How a count of identical multiplications is replayed from a few prebuilt graphs: graphs
// of 1, 2, 4, ... 2^maxGraphLevel multiplications, the largest launched as often as it fits,
// then one graph per remaining binary digit. Memory and set-up stay bounded however large
// the count (one graph of the whole count would grow with it).

#include <cstdint>
#include <vector>

namespace ventaro::gpu {

/// The largest graph holds 2^maxGraphLevel multiplications.
inline constexpr int maxGraphLevel = 6;

/// One graph of 2^level multiplications, launched `times` times in a row.
struct GraphLaunch {
  int level = 0;
  std::int64_t times = 0;
  bool operator==(const GraphLaunch&) const = default;
};

/// The launches, largest graph first, that replay `count` multiplications; empty for a count
/// below 1. At most maxGraphLevel + 1 graphs, each used once in the list.
std::vector<GraphLaunch> launchPlan(std::int64_t count);

} // namespace ventaro::gpu
