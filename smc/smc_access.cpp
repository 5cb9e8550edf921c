#include "smc/smc_access.h"

#include <algorithm>
#include <limits>
#include <mutex>
#include <type_traits>
#include <utility>

namespace ventaro::SMCAccess {
namespace {

using Selector = SMCParamStruct::Selector;
using Result = SMCParamStruct::Result;

constexpr FourCharCode kKeyCountKey = fourCharCodeLiteral("#KEY");
// A listing never reserves room for more entries than this up front, however many keys the SMC
// claims to have.
constexpr std::size_t kListingReserveLimit = 4096;

struct DriverSlot {
  std::mutex mutex;
  std::shared_ptr<SMCDriver> driver;
};

DriverSlot& driverSlot() {
  static DriverSlot slot;
  return slot;
}

SMCParamStruct request(FourCharCode key, Selector command) {
  auto record = SMCParamStruct::zeroed();
  record.key = key;
  record.data8 = rawValue(command);
  return record;
}

SMCParamStruct exchange(const SMCParamStruct& record) {
  return callSMC(record, Selector::kSMCHandleYPCEvent);
}

// The reply's data size as a 32-bit size; on arm64 the field is 64 bits wide.
std::uint32_t replyDataSize(const SMCParamStruct& reply) {
  const std::uint64_t size = reply.keyInfo.dataSize;
  if constexpr (sizeof(reply.keyInfo.dataSize) > sizeof(std::uint32_t)) {
    if (size > std::numeric_limits<std::uint32_t>::max()) {
      throw SMCError::unknown(kIOReturnOverrun, 0);
    }
  }
  return static_cast<std::uint32_t>(size);
}

// The installed driver; with none the machine counts as having no SMC.
std::shared_ptr<SMCDriver> requireDriver() {
  auto smc = driver();
  if (!smc) {
    throw SMCError::driverNotFound();
  }
  return smc;
}

SMCParamStruct keyInfoExchange(FourCharCode code) {
  return exchange(request(code, Selector::kSMCGetKeyInfo));
}

} // namespace

void setDriver(std::shared_ptr<SMCDriver> driver) {
  DriverSlot& slot = driverSlot();
  const std::lock_guard lock(slot.mutex);
  slot.driver = std::move(driver);
}

std::shared_ptr<SMCDriver> driver() {
  DriverSlot& slot = driverSlot();
  const std::lock_guard lock(slot.mutex);
  return slot.driver;
}

void openSMC() {
  const auto smc = requireDriver();
  const SMCDriver::Service service = smc->findService("AppleSMC");
  if (service == 0) {
    throw SMCError::driverNotFound();
  }
  const KernReturn opened = smc->openService(service, &connection);
  smc->releaseService(service);
  if (opened != kIOReturnSuccess) {
    throw SMCError::failedToOpen();
  }
}

bool closeSMC() noexcept {
  const auto smc = driver();
  return smc && smc->closeService(connection) == kIOReturnSuccess;
}

SMCParamStruct callSMC(const SMCParamStruct& request, SMCParamStruct::Selector selector) {
  auto reply = SMCParamStruct::zeroed();
  std::size_t replySize = sizeof reply;
  const KernReturn status = requireDriver()->callStructMethod(
      connection, rawValue(selector), &request, sizeof request, &reply, &replySize);
  if (status == kIOReturnSuccess && reply.result == rawValue(Result::kSMCSuccess)) {
    return reply;
  }
  if (status == kIOReturnSuccess && reply.result == rawValue(Result::kSMCKeyNotFound)) {
    throw SMCError::keyNotFound(fourCharCodeToText(request.key));
  }
  if (status == kIOReturnNotPrivileged) {
    throw SMCError::notPrivileged();
  }
  throw SMCError::unknown(status, reply.result);
}

SMCBytes readKey(FourCharCode code, std::uint32_t size) {
  auto record = request(code, Selector::kSMCReadKey);
  record.keyInfo.dataSize = size;
  return exchange(record).bytes;
}

void writeKey(FourCharCode code, std::uint32_t size, const SMCBytes& value) {
  auto record = request(code, Selector::kSMCWriteKey);
  record.keyInfo.dataSize = size;
  record.bytes = value;
  exchange(record);
}

DataType readKeyInfo(FourCharCode code) {
  const SMCParamStruct reply = keyInfoExchange(code);
  return DataType{reply.keyInfo.dataType, replyDataSize(reply)};
}

bool isKeyFound(FourCharCode code) {
  try {
    replyDataSize(keyInfoExchange(code));
    return true;
  } catch (const SMCError& error) {
    if (error.kind() == SMCError::Kind::keyNotFound) {
      return false;
    }
    throw;
  }
}

std::int64_t readKeyCount() {
  const SMCBytes bytes = readKey(kKeyCountKey, DataTypes::UInt32.size);
  return std::int64_t{bytes[0]} << 24 | std::int64_t{bytes[1]} << 16 | std::int64_t{bytes[2]} << 8 |
         std::int64_t{bytes[3]};
}

FourCharCode readKeyAtIndex(std::int64_t index) {
  if (index < 0 || index > std::numeric_limits<std::uint32_t>::max()) {
    throw SMCError::unknown(kIOReturnBadArgument, 0);
  }
  auto record = request(0, Selector::kSMCGetKeyFromIndex);
  record.data32 = static_cast<std::uint32_t>(index);
  return exchange(record).key;
}

std::vector<SMCKey> readAllKeys() {
  const std::int64_t count = readKeyCount();
  std::vector<SMCKey> keys;
  keys.reserve(std::min(static_cast<std::size_t>(count), kListingReserveLimit));
  for (std::int64_t index = 0; index < count; ++index) {
    const FourCharCode code = readKeyAtIndex(index);
    keys.push_back(SMCKey{code, readKeyInfo(code)});
  }
  return keys;
}

} // namespace ventaro::SMCAccess
