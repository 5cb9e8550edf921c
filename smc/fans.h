#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ventaro {

// One fan as the SMC describes it. The record holds no current speed.
struct Fan {
  std::int64_t id = 0; // the fan's index, 0 for the first fan
  std::string name;
  std::int64_t minSpeed = 0;
  std::int64_t maxSpeed = 0;

  friend bool operator==(const Fan&, const Fan&) = default;
};

} // namespace ventaro

// The fan operations. They expect the connection to be open, keep no state, and throw SMCError.
//
// Fan keys are "F", the index as one decimal digit, then a two-letter suffix. An index outside
// 0 to 9 (or a suffix that is not two characters) would not make a four-character key: it is
// refused with unknown(kIOReturnBadArgument, 0) before any exchange, as the key listing refuses
// an index out of its range. It stays an SMCError so that callers that turn SMC failures into
// defaults catch it as well.
namespace ventaro::SMCAccess {

/// The most fans the keys can name (indices 0 to 9).
inline constexpr std::int64_t kMostFans = 10;

// The number of fans, 0 to 255 ("FNum").
std::int64_t readFanCount();

// The fan's name: bytes 4 to 15 of "F<i>ID", each byte one character (ISO 8859-1), as UTF-8,
// trimmed at both ends of tab, space and no-break space only. Zero bytes and other control
// characters stay in the name.
std::string readFanName(std::int64_t index);

// A whole speed, 0 to 16383, from "F<i><suffix>" ("fpe2", fraction dropped).
std::int64_t readFanSpeed(std::int64_t index, std::string_view suffix);
std::int64_t readFanMinimum(std::int64_t index);
std::int64_t readFanMaximum(std::int64_t index);
std::int64_t readFanActual(std::int64_t index);

// Name, minimum and maximum, read in that order.
Fan readFan(std::int64_t index);

// Every fan in index order: the count, then name, minimum and maximum of each. The first failure
// is thrown and nothing is returned.
std::vector<Fan> readAllFans();

// Sets the fan's minimum speed. Reads the fan's maximum first; a speed below 1 or above it is
// refused with unsafeFanSpeed and nothing is written. Writes "F<i>Mn" only, not read back.
void writeFanMinimum(std::int64_t index, std::int64_t speed);

} // namespace ventaro::SMCAccess
