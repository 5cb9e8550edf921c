#include "tests/smc/emulated_smc.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace ventaro::emulated {

using Selector = SMCParamStruct::Selector;
using Result = SMCParamStruct::Result;

EmulatedSMC::EmulatedSMC(std::vector<EmulatedKey> keys) : keys_(std::move(keys)) {
  std::sort(keys_.begin(), keys_.end(),
            [](const EmulatedKey& a, const EmulatedKey& b) { return a.code < b.code; });
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    const EmulatedKey& key = keys_[i];
    if ((i > 0 && keys_[i - 1].code == key.code) || key.value.size() != key.info.size ||
        key.value.size() > SMCBytes{}.size()) {
      throw std::invalid_argument("emulated SMC: duplicate or ill-sized key " +
                                  fourCharCodeToText(key.code));
    }
  }
}

SMCDriver::Service EmulatedSMC::findService(std::string_view serviceClass) {
  return servicePresent_ && serviceClass == "AppleSMC" ? kService : 0;
}

KernReturn EmulatedSMC::openService(Service service, Connection* connection) {
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
  // The caller hands over a zeroed reply, so that fields a driver leaves alone read as zero.
  const auto* const replied = static_cast<const std::uint8_t*>(output);
  if (std::any_of(replied, replied + sizeof(SMCParamStruct), [](auto byte) { return byte != 0; })) {
    return kIOReturnBadArgument;
  }
  auto request = SMCParamStruct::zeroed();
  std::memcpy(&request, input, sizeof request);
  const auto* const bytes = static_cast<const std::uint8_t*>(input);
  exchanges_.push_back({methodIndex, request.data8, request.key, {bytes, bytes + inputSize}});
  if (!openConnections_.contains(connection)) {
    return kIOReturnNotOpen;
  }
  if (methodIndex != rawValue(Selector::kSMCHandleYPCEvent)) {
    return kIOReturnBadArgument;
  }

  auto reply = SMCParamStruct::zeroed();
  KernReturn status = kIOReturnSuccess;
  const auto failure = keyFailures_.find(request.key);
  if (failure != keyFailures_.end() || globalFailure_) {
    const EmulatedFailure& made = failure != keyFailures_.end() ? failure->second : *globalFailure_;
    reply.result = made.result;
    status = made.status;
  } else if (!selectorFromRawValue(request.data8) ||
             request.data8 == rawValue(Selector::kSMCHandleYPCEvent)) {
    status = kIOReturnBadArgument;
  } else {
    reply.result = answer(request, reply);
  }
  std::memcpy(output, &reply, sizeof reply);
  *outputSize = sizeof reply;
  return status;
}

std::uint8_t EmulatedSMC::answer(const SMCParamStruct& request, SMCParamStruct& reply) {
  constexpr std::uint8_t kNotFound = rawValue(Result::kSMCKeyNotFound);
  if (request.data8 == rawValue(Selector::kSMCGetKeyFromIndex)) {
    if (request.data32 >= keys_.size()) {
      return kNotFound;
    }
    reply.key = keys_[request.data32].code;
    return rawValue(Result::kSMCSuccess);
  }

  reply.key = request.key;
  const auto key = std::find_if(keys_.begin(), keys_.end(),
                                [&](const EmulatedKey& each) { return each.code == request.key; });
  if (key == keys_.end()) {
    return kNotFound;
  }
  if (request.data8 == rawValue(Selector::kSMCReadKey)) {
    std::copy(key->value.begin(), key->value.end(), reply.bytes.begin());
  } else if (request.data8 == rawValue(Selector::kSMCWriteKey)) {
    if (request.keyInfo.dataSize != key->info.size) {
      return rawValue(Result::kSMCError);
    }
    std::copy_n(request.bytes.begin(), key->value.size(), key->value.begin());
  } else {
    reply.keyInfo.dataSize = key->info.size;
    reply.keyInfo.dataType = key->info.type;
  }
  return rawValue(Result::kSMCSuccess);
}

} // namespace ventaro::emulated
