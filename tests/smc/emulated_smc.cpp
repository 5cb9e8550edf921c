#include "tests/smc/emulated_smc.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <stdexcept>
#include <utility>

namespace ventaro::emulated {
namespace {

using Selector = SMCParamStruct::Selector;
using Result = SMCParamStruct::Result;

Exchange decode(std::uint32_t methodIndex, std::span<const std::uint8_t> record) {
  auto request = SMCParamStruct::zeroed();
  std::memcpy(&request, record.data(), sizeof request);
  Exchange exchange;
  exchange.methodIndex = methodIndex;
  exchange.key = request.key;
  exchange.dataSize = request.keyInfo.dataSize;
  exchange.command = request.data8;
  exchange.data32 = request.data32;
  exchange.bytes = request.bytes;
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
  return openConnections_.erase(connection) == 1 ? kIOReturnSuccess : kIOReturnNotOpen;
}

KernReturn EmulatedSMC::callStructMethod(Connection connection, std::uint32_t methodIndex,
                                         const void* input, std::size_t inputSize, void* output,
                                         std::size_t* outputSize) {
  if (input == nullptr || inputSize != sizeof(SMCParamStruct) || output == nullptr ||
      outputSize == nullptr || *outputSize < sizeof(SMCParamStruct)) {
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

  auto reply = SMCParamStruct::zeroed();
  KernReturn status = kIOReturnSuccess;
  if (const auto failure = failureFor(exchange)) {
    reply.result = failure->result;
    status = failure->status;
  } else if (!selectorFromRawValue(exchange.command) ||
             exchange.command == rawValue(Selector::kSMCHandleYPCEvent)) {
    status = kIOReturnBadArgument;
  } else {
    reply.result = answer(exchange, reply);
  }
  std::memcpy(output, &reply, sizeof reply);
  *outputSize = sizeof reply;
  return status;
}

std::uint8_t EmulatedSMC::answer(const Exchange& exchange, SMCParamStruct& reply) {
  constexpr std::uint8_t kNotFound = rawValue(Result::kSMCKeyNotFound);
  if (exchange.command == rawValue(Selector::kSMCGetKeyFromIndex)) {
    if (exchange.data32 >= keys_.size()) {
      return kNotFound;
    }
    reply.key = keys_[exchange.data32].code;
    return rawValue(Result::kSMCSuccess);
  }

  reply.key = exchange.key;
  const auto index = find(exchange.key);
  if (!index) {
    return kNotFound;
  }
  EmulatedKey* const key = &keys_[*index];
  if (exchange.command == rawValue(Selector::kSMCReadKey)) {
    reply.bytes.fill(replyFill_);
    std::copy(key->value.begin(), key->value.end(), reply.bytes.begin());
  } else if (exchange.command == rawValue(Selector::kSMCWriteKey)) {
    if (exchange.dataSize != key->info.size) {
      return rawValue(Result::kSMCError);
    }
    std::copy_n(exchange.bytes.begin(), key->value.size(), key->value.begin());
  } else {
    reply.keyInfo.dataSize = key->info.size;
    reply.keyInfo.dataType = key->info.type;
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
