// Fuzzes the SMC layer and the Linux applesmc driver. The input picks the driver: either one
// that answers every exchange from the input (return codes, result bytes, keys, data sizes and
// types, value bytes), or the applesmc driver over a sysfs tree in memory built from the input.
// A sequence of operations chosen by the input runs on it, through a recorder. An operation may
// only return what its exchanges said, or raise the SMCError of its first failed exchange (or
// one of its own refusals); any other exception ends the run as a finding. Over a tree, what the
// tree promises is checked as well (fan speeds from their files, a well-formed key cursor read
// and listed back exactly), and raw exchanges go straight to the driver.

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
#include <set>
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
using Selector = SMCParamStruct::Selector;
using History = std::vector<Exchange>;

constexpr int kMaxSteps = 24;

std::int64_t bigEndian32(const SMCBytes& bytes) {
  return std::int64_t{bytes[0]} << 24 | std::int64_t{bytes[1]} << 16 | std::int64_t{bytes[2]} << 8 |
         std::int64_t{bytes[3]};
}

bool succeeded(const Exchange& exchange) {
  return !expectedError(exchange);
}

// The fields a reply carries alike in two records.
bool sameReply(const SMCParamStruct& a, const SMCParamStruct& b) {
  return a.key == b.key && a.keyInfo.dataSize == b.keyInfo.dataSize &&
         a.keyInfo.dataType == b.keyInfo.dataType && a.result == b.result && a.data8 == b.data8 &&
         a.data32 == b.data32 && a.bytes == b.bytes;
}

FourCharCode fanKey(std::int64_t index, const char (&suffix)[3]) {
  return *fourCharCodeFromBytes(
      std::string{'F', static_cast<char>('0' + index), suffix[0], suffix[1]});
}

// A request built by the SMC layer: the native record under method index 2, its command in
// data8, and zero in every field that no command uses.
void checkRequest(const Exchange& exchange, FourCharCode key, Selector command) {
  const SMCParamStruct& request = exchange.request;
  check(exchange.methodIndex == rawValue(Selector::kSMCHandleYPCEvent),
        "every exchange uses method index 2");
  check(exchange.inputSize == sizeof(SMCParamStruct), "a request is one whole record");
  check(request.key == key && request.data8 == rawValue(command),
        "a request carries its key and command");
  check(request.vers.major == 0 && request.vers.minor == 0 && request.vers.build == 0 &&
            request.vers.reserved == 0 && request.vers.release == 0 &&
            request.pLimitData.version == 0 && request.pLimitData.length == 0 &&
            request.pLimitData.cpuPLimit == 0 && request.pLimitData.gpuPLimit == 0 &&
            request.pLimitData.memPLimit == 0 && request.keyInfo.dataType == 0 &&
            request.keyInfo.dataAttributes == 0 && request.padding == 0 && request.result == 0 &&
            request.status == 0,
        "fields that no request uses are sent as zero");
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
  std::shared_ptr<fuzz::BudgetedFileAccess> files;
  std::shared_ptr<applesmc::ApplesmcDriver> driver;
  bool open = false;

  // Whether the tree promises that the key cursor answers: well formed, open, budget left.
  bool promises() const { return tree.wellFormed && open && !files->exhausted(); }
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

// Refused before any exchange with unknown(kIOReturnBadArgument, 0).
bool refusedArgument(const SMCError& error, const History& history) {
  return history.empty() && error == SMCError::unknown(kIOReturnBadArgument, 0);
}

std::int64_t anyIndex(FuzzedDataProvider& input, std::int64_t usualLast) {
  return input.ConsumeBool() ? input.ConsumeIntegralInRange<std::int64_t>(-1, usualLast + 1)
                             : input.ConsumeIntegral<std::int64_t>();
}

// The listing of 1 + 2n exchanges: the count, then each key's index and information requests.
void checkListing(const std::vector<SMCKey>& keys, const History& history) {
  check(!history.empty(), "a listing reads the key count");
  checkRequest(history[0], fourCharCodeLiteral("#KEY"), Selector::kSMCReadKey);
  const std::int64_t count = bigEndian32(history[0].reply.bytes);
  check(static_cast<std::int64_t>(keys.size()) == count, "a listing has as many keys as counted");
  check(history.size() == 1 + 2 * keys.size(), "a listing makes 1 + 2n exchanges");
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const Exchange& atIndex = history[1 + 2 * i];
    const Exchange& info = history[2 + 2 * i];
    checkRequest(atIndex, 0, Selector::kSMCGetKeyFromIndex);
    check(atIndex.request.data32 == i, "a listing asks for the indexes in order");
    checkRequest(info, atIndex.reply.key, Selector::kSMCGetKeyInfo);
    check(keys[i] == SMCKey{atIndex.reply.key,
                            {info.reply.keyInfo.dataType,
                             static_cast<std::uint32_t>(info.reply.keyInfo.dataSize)}},
          "a listed key holds the code and data type that the SMC gave");
  }
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
    const auto selector = static_cast<Selector>(input.ConsumeIntegral<std::uint8_t>());
    if (const auto reply = run(driver, [&] { return SMCAccess::callSMC(request, selector); })) {
      check(sameReply(*reply, history.back().reply), "callSMC returns the reply as received");
    }
    if (!history.empty()) {
      check(sameReply(history.back().request, request) &&
                history.back().methodIndex == rawValue(selector),
            "callSMC passes the request and selector unchanged");
    }
    return;
  }
  case 1: {
    const auto size = input.ConsumeIntegral<std::uint32_t>();
    const auto bytes = run(driver, [&] { return SMCAccess::readKey(code, size); });
    if (bytes) {
      checkRequest(history.back(), code, Selector::kSMCReadKey);
      check(history.back().request.keyInfo.dataSize == size, "a read sends the size it is given");
      check(*bytes == history.back().reply.bytes, "a read returns all 32 reply bytes");
    }
    if (sysfs != nullptr && bytes) {
      fuzz::checkFanSpeed(sysfs->tree, code, *bytes);
    }
    if (sysfs != nullptr && sysfs->promises()) {
      fuzz::checkCursorValue(sysfs->tree, code, bytes);
    }
    return;
  }
  case 2: {
    const auto size = input.ConsumeIntegral<std::uint32_t>();
    SMCBytes value{};
    const auto raw = input.ConsumeBytes<std::uint8_t>(value.size());
    std::copy(raw.begin(), raw.end(), value.begin());
    if (run(driver, [&] { return (SMCAccess::writeKey(code, size, value), true); })) {
      checkRequest(history.back(), code, Selector::kSMCWriteKey);
      check(history.back().request.bytes == value, "a write sends the value it is given");
    }
    return;
  }
  case 3:
    if (const auto info = run(driver, [&] { return SMCAccess::readKeyInfo(code); })) {
      checkRequest(history.back(), code, Selector::kSMCGetKeyInfo);
      check(info->type == history.back().reply.keyInfo.dataType &&
                info->size == history.back().reply.keyInfo.dataSize,
            "key information is the reply's data type and size");
    }
    return;
  case 4:
    if (const auto found = run(
            driver, [&] { return SMCAccess::isKeyFound(code); }, Rules{{}, true})) {
      check(history.size() == 1, "an existence test is one exchange");
      check(*found == succeeded(history.back()), "a key exists when the SMC answers for it");
    }
    return;
  case 5:
    if (const auto count = run(driver, [] { return SMCAccess::readKeyCount(); })) {
      checkRequest(history.back(), fourCharCodeLiteral("#KEY"), Selector::kSMCReadKey);
      check(*count == bigEndian32(history.back().reply.bytes),
            "the key count is the first four reply bytes, most significant first");
      check(sysfs == nullptr || !sysfs->tree.cursorKeys ||
                *count == static_cast<std::int64_t>(sysfs->tree.cursorKeys->size()),
            "the key count is the cursor's");
    }
    return;
  case 6: {
    const std::int64_t index = anyIndex(input, 4);
    const bool inRange = index >= 0 && index <= std::numeric_limits<std::uint32_t>::max();
    const Rules rules{[&](const SMCError& error, const History& made) {
      return !inRange && refusedArgument(error, made);
    }};
    const auto key = run(
        driver, [&] { return SMCAccess::readKeyAtIndex(index); }, rules);
    check(inRange || history.empty(), "a refused index makes no exchange");
    if (key) {
      check(inRange, "an index outside 0 to 4294967295 is refused");
      checkRequest(history.back(), 0, Selector::kSMCGetKeyFromIndex);
      check(history.back().request.data32 == index && *key == history.back().reply.key,
            "the key at an index is the reply's key");
    }
    return;
  }
  default: {
    const auto keys = run(driver, [] { return SMCAccess::readAllKeys(); });
    if (keys) {
      checkListing(*keys, history);
    }
    if (sysfs != nullptr && sysfs->promises()) {
      fuzz::checkCursorListing(sysfs->tree, keys);
    }
    return;
  }
  }
}

bool isNameSpace(char byte) {
  return byte == '\t' || byte == ' ';
}

void fanOperation(FuzzedDataProvider& input, RecordingDriver& driver, int which) {
  const auto& history = driver.history();
  const std::int64_t index = anyIndex(input, 9);
  const bool validIndex = index >= 0 && index <= 9;
  const Rules refusesIndex{[&](const SMCError& error, const History& made) {
    check(made.empty() || validIndex, "a refused fan index makes no exchange");
    return !validIndex && refusedArgument(error, made);
  }};
  switch (which) {
  case 0:
    if (const auto count = run(driver, [] { return SMCAccess::readFanCount(); })) {
      checkRequest(history.back(), fourCharCodeLiteral("FNum"), Selector::kSMCReadKey);
      check(*count == history.back().reply.bytes[0], "the fan count is reply byte 0");
    }
    return;
  case 1:
    if (const auto name = run(
            driver, [&] { return SMCAccess::readFanName(index); }, refusesIndex)) {
      check(validIndex, "a fan index outside 0 to 9 is refused");
      checkRequest(history.back(), fanKey(index, "ID"), Selector::kSMCReadKey);
      check(name->size() <= 24, "a fan name has at most twelve characters");
      check(name->empty() || (!isNameSpace(name->front()) && !isNameSpace(name->back()) &&
                              !name->ends_with("\xC2\xA0") && !name->starts_with("\xC2\xA0")),
            "a fan name is trimmed of blanks");
    }
    return;
  case 2:
    if (const auto speed = run(
            driver, [&] { return SMCAccess::readFanActual(index); }, refusesIndex)) {
      check(validIndex, "a fan index outside 0 to 9 is refused");
      checkRequest(history.back(), fanKey(index, "Ac"), Selector::kSMCReadKey);
      const SMCBytes& bytes = history.back().reply.bytes;
      check(*speed == decodeFPE2(bytes[0], bytes[1]), "a speed is the fpe2 value of bytes 0 and 1");
    }
    return;
  case 3: {
    // More than ten fans: the eleventh has no key, and the listing stops there.
    const Rules tooManyFans{[](const SMCError& error, const History& made) {
      return made.size() == 1 + 3 * 10 && made.front().reply.bytes[0] > 10 &&
             std::all_of(made.begin(), made.end(), succeeded) &&
             error == SMCError::unknown(kIOReturnBadArgument, 0);
    }};
    if (const auto fans = run(
            driver, [] { return SMCAccess::readAllFans(); }, tooManyFans)) {
      const std::size_t count = history.front().reply.bytes[0];
      check(fans->size() == count && history.size() == 1 + 3 * count,
            "the fan list reads the count, then name, minimum and maximum of each fan");
      for (std::size_t i = 0; i < fans->size(); ++i) {
        check((*fans)[i].id == static_cast<std::int64_t>(i), "fans are listed in index order");
      }
    }
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
    const Rules rules{[&](const SMCError& error, const History& made) {
      check(made.empty() || validIndex, "a refused fan index makes no exchange");
      if (error.kind() == SMCError::Kind::unsafeFanSpeed) {
        check(made.size() == 1 && succeeded(made.front()) && (speed < 1 || speed > maximum()),
              "only a speed outside 1 to the maximum just read is unsafe, and it is not written");
        return true;
      }
      return !validIndex && refusedArgument(error, made);
    }};
    if (run(
            driver, [&] { return (SMCAccess::writeFanMinimum(index, speed), true); }, rules)) {
      check(history.size() == 2 && speed >= 1 && speed <= maximum(),
            "a safe speed is written after reading the maximum");
      checkRequest(history.front(), fanKey(index, "Mx"), Selector::kSMCReadKey);
      checkRequest(history.back(), fanKey(index, "Mn"), Selector::kSMCWriteKey);
      const auto encoded = encodeFPE2(speed);
      SMCBytes value{};
      value[0] = encoded[0];
      value[1] = encoded[1];
      check(history.back().request.keyInfo.dataSize == 2 && history.back().request.bytes == value,
            "the minimum is written as two fpe2 bytes");
    }
    return;
  }
  }
}

void sensorAndBatteryOperation(FuzzedDataProvider& input, RecordingDriver& driver, int which) {
  const auto& history = driver.history();
  switch (which) {
  case 0:
    if (const auto present = run(
            driver, [] { return SMCAccess::readKnownTemperatureSensors(); }, Rules{{}, true})) {
      const auto& known = TemperatureSensors::knownSensors();
      check(history.size() == known.size(), "each known sensor is looked for once");
      std::set<FourCharCode> answered;
      for (const Exchange& exchange : history) {
        if (succeeded(exchange)) {
          answered.insert(exchange.request.key);
        }
      }
      std::set<FourCharCode> listed;
      for (const TemperatureSensor& sensor : *present) {
        check(known.contains(sensor.code) && known.at(sensor.code) == sensor,
              "a present sensor is a known one");
        listed.insert(sensor.code);
      }
      check(listed == answered, "exactly the sensors whose key the SMC has are present");
    }
    return;
  case 1:
    if (const auto sensors =
            run(driver, [] { return SMCAccess::readUnknownTemperatureSensors(); })) {
      for (const TemperatureSensor& sensor : *sensors) {
        check(sensor.name == "Unknown" && (sensor.code >> 24) == 'T' &&
                  !TemperatureSensors::knownSensors().contains(sensor.code),
              "a discovered sensor is an unnamed 'T' key");
      }
    }
    return;
  case 2: {
    const auto code = input.ConsumeIntegral<FourCharCode>();
    const auto unit = input.PickValueInArray(
        {TemperatureUnit::celsius, TemperatureUnit::fahrenheit, TemperatureUnit::kelvin});
    if (const auto degrees = run(driver, [&] { return SMCAccess::readTemperature(code, unit); })) {
      check(std::isfinite(*degrees), "a temperature is a finite number");
      if (unit == TemperatureUnit::celsius) {
        check(*degrees == std::trunc(*degrees) && std::abs(*degrees) <= 127,
              "a Celsius reading is a whole number from -127 to 127");
      }
    }
    return;
  }
  case 3:
    if (const auto battery = run(driver, [] { return SMCAccess::readBatteryInfo(); })) {
      check(history.size() == 3 && battery->batteryCount == history.front().reply.bytes[0],
            "the battery state is three reads, the count from the first");
    }
    return;
  default:
    if (const auto flag = run(driver, [] { return SMCAccess::readMSDIFlag(); })) {
      check(*flag == (history.back().reply.bytes[0] == 1), "a flag is set only by the byte 1");
    }
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
    sysfs->files = std::make_shared<fuzz::BudgetedFileAccess>(sysfs->tree.files);
    sysfs->driver = std::make_shared<applesmc::ApplesmcDriver>(sysfs->files, "/sys");
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
