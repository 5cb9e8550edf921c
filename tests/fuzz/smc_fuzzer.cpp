// Fuzzes the SMC layer and the Linux applesmc driver. The input picks the driver: either one
// that answers every exchange from the input (return codes, result bytes, keys, data sizes and
// types, value bytes), or the applesmc driver over a sysfs tree in memory built from the input.
// A sequence of key, fan, sensor and battery operations, opens and closes chosen by the input
// runs on it. An operation may end in an SMCError; any other exception is a finding.
//
// Beyond crashes and sanitizer reports it checks what the unit tests, with their few fixed
// answers, cannot: a fan minimum is written only after reading the maximum, and only as a speed
// from 1 to that maximum, whatever the maximum and the speed asked for; over a tree, a
// well-formed key cursor of any codes reads and lists back exactly, and a raw exchange the
// driver cannot take is refused.

#include "smc/battery.h"
#include "smc/fans.h"
#include "smc/fpe2.h"
#include "smc/smc_access.h"
#include "smc/temperature_sensors.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/sysfs_tree.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <fuzzer/FuzzedDataProvider.h>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace {

using namespace ventaro;
using fuzz::check;
using Selector = SMCParamStruct::Selector;

// Answers from the input, or passes every call on to the applesmc driver; either way it keeps
// each exchange's request and reply.
class FuzzDriver final : public SMCDriver {
public:
  FuzzDriver(FuzzedDataProvider& input, std::shared_ptr<SMCDriver> inner)
      : input_(input), inner_(std::move(inner)) {}

  Service findService(std::string_view serviceClass) override {
    return inner_ ? inner_->findService(serviceClass)
                  : input_.ConsumeIntegralInRange<Service>(0, 2);
  }
  KernReturn openService(Service service, Connection* connection) override {
    if (inner_) {
      return inner_->openService(service, connection);
    }
    const KernReturn status = nextStatus();
    if (status == kIOReturnSuccess) {
      *connection = input_.ConsumeIntegral<Connection>();
    }
    return status;
  }
  void releaseService(Service service) override {
    if (inner_) {
      inner_->releaseService(service);
    }
  }
  KernReturn closeService(Connection connection) override {
    return inner_ ? inner_->closeService(connection) : nextStatus();
  }

  KernReturn callStructMethod(Connection connection, std::uint32_t methodIndex, const void* input,
                              std::size_t inputSize, void* output,
                              std::size_t* outputSize) override {
    auto request = SMCParamStruct::zeroed();
    std::memcpy(&request, input, std::min(inputSize, sizeof request));
    // Once the budget is spent the SMC has stopped answering: this bounds the walks over a key
    // count of billions.
    KernReturn status = kIOReturnTimeout;
    if (left_ > 0) {
      --left_;
      status = inner_ ? inner_->callStructMethod(connection, methodIndex, input, inputSize, output,
                                                 outputSize)
                      : scriptedExchange(request, output, outputSize);
    }
    auto reply = SMCParamStruct::zeroed();
    std::memcpy(&reply, output, sizeof reply);
    exchanges_.emplace_back(request, reply);
    return status;
  }

  // The requests and replies since the last clearExchanges.
  const std::vector<std::pair<SMCParamStruct, SMCParamStruct>>& exchanges() const {
    return exchanges_;
  }
  void clearExchanges() { exchanges_.clear(); }
  bool exhausted() const { return left_ == 0; }

private:
  // Mostly success, else any code. An exhausted input is an SMC that stopped answering, which
  // also ends every listing.
  KernReturn nextStatus() {
    if (input_.remaining_bytes() == 0) {
      return kIOReturnTimeout;
    }
    return input_.ConsumeIntegral<std::uint8_t>() < 224 ? kIOReturnSuccess
                                                        : input_.ConsumeIntegral<KernReturn>();
  }

  // A reply whose unread fields hold a filler byte, or none at all.
  KernReturn scriptedExchange(const SMCParamStruct& request, void* output,
                              std::size_t* outputSize) {
    const KernReturn status = nextStatus();
    if (!input_.ConsumeBool()) {
      *outputSize = 0;
      return status;
    }
    SMCParamStruct reply;
    std::memset(&reply, input_.ConsumeIntegral<std::uint8_t>(), sizeof reply);
    // Mostly success, else mostly key-not-found, else any result.
    const auto result = input_.ConsumeIntegral<std::uint8_t>();
    reply.result = result < 200   ? rawValue(SMCParamStruct::Result::kSMCSuccess)
                   : result < 230 ? rawValue(SMCParamStruct::Result::kSMCKeyNotFound)
                                  : input_.ConsumeIntegral<std::uint8_t>();
    reply.key = input_.ConsumeBool() ? request.key : input_.ConsumeIntegral<FourCharCode>();
    // Half the time a data type the SMC layer knows, so that its filters have something to pass.
    if (input_.ConsumeBool()) {
      const DataType known =
          input_.PickValueInArray({DataTypes::FDS, DataTypes::Flag, DataTypes::FPE2,
                                   DataTypes::SP78, DataTypes::UInt8, DataTypes::UInt32});
      reply.keyInfo.dataSize = known.size;
      reply.keyInfo.dataType = known.type;
    } else {
      reply.keyInfo.dataSize = input_.ConsumeIntegral<decltype(reply.keyInfo.dataSize)>();
      reply.keyInfo.dataType = input_.ConsumeIntegral<FourCharCode>();
    }
    const auto bytes = input_.ConsumeBytes<std::uint8_t>(
        input_.ConsumeIntegralInRange<std::size_t>(0, reply.bytes.size()));
    std::copy(bytes.begin(), bytes.end(), reply.bytes.begin());
    std::memcpy(output, &reply, sizeof reply);
    *outputSize = input_.ConsumeIntegralInRange<std::size_t>(0, sizeof reply);
    return status;
  }

  FuzzedDataProvider& input_;
  std::shared_ptr<SMCDriver> inner_;
  std::vector<std::pair<SMCParamStruct, SMCParamStruct>> exchanges_;
  std::size_t left_ = 1024; // exchanges until the SMC stops answering
};

// The operation's result, or nothing when it raised an SMCError: the SMC's answer to bad input.
template <typename Operation>
auto attempt(Operation operation) -> std::optional<decltype(operation())> {
  try {
    return operation();
  } catch (const SMCAccess::SMCError&) {
    return std::nullopt;
  }
}

// Half the time from the usual range, else any integer.
std::int64_t anyInteger(FuzzedDataProvider& input, std::int64_t low, std::int64_t high) {
  return input.ConsumeBool() ? input.ConsumeIntegralInRange(low, high)
                             : input.ConsumeIntegral<std::int64_t>();
}

// The one write to the hardware: whatever the answers, a minimum is written only after reading
// the maximum, and only a speed from 1 to that maximum.
void writeFanMinimum(FuzzedDataProvider& input, FuzzDriver& driver) {
  const std::int64_t index = anyInteger(input, -1, 10);
  const std::int64_t speed = anyInteger(input, -1, kFPE2Max + 1);
  driver.clearExchanges();
  attempt([&] { return (SMCAccess::writeFanMinimum(index, speed), true); });
  const auto& made = driver.exchanges();
  for (std::size_t i = 0; i < made.size(); ++i) {
    if (made[i].first.data8 == rawValue(Selector::kSMCWriteKey)) {
      const SMCBytes& maximum = made.front().second.bytes;
      const SMCBytes& written = made[i].first.bytes;
      const auto encoded = encodeFPE2(std::clamp<std::int64_t>(speed, 0, kFPE2Max));
      check(i == 1 && speed >= 1 && speed <= decodeFPE2(maximum[0], maximum[1]) &&
                written[0] == encoded[0] && written[1] == encoded[1],
            "a minimum is written only as a safe speed after reading the maximum");
    }
  }
}

// The operations runOperation runs, numbered 0 to kOperations - 1.
constexpr int kOperations = 19;

void runOperation(FuzzedDataProvider& input, FuzzDriver& driver, const fuzz::Tree& tree, bool& open,
                  int which) {
  // Whether the tree promises that the key cursor answers: well formed, open, budget left.
  const auto promised = [&] { return tree.wellFormed && open && !driver.exhausted(); };
  const FourCharCode code = fuzz::anyKey(input, tree.cursorKeys);
  using enum TemperatureUnit;
  // The operations whose only check is that they end in a value or an SMCError.
  const std::function<void()> plain[] = {
      [&] { attempt([&] { return SMCAccess::readKeyInfo(code); }); },
      [&] { attempt([&] { return SMCAccess::isKeyFound(code); }); },
      [] { attempt(SMCAccess::readKeyCount); },
      [&] { attempt([&] { return SMCAccess::readKeyAtIndex(anyInteger(input, -1, 5)); }); },
      [] { attempt(SMCAccess::readFanCount); },
      [&] { attempt([&] { return SMCAccess::readFanName(anyInteger(input, -1, 10)); }); },
      [&] { attempt([&] { return SMCAccess::readFanActual(anyInteger(input, -1, 10)); }); },
      [] { attempt(SMCAccess::readAllFans); },
      [] { attempt(SMCAccess::readKnownTemperatureSensors); },
      [] { attempt(SMCAccess::readUnknownTemperatureSensors); },
      [&] {
        const auto unit = input.PickValueInArray({celsius, fahrenheit, kelvin});
        attempt([&] { return SMCAccess::readTemperature(code, unit); });
      },
      [] { attempt(SMCAccess::readBatteryInfo); },
      [] { attempt(SMCAccess::readMSDIFlag); },
  };
  switch (which) {
  case 0: {
    auto request = SMCParamStruct::zeroed();
    const auto raw = input.ConsumeBytes<std::uint8_t>(sizeof request);
    std::copy(raw.begin(), raw.end(), reinterpret_cast<std::uint8_t*>(&request));
    const auto selector = static_cast<Selector>(input.ConsumeIntegral<std::uint8_t>());
    attempt([&] { return SMCAccess::callSMC(request, selector); });
    return;
  }
  case 1: {
    const auto size = input.ConsumeIntegral<std::uint32_t>();
    const auto bytes = attempt([&] { return SMCAccess::readKey(code, size); });
    if (promised()) {
      fuzz::checkCursorValue(tree, code, bytes);
    }
    return;
  }
  case 2: {
    SMCBytes value{};
    const auto raw = input.ConsumeBytes<std::uint8_t>(value.size());
    std::copy(raw.begin(), raw.end(), value.begin());
    const auto size = input.ConsumeIntegral<std::uint32_t>();
    attempt([&] { return (SMCAccess::writeKey(code, size, value), true); });
    return;
  }
  case 3: {
    const auto keys = attempt(SMCAccess::readAllKeys);
    if (promised()) {
      fuzz::checkCursorListing(tree, keys);
    }
    return;
  }
  case 4:
    writeFanMinimum(input, driver);
    return;
  case 5:
    open = false;
    if (input.ConsumeBool()) {
      SMCAccess::closeSMC();
    } else {
      open = attempt([] { return (SMCAccess::openSMC(), true); }).has_value();
    }
    return;
  default:
    static_assert(sizeof plain / sizeof plain[0] == kOperations - 6);
    plain[which - 6]();
    return;
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  fuzz::Tree tree; // over the scripted driver: no cursor, and nothing promised
  std::shared_ptr<applesmc::ApplesmcDriver> applesmc;
  if (input.ConsumeBool()) {
    tree = fuzz::buildTree(input);
    applesmc = std::make_shared<applesmc::ApplesmcDriver>(tree.files, "/sys");
  }
  const auto driver = std::make_shared<FuzzDriver>(input, applesmc);
  SMCAccess::setDriver(driver);
  bool open = false;
  for (int step = 0; step < 24 && input.remaining_bytes() > 0; ++step) {
    const int which = input.ConsumeIntegralInRange(0, applesmc ? kOperations : kOperations - 1);
    if (which == kOperations) {
      fuzz::rawExchange(input, *applesmc);
    } else {
      runOperation(input, *driver, tree, open, which);
    }
  }
  SMCAccess::closeSMC();
  SMCAccess::setDriver(nullptr);
  return 0;
}
