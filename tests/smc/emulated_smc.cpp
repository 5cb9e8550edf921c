#include "tests/smc/emulated_smc.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace ventaro::emulated {
namespace {

using Selector = SMCParamStruct::Selector;
using Result = SMCParamStruct::Result;

constexpr WireLayout kLayout = kNativeWireLayout;
static_assert(kLayout.size == sizeof(SMCParamStruct));

Exchange decode(std::uint32_t methodIndex, std::span<const std::uint8_t> record) {
  Exchange exchange;
  exchange.methodIndex = methodIndex;
  exchange.key = static_cast<FourCharCode>(loadLittleEndian(record, kLayout.key, 4));
  exchange.dataSize = loadLittleEndian(record, kLayout.dataSize, kLayout.dataSizeWidth);
  exchange.command = record[kLayout.data8];
  exchange.data32 = static_cast<std::uint32_t>(loadLittleEndian(record, kLayout.data32, 4));
  std::copy_n(record.begin() + static_cast<std::ptrdiff_t>(kLayout.bytes), exchange.bytes.size(),
              exchange.bytes.begin());
  exchange.request.assign(record.begin(), record.end());
  return exchange;
}

} // namespace

EmulatedSMC::EmulatedSMC(std::vector<EmulatedKey> keys) : keys_(std::move(keys)) {
  std::sort(keys_.begin(), keys_.end(),
            [](const EmulatedKey& a, const EmulatedKey& b) { return a.code < b.code; });
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    const EmulatedKey& key = keys_[i];
    if (i > 0 && keys_[i - 1].code == key.code) {
      throw std::invalid_argument("emulated SMC: duplicate key " + fourCharCodeToText(key.code));
    }
    if (key.value.size() != key.info.size || key.value.size() > SMCBytes{}.size()) {
      throw std::invalid_argument("emulated SMC: value of " + fourCharCodeToText(key.code) +
                                  " does not match its size");
    }
  }
}

SMCDriver::Service EmulatedSMC::findService(std::string_view serviceClass) {
  ++calls_.findService;
  return servicePresent_ && serviceClass == "AppleSMC" ? kService : 0;
}

KernReturn EmulatedSMC::openService(Service service, Connection* connection) {
  ++calls_.openService;
  if (service != kService || connection == nullptr) {
    return kIOReturnBadArgument;
  }
  if (openResult_ != kIOReturnSuccess) {
    return openResult_;
  }
  *connection = ++lastConnection_;
  openConnections_.insert(*connection);
  return kIOReturnSuccess;
}

void EmulatedSMC::releaseService(Service) {
  ++calls_.releaseService;
}

KernReturn EmulatedSMC::closeService(Connection connection) {
  ++calls_.closeService;
  if (closeResult_ != kIOReturnSuccess) {
    return closeResult_;
  }
  return openConnections_.erase(connection) == 1 ? kIOReturnSuccess : kIOReturnNotOpen;
}

KernReturn EmulatedSMC::callStructMethod(Connection connection, std::uint32_t methodIndex,
                                         const void* input, std::size_t inputSize, void* output,
                                         std::size_t* outputSize) {
  if (input == nullptr || inputSize != kLayout.size || output == nullptr || outputSize == nullptr ||
      *outputSize < kLayout.size) {
    return kIOReturnBadArgument;
  }
  exchanges_.push_back(
      decode(methodIndex, std::span(static_cast<const std::uint8_t*>(input), inputSize)));
  const Exchange& exchange = exchanges_.back();
  if (!openConnections_.contains(connection)) {
    return kIOReturnNotOpen;
  }
  if (methodIndex != rawValue(Selector::kSMCHandleYPCEvent)) {
    return kIOReturnBadArgument;
  }

  const std::span reply(static_cast<std::uint8_t*>(output), kLayout.size);
  std::fill(reply.begin(), reply.end(), std::uint8_t{0});
  *outputSize = kLayout.size;
  if (const auto failure = failureFor(exchange)) {
    reply[kLayout.result] = failure->result;
    return failure->status;
  }
  if (!selectorFromRawValue(exchange.command) ||
      exchange.command == rawValue(Selector::kSMCHandleYPCEvent)) {
    return kIOReturnBadArgument;
  }
  reply[kLayout.result] = answer(exchange, reply);
  return kIOReturnSuccess;
}

std::uint8_t EmulatedSMC::answer(const Exchange& exchange, std::span<std::uint8_t> reply) {
  constexpr std::uint8_t kNotFound = rawValue(Result::kSMCKeyNotFound);
  if (exchange.command == rawValue(Selector::kSMCGetKeyFromIndex)) {
    if (exchange.data32 >= keys_.size()) {
      return kNotFound;
    }
    storeLittleEndian(reply, kLayout.key, 4, keys_[exchange.data32].code);
    return rawValue(Result::kSMCSuccess);
  }

  storeLittleEndian(reply, kLayout.key, 4, exchange.key);
  const auto index = find(exchange.key);
  if (!index) {
    return kNotFound;
  }
  EmulatedKey* const key = &keys_[*index];
  if (exchange.command == rawValue(Selector::kSMCReadKey)) {
    const auto bytes = reply.subspan(kLayout.bytes, SMCBytes{}.size());
    std::fill(bytes.begin(), bytes.end(), replyFill_);
    std::copy(key->value.begin(), key->value.end(), bytes.begin());
  } else if (exchange.command == rawValue(Selector::kSMCWriteKey)) {
    if (exchange.dataSize != key->info.size) {
      return rawValue(Result::kSMCError);
    }
    std::copy_n(exchange.bytes.begin(), key->value.size(), key->value.begin());
  } else {
    storeLittleEndian(reply, kLayout.dataSize, kLayout.dataSizeWidth, key->info.size);
    storeLittleEndian(reply, kLayout.dataType, 4, key->info.type);
  }
  return rawValue(Result::kSMCSuccess);
}

std::optional<EmulatedFailure> EmulatedSMC::failureFor(const Exchange& exchange) const {
  FourCharCode subject = exchange.key;
  if (exchange.command == rawValue(Selector::kSMCGetKeyFromIndex)) {
    subject = exchange.data32 < keys_.size() ? keys_[exchange.data32].code : 0;
  }
  if (const auto found = keyFailures_.find(subject); found != keyFailures_.end()) {
    return found->second;
  }
  return globalFailure_;
}

void EmulatedSMC::clearFailures() {
  globalFailure_.reset();
  keyFailures_.clear();
}

std::optional<std::size_t> EmulatedSMC::find(FourCharCode code) const {
  const auto found = std::lower_bound(
      keys_.begin(), keys_.end(), code,
      [](const EmulatedKey& key, FourCharCode wanted) { return key.code < wanted; });
  if (found == keys_.end() || found->code != code) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(found - keys_.begin());
}

std::optional<EmulatedKey> EmulatedSMC::key(FourCharCode code) const {
  const auto index = find(code);
  return index ? std::optional(keys_[*index]) : std::nullopt;
}

} // namespace ventaro::emulated
