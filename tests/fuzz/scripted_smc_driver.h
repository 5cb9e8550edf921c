#pragma once

// The SMC drivers of the SMC fuzz target: one whose every answer is read from the fuzz input,
// and a recorder around any driver that keeps what each call was asked and answered, with the
// error that an exchange's answer calls for.

#include "smc/smc_access.h"
#include "tests/fuzz/fuzz_support.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>
#include <memory>
#include <optional>
#include <vector>

namespace ventaro::fuzz {

// One exchange as the driver saw it: what came in, what it answered.
struct Exchange {
  std::uint32_t methodIndex = 0;
  std::size_t inputSize = 0;
  SMCParamStruct request = SMCParamStruct::zeroed();
  KernReturn status = kIOReturnSuccess;
  SMCParamStruct reply = SMCParamStruct::zeroed(); // the output record after the call
};

// The error that the SMC layer raises for an exchange, or nothing when the exchange succeeded.
inline std::optional<SMCAccess::SMCError> expectedError(const Exchange& exchange) {
  using SMCAccess::SMCError;
  if (exchange.status == kIOReturnSuccess) {
    if (exchange.reply.result == rawValue(SMCParamStruct::Result::kSMCSuccess)) {
      return std::nullopt;
    }
    if (exchange.reply.result == rawValue(SMCParamStruct::Result::kSMCKeyNotFound)) {
      return SMCError::keyNotFound(fourCharCodeToText(exchange.request.key));
    }
  }
  if (exchange.status == kIOReturnNotPrivileged) {
    return SMCError::notPrivileged();
  }
  return SMCError::unknown(exchange.status, exchange.reply.result);
}

// Passes every call on to `inner` and records it.
class RecordingDriver final : public SMCDriver {
public:
  explicit RecordingDriver(std::shared_ptr<SMCDriver> inner) : inner_(std::move(inner)) {}

  Service findService(std::string_view serviceClass) override {
    lastService_ = inner_->findService(serviceClass);
    return lastService_;
  }
  KernReturn openService(Service service, Connection* connection) override {
    lastOpen_ = inner_->openService(service, connection);
    return lastOpen_;
  }
  void releaseService(Service service) override { inner_->releaseService(service); }
  KernReturn closeService(Connection connection) override {
    lastClose_ = inner_->closeService(connection);
    return lastClose_;
  }

  KernReturn callStructMethod(Connection connection, std::uint32_t methodIndex, const void* input,
                              std::size_t inputSize, void* output,
                              std::size_t* outputSize) override {
    check(input != nullptr && output != nullptr && outputSize != nullptr,
          "an exchange passes both records and the reply size");
    check(*outputSize == sizeof(SMCParamStruct), "the reply size starts as the record size");
    const auto* replyBytes = static_cast<const std::uint8_t*>(output);
    check(std::all_of(replyBytes, replyBytes + *outputSize, [](std::uint8_t b) { return b == 0; }),
          "the reply record starts all zero");
    Exchange exchange;
    exchange.methodIndex = methodIndex;
    exchange.inputSize = inputSize;
    std::memcpy(&exchange.request, input, std::min(inputSize, sizeof exchange.request));
    // Once the budget is spent the SMC has stopped answering: this bounds the walks over a key
    // count of billions.
    exchange.status = left_ == 0 ? kIOReturnTimeout
                                 : inner_->callStructMethod(connection, methodIndex, input,
                                                            inputSize, output, outputSize);
    left_ -= left_ == 0 ? 0 : 1;
    std::memcpy(&exchange.reply, output, sizeof exchange.reply);
    history_.push_back(exchange);
    return exchange.status;
  }

  // The exchanges since the last clearHistory.
  const std::vector<Exchange>& history() const { return history_; }
  void clearHistory() { history_.clear(); }
  bool exhausted() const { return left_ == 0; }

  Service lastService() const { return lastService_; }
  KernReturn lastOpen() const { return lastOpen_; }
  KernReturn lastClose() const { return lastClose_; }

private:
  std::shared_ptr<SMCDriver> inner_;
  std::vector<Exchange> history_;
  std::size_t left_ = 1024; // exchanges until the SMC stops answering
  Service lastService_ = 0;
  KernReturn lastOpen_ = kIOReturnSuccess;
  KernReturn lastClose_ = kIOReturnSuccess;
};

// Answers from the input: return codes, result bytes, keys, data sizes and types, value bytes.
class ScriptedSMCDriver final : public SMCDriver {
public:
  explicit ScriptedSMCDriver(FuzzedDataProvider& input) : input_(input) {}

  Service findService(std::string_view) override {
    return input_.ConsumeIntegralInRange<Service>(0, 2);
  }
  KernReturn openService(Service, Connection* connection) override {
    const KernReturn status = nextStatus();
    if (status == kIOReturnSuccess) {
      *connection = input_.ConsumeIntegral<Connection>();
    }
    return status;
  }
  void releaseService(Service) override {}
  KernReturn closeService(Connection) override { return nextStatus(); }

  KernReturn callStructMethod(Connection, std::uint32_t, const void* input, std::size_t inputSize,
                              void* output, std::size_t* outputSize) override {
    const KernReturn status = nextStatus();
    if (input_.ConsumeBool()) {
      auto request = SMCParamStruct::zeroed();
      std::memcpy(&request, input, std::min(inputSize, sizeof request));
      writeReply(request, output, outputSize);
    } else {
      *outputSize = 0;
    }
    return status;
  }

private:
  // Mostly success, else a return code a driver gives, else any value. An exhausted input is an
  // SMC that stopped answering, which also ends every listing.
  KernReturn nextStatus() {
    if (input_.remaining_bytes() == 0) {
      return kIOReturnTimeout;
    }
    constexpr KernReturn kFailures[] = {kIOReturnNotPrivileged, kIOReturnTimeout, kIOReturnIOError,
                                        kIOReturnNoDevice,      kIOReturnBusy,    kIOReturnError,
                                        kIOReturnBadArgument};
    const auto choice = input_.ConsumeIntegral<std::uint8_t>();
    if (choice < 200) {
      return kIOReturnSuccess;
    }
    if (choice < 200 + std::size(kFailures)) {
      return kFailures[choice - 200];
    }
    return input_.ConsumeIntegral<KernReturn>();
  }

  std::uint8_t nextResult() {
    const auto choice = input_.ConsumeIntegral<std::uint8_t>();
    if (choice < 200) {
      return rawValue(SMCParamStruct::Result::kSMCSuccess);
    }
    if (choice < 230) {
      return rawValue(SMCParamStruct::Result::kSMCKeyNotFound);
    }
    return input_.ConsumeIntegral<std::uint8_t>();
  }

  // A reply whose unread fields hold a filler byte, so that reading one of them shows.
  void writeReply(const SMCParamStruct& request, void* output, std::size_t* outputSize) {
    SMCParamStruct reply;
    std::memset(&reply, input_.ConsumeIntegral<std::uint8_t>(), sizeof reply);
    reply.result = nextResult();
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
  }

  FuzzedDataProvider& input_;
};

} // namespace ventaro::fuzz
