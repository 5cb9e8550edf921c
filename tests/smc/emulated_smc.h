#pragma once

#include "smc/data_type.h"
#include "smc/smc_driver.h"
#include "smc/smc_param_struct.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

namespace ventaro::emulated {

// One key of the emulated SMC: code, data type and exactly info.size value bytes (at most 32).
struct EmulatedKey {
  FourCharCode code = 0;
  DataType info;
  std::vector<std::uint8_t> value;

  friend bool operator==(const EmulatedKey&, const EmulatedKey&) = default;
};

// How an exchange is made to fail: the call's return code and the reply's result byte.
struct EmulatedFailure {
  KernReturn status = kIOReturnSuccess;
  std::uint8_t result = 0;

  static EmulatedFailure notPrivileged() { return {kIOReturnNotPrivileged, 0}; }
  static EmulatedFailure returnCode(KernReturn status) { return {status, 0}; }
  static EmulatedFailure resultByte(std::uint8_t result) { return {kIOReturnSuccess, result}; }
};

// One exchange as the emulated SMC received it.
struct Exchange {
  std::uint32_t methodIndex = 0;
  std::uint8_t command = 0; // data8
  FourCharCode key = 0;
  std::vector<std::uint8_t> request; // the record as it came, byte for byte
};

// An SMC in memory, for tests. It answers each request record from its key table, kept in the order
// a real SMC keeps it (by code as an unsigned 32-bit number):
//   read       the key's value bytes (whatever size is asked), the rest of the 32 bytes zero
//   write      stores the value; a size other than the key's answers result 1
//   key info   the key's data size and type
//   key at index data32 → the code at that index
// A key or index it does not have answers result 132; an unknown command, record size or
// method index kIOReturnBadArgument; an exchange on a connection that is not open
// kIOReturnNotOpen. Every exchange with a whole record is recorded, failed ones included.
// Meant for one thread at a time.
class EmulatedSMC final : public SMCDriver {
public:
  // Throws std::invalid_argument for a duplicate code, or a value that is not info.size bytes
  // or longer than 32.
  explicit EmulatedSMC(std::vector<EmulatedKey> keys);

  Service findService(std::string_view serviceClass) override;
  KernReturn openService(Service service, Connection* connection) override;
  void releaseService(Service service) override;
  KernReturn closeService(Connection connection) override;
  KernReturn callStructMethod(Connection connection, std::uint32_t methodIndex, const void* input,
                              std::size_t inputSize, void* output,
                              std::size_t* outputSize) override;

  // Failure injection.
  void setServicePresent(bool present) { servicePresent_ = present; }
  void setOpenResult(KernReturn status) { openResult_ = status; }
  // Every exchange fails so, unless its key has a failure of its own.
  void failAll(EmulatedFailure failure) { globalFailure_ = failure; }
  // Requests naming `code` fail so.
  void failKey(FourCharCode code, EmulatedFailure failure) { keyFailures_[code] = failure; }

  // Observation.
  const std::vector<Exchange>& exchanges() const { return exchanges_; }
  std::size_t exchangeCount() const { return exchanges_.size(); }
  void clearExchanges() { exchanges_.clear(); }
  const std::vector<EmulatedKey>& keys() const { return keys_; }

  struct CallCounts {
    int releaseService = 0;
    int closeService = 0;
  };
  const CallCounts& callCounts() const { return calls_; }

private:
  static constexpr Service kService = 0x2A03;

  // Fills the reply; returns the result byte.
  std::uint8_t answer(const SMCParamStruct& request, SMCParamStruct& reply);

  std::vector<EmulatedKey> keys_;
  bool servicePresent_ = true;
  KernReturn openResult_ = kIOReturnSuccess;
  std::optional<EmulatedFailure> globalFailure_;
  std::map<FourCharCode, EmulatedFailure> keyFailures_;

  std::vector<Exchange> exchanges_;
  CallCounts calls_;
  std::set<Connection> openConnections_;
  Connection lastConnection_ = 0x1200;
};

} // namespace ventaro::emulated
