// Fuzzes the SMC layer and the Linux applesmc driver. The input picks the driver: either one
// that answers every exchange from the input (return codes, result bytes, keys, data sizes and
// types, value bytes), or the applesmc driver over a sysfs tree in memory built from the input.
// A sequence of operations chosen by the input runs on it, through a recorder. An operation may
// only succeed when its exchanges did, or raise the SMCError of its first failed exchange (or
// one of its own refusals); any other exception ends the run as a finding. Refused indexes and
// unsafe fan speeds never reach the SMC. Over a tree, a well-formed key cursor must read and
// list back exactly, and raw exchanges go straight to the driver.

#include "smc/battery.h"
#include "smc/fans.h"
#include "smc/fpe2.h"
#include "smc/smc_access.h"
#include "smc/temperature_sensors.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/scripted_smc_driver.h"
#include "tests/fuzz/sysfs_tree.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <fuzzer/FuzzedDataProvider.h>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace ventaro;
using fuzz::check;
using fuzz::Exchange;
using fuzz::expectedError;
using fuzz::RecordingDriver;
using fuzz::ScriptedSMCDriver;
using fuzz::Tree;
using SMCAccess::SMCError;
using History = std::vector<Exchange>;

constexpr int kMaxSteps = 24;

bool succeeded(const Exchange& exchange) {
  return !expectedError(exchange);
}

// A data size too wide for 32 bits, which only the 64-bit field of the arm64 record can hold.
bool isOverrun(const SMCError& error, const History& history) {
  if constexpr (sizeof(SMCParamStruct{}.keyInfo.dataSize) > sizeof(std::uint32_t)) {
    return !history.empty() && succeeded(history.back()) &&
           history.back().reply.keyInfo.dataSize > std::numeric_limits<std::uint32_t>::max() &&
           error == SMCError::unknown(kIOReturnOverrun, 0);
  }
  return false;
}

// The applesmc driver over a tree from the input, and whether its connection is open.
struct SysfsTarget {
  Tree tree;
  std::shared_ptr<applesmc::ApplesmcDriver> driver;
  bool open = false;

  // Whether the tree promises that the key cursor answers: well formed, open, budget left.
  bool promises(const RecordingDriver& recorder) const {
    return tree.wellFormed && open && !recorder.exhausted();
  }
};

struct Rules {
  // Errors the operation raises of its own accord (a refused argument or speed).
  std::function<bool(const SMCError&, const History&)> ownError;
  // Whether a missing key is an answer rather than a failure (existence probes).
  bool probesKeys = false;
};

// Runs one operation and checks how it ended against the exchanges it made: success only when
// every exchange succeeded, else the error of the first failed exchange, which is the last one
// made. Returns the result on success.
template <typename Operation>
auto run(RecordingDriver& driver, Operation operation, const Rules& rules = {})
    -> std::optional<decltype(operation())> {
  driver.clearHistory();
  const History& history = driver.history();
  const auto tolerated = [&](const Exchange& exchange) {
    const auto error = expectedError(exchange);
    return !error || (rules.probesKeys && error->kind() == SMCError::Kind::keyNotFound);
  };
  try {
    auto result = operation();
    for (const Exchange& exchange : history) {
      check(tolerated(exchange), "an operation succeeds only when its exchanges do");
    }
    return result;
  } catch (const SMCError& error) {
    if ((rules.ownError && rules.ownError(error, history)) || isOverrun(error, history)) {
      return std::nullopt;
    }
    check(!history.empty(), "an error comes from an exchange");
    for (std::size_t i = 0; i + 1 < history.size(); ++i) {
      check(tolerated(history[i]), "the first failed exchange ends the operation");
    }
    const auto expected = expectedError(history.back());
    check(expected && *expected == error,
          "a failed exchange raises the error its answer calls for");
    return std::nullopt;
  }
}

std::int64_t anyIndex(FuzzedDataProvider& input, std::int64_t usualLast) {
  return input.ConsumeBool() ? input.ConsumeIntegralInRange<std::int64_t>(-1, usualLast + 1)
                             : input.ConsumeIntegral<std::int64_t>();
}

// An index outside [0, last] is refused with unknown(kIOReturnBadArgument, 0) before any
// exchange; one inside is never refused so.
Rules refusesIndexBeyond(std::int64_t index, std::int64_t last) {
  return {[=](const SMCError& error, const History& made) {
    const bool valid = index >= 0 && index <= last;
    check(valid || made.empty(), "a refused index makes no exchange");
    return !valid && error == SMCError::unknown(kIOReturnBadArgument, 0);
  }};
}

void keyOperation(FuzzedDataProvider& input, RecordingDriver& driver, SysfsTarget* sysfs,
                  int which) {
  const auto& history = driver.history();
  const auto code =
      sysfs != nullptr ? fuzz::anyKey(input, sysfs->tree) : input.ConsumeIntegral<FourCharCode>();
  switch (which) {
  case 0: {
    auto request = SMCParamStruct::zeroed();
    const auto raw = input.ConsumeBytes<std::uint8_t>(sizeof request);
    std::copy(raw.begin(), raw.end(), reinterpret_cast<std::uint8_t*>(&request));
    const auto selector =
        static_cast<SMCParamStruct::Selector>(input.ConsumeIntegral<std::uint8_t>());
    run(driver, [&] { return SMCAccess::callSMC(request, selector); });
    return;
  }
  case 1: {
    const auto size = input.ConsumeIntegral<std::uint32_t>();
    const auto bytes = run(driver, [&] { return SMCAccess::readKey(code, size); });
    if (sysfs != nullptr && sysfs->promises(driver)) {
      fuzz::checkCursorValue(sysfs->tree, code, bytes);
    }
    return;
  }
  case 2: {
    const auto size = input.ConsumeIntegral<std::uint32_t>();
    SMCBytes value{};
    const auto raw = input.ConsumeBytes<std::uint8_t>(value.size());
    std::copy(raw.begin(), raw.end(), value.begin());
    run(driver, [&] { return (SMCAccess::writeKey(code, size, value), true); });
    return;
  }
  case 3:
    run(driver, [&] { return SMCAccess::readKeyInfo(code); });
    return;
  case 4:
    if (const auto found = run(
            driver, [&] { return SMCAccess::isKeyFound(code); }, Rules{{}, true})) {
      check(history.size() == 1 && *found == succeeded(history.back()),
            "a key exists when the SMC answers for it");
    }
    return;
  case 5:
    if (const auto count = run(driver, [] { return SMCAccess::readKeyCount(); })) {
      check(sysfs == nullptr || !sysfs->tree.cursorKeys ||
                *count == static_cast<std::int64_t>(sysfs->tree.cursorKeys->size()),
            "the key count is the cursor's");
    }
    return;
  case 6: {
    const std::int64_t index = anyIndex(input, 4);
    run(
        driver, [&] { return SMCAccess::readKeyAtIndex(index); },
        refusesIndexBeyond(index, std::numeric_limits<std::uint32_t>::max()));
    return;
  }
  default: {
    const auto keys = run(driver, [] { return SMCAccess::readAllKeys(); });
    if (keys) {
      check(history.size() == 1 + 2 * keys->size(), "a listing makes 1 + 2n exchanges");
    }
    if (sysfs != nullptr && sysfs->promises(driver)) {
      fuzz::checkCursorListing(sysfs->tree, keys);
    }
    return;
  }
  }
}

void fanOperation(FuzzedDataProvider& input, RecordingDriver& driver, int which) {
  const auto& history = driver.history();
  const std::int64_t index = anyIndex(input, 9);
  switch (which) {
  case 0:
    run(driver, [] { return SMCAccess::readFanCount(); });
    return;
  case 1:
    if (const auto name = run(
            driver, [&] { return SMCAccess::readFanName(index); }, refusesIndexBeyond(index, 9))) {
      check(name->size() <= 24, "a fan name has at most twelve characters");
    }
    return;
  case 2:
    run(
        driver, [&] { return SMCAccess::readFanActual(index); }, refusesIndexBeyond(index, 9));
    return;
  case 3: {
    // More than ten fans: the eleventh has no key, and the listing stops there.
    const Rules tooManyFans{[](const SMCError& error, const History& made) {
      return made.size() == 1 + 3 * 10 && made.front().reply.bytes[0] > 10 &&
             std::all_of(made.begin(), made.end(), succeeded) &&
             error == SMCError::unknown(kIOReturnBadArgument, 0);
    }};
    run(
        driver, [] { return SMCAccess::readAllFans(); }, tooManyFans);
    return;
  }
  default: {
    const std::int64_t speed = input.ConsumeBool()
                                   ? input.ConsumeIntegralInRange<std::int64_t>(-1, 16384)
                                   : input.ConsumeIntegral<std::int64_t>();
    const auto maximum = [&] {
      const SMCBytes& bytes = history.front().reply.bytes;
      return decodeFPE2(bytes[0], bytes[1]);
    };
    const Rules refusesIndex = refusesIndexBeyond(index, 9);
    const Rules rules{[&](const SMCError& error, const History& made) {
      if (error.kind() == SMCError::Kind::unsafeFanSpeed) {
        check(made.size() == 1 && succeeded(made.front()) && (speed < 1 || speed > maximum()),
              "only a speed outside 1 to the maximum just read is unsafe, and it is not written");
        return true;
      }
      return refusesIndex.ownError(error, made);
    }};
    run(
        driver, [&] { return (SMCAccess::writeFanMinimum(index, speed), true); }, rules);
    // Whatever the outcome, a minimum is written only after reading the maximum, and only one
    // from 1 to that maximum.
    for (std::size_t i = 0; i < history.size(); ++i) {
      if (history[i].request.data8 == rawValue(SMCParamStruct::Selector::kSMCWriteKey)) {
        const auto encoded = encodeFPE2(std::clamp<std::int64_t>(speed, 0, kFPE2Max));
        check(i == 1 && speed >= 1 && speed <= maximum() &&
                  history[i].request.bytes[0] == encoded[0] &&
                  history[i].request.bytes[1] == encoded[1],
              "a minimum is written only as a safe speed after reading the maximum");
      }
    }
    return;
  }
  }
}

void sensorAndBatteryOperation(FuzzedDataProvider& input, RecordingDriver& driver, int which) {
  switch (which) {
  case 0:
    run(
        driver, [] { return SMCAccess::readKnownTemperatureSensors(); }, Rules{{}, true});
    return;
  case 1:
    if (const auto sensors =
            run(driver, [] { return SMCAccess::readUnknownTemperatureSensors(); })) {
      for (const TemperatureSensor& sensor : *sensors) {
        check((sensor.code >> 24) == 'T' &&
                  !TemperatureSensors::knownSensors().contains(sensor.code),
              "a discovered sensor is an unlisted 'T' key");
      }
    }
    return;
  case 2: {
    const auto code = input.ConsumeIntegral<FourCharCode>();
    const auto unit = input.PickValueInArray(
        {TemperatureUnit::celsius, TemperatureUnit::fahrenheit, TemperatureUnit::kelvin});
    if (const auto degrees = run(driver, [&] { return SMCAccess::readTemperature(code, unit); })) {
      check(std::isfinite(*degrees) && std::abs(*degrees) <= 500,
            "a temperature is a finite number within -127 to 127 °C");
    }
    return;
  }
  case 3:
    run(driver, [] { return SMCAccess::readBatteryInfo(); });
    return;
  default:
    run(driver, [] { return SMCAccess::readMSDIFlag(); });
    return;
  }
}

void openOrClose(FuzzedDataProvider& input, RecordingDriver& driver, SysfsTarget* sysfs) {
  bool scriptedOpen = false; // the scripted driver promises nothing about an open connection
  bool& open = sysfs != nullptr ? sysfs->open : scriptedOpen;
  if (input.ConsumeBool()) {
    open = false;
    check(SMCAccess::closeSMC() == (driver.lastClose() == kIOReturnSuccess),
          "closing reports whether the driver closed");
    return;
  }
  try {
    open = false;
    SMCAccess::openSMC();
    open = true;
    check(driver.lastService() != 0 && driver.lastOpen() == kIOReturnSuccess,
          "opening succeeds only when the service exists and opens");
  } catch (const SMCError& error) {
    check(driver.lastService() == 0 ? error == SMCError::driverNotFound()
                                    : error == SMCError::failedToOpen(),
          "a failed open raises driverNotFound or failedToOpen");
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::optional<SysfsTarget> sysfs;
  std::shared_ptr<SMCDriver> inner;
  if (input.ConsumeBool()) {
    sysfs.emplace();
    sysfs->tree = fuzz::buildTree(input);
    sysfs->driver = std::make_shared<applesmc::ApplesmcDriver>(sysfs->tree.files, "/sys");
    inner = sysfs->driver;
  } else {
    inner = std::make_shared<ScriptedSMCDriver>(input);
  }
  const auto driver = std::make_shared<RecordingDriver>(inner);
  SysfsTarget* target = sysfs ? &*sysfs : nullptr;
  SMCAccess::setDriver(driver);
  for (int step = 0; step < kMaxSteps && input.remaining_bytes() > 0; ++step) {
    const int which = input.ConsumeIntegralInRange(0, target != nullptr ? 19 : 18);
    if (which < 8) {
      keyOperation(input, *driver, target, which);
    } else if (which < 13) {
      fanOperation(input, *driver, which - 8);
    } else if (which < 18) {
      sensorAndBatteryOperation(input, *driver, which - 13);
    } else if (which == 18) {
      openOrClose(input, *driver, target);
    } else {
      fuzz::rawExchange(input, *target->driver);
    }
  }
  SMCAccess::closeSMC();
  SMCAccess::setDriver(nullptr);
  return 0;
}
