#include "app/fan_anomaly.h"

#include "smc/fans.h"
#include "smc/smc_access.h"

#include <cstdint>
#include <string>

namespace ventaro {
namespace {

// The value `read` gives, or `fallback` when the SMC fails it. Only SMC failures are absorbed:
// anything else (out of memory, a fault) is not a fan reading and goes on to the caller.
template <typename Value, typename Read> Value readOr(Value fallback, Read read) {
  try {
    return read();
  } catch (const SMCAccess::SMCError&) {
    return fallback;
  }
}

// Names are compared as UTF-8 text: a case-sensitive search for ASCII letters anywhere in it.
bool contains(const std::string& name, const char* part) {
  return name.find(part) != std::string::npos;
}

} // namespace

bool hasFanAnomaly() {
  using namespace SMCAccess;
  try {
    openSMC();
  } catch (const SMCError&) {
    return false;
  }

  // Every read is made whatever the ones before it gave, the fan count included. Fan 1's
  // current speed is not read.
  const auto count = readOr<std::int64_t>(0, [] { return readFanCount(); });
  const auto name0 = readOr<std::string>({}, [] { return readFanName(0); });
  const auto minimum0 = readOr<std::int64_t>(0, [] { return readFanMinimum(0); });
  const auto maximum0 = readOr<std::int64_t>(0, [] { return readFanMaximum(0); });
  const auto actual0 = readOr<std::int64_t>(0, [] { return readFanActual(0); });
  const auto name1 = readOr<std::string>({}, [] { return readFanName(1); });
  const auto minimum1 = readOr<std::int64_t>(0, [] { return readFanMinimum(1); });
  const auto maximum1 = readOr<std::int64_t>(0, [] { return readFanMaximum(1); });

  closeSMC();

  return count > 2 && contains(name0, "PCI") && minimum0 == 800 && maximum0 == 4500 &&
         actual0 > 1000 && contains(name1, "PS") && minimum1 == 600 && maximum1 == 2800;
}

} // namespace ventaro
