#include "smc/applesmc/applesmc_driver.h"

#include "smc/applesmc/fan_files.h"
#include "smc/applesmc/sysfs_layout.h"
#include "smc/data_type.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace ventaro::applesmc {
namespace {

using Selector = SMCParamStruct::Selector;

constexpr FourCharCode kKeyCountKey = fourCharCodeLiteral("#KEY");

} // namespace

ApplesmcDriver::ApplesmcDriver(std::shared_ptr<FileAccess> files, std::string sysfsRoot)
    : files_(std::move(files)), sysfsRoot_(std::move(sysfsRoot)) {}

SMCDriver::Service ApplesmcDriver::findService(std::string_view serviceClass) {
  if (serviceClass != "AppleSMC") {
    return 0;
  }
  const std::lock_guard lock(mutex_);
  deviceDirectory_ = findDeviceDirectory(*files_, sysfsRoot_);
  return deviceDirectory_ ? kService : 0;
}

KernReturn ApplesmcDriver::openService(Service service, Connection* connection) {
  const std::lock_guard lock(mutex_);
  if (service != kService || !deviceDirectory_ || connection == nullptr) {
    return kIOReturnBadArgument;
  }
  if (const ListResult listing = files_->listDirectory(*deviceDirectory_); listing.error != 0) {
    const Answer failure = answerForErrno(listing.error);
    return failure.status != kIOReturnSuccess ? failure.status : kIOReturnNotReadable;
  }
  fanDirectory_ = findFanDirectory(*files_, *deviceDirectory_);
  temperatureDirectory_ = findTemperatureDirectory(*files_, *deviceDirectory_);
  temperatureFiles_.reset();
  cursor_ = std::make_unique<KeyCursor>(*files_, *deviceDirectory_);
  *connection = ++lastConnection_;
  openConnections_.insert(*connection);
  return kIOReturnSuccess;
}

void ApplesmcDriver::releaseService(Service) {}

KernReturn ApplesmcDriver::closeService(Connection connection) {
  const std::lock_guard lock(mutex_);
  return openConnections_.erase(connection) == 1 ? kIOReturnSuccess : kIOReturnNotOpen;
}

KernReturn ApplesmcDriver::callStructMethod(Connection connection, std::uint32_t methodIndex,
                                            const void* input, std::size_t inputSize, void* output,
                                            std::size_t* outputSize) {
  if (input == nullptr || inputSize != sizeof(SMCParamStruct) || output == nullptr ||
      outputSize == nullptr || *outputSize < sizeof(SMCParamStruct) ||
      methodIndex != rawValue(Selector::kSMCHandleYPCEvent)) {
    return kIOReturnBadArgument;
  }
  // One exchange at a time: a concurrent open would replace what the exchange works with.
  const std::lock_guard lock(mutex_);
  if (!openConnections_.contains(connection)) {
    return kIOReturnNotOpen;
  }
  auto request = SMCParamStruct::zeroed();
  std::memcpy(&request, input, sizeof request);
  auto reply = SMCParamStruct::zeroed();
  reply.key = request.key;
  const Answer answered = answer(request, reply);
  reply.result = answered.result;
  std::memcpy(output, &reply, sizeof reply);
  *outputSize = sizeof reply;
  return answered.status;
}

KernReturn ApplesmcDriver::listTemperatureKeys(Connection connection,
                                               std::vector<FourCharCode>* keys) {
  if (keys == nullptr) {
    return kIOReturnBadArgument;
  }
  const std::lock_guard lock(mutex_);
  if (!openConnections_.contains(connection)) {
    return kIOReturnNotOpen;
  }
  // No temperature file at all says nothing about the machine's keys: there is no list then.
  if (temperatureFiles().empty()) {
    return kIOReturnUnsupported;
  }
  keys->clear();
  for (const TemperatureFile& file : temperatureFiles()) {
    keys->push_back(file.code);
  }
  return kIOReturnSuccess;
}

const std::vector<TemperatureFile>& ApplesmcDriver::temperatureFiles() {
  if (!temperatureFiles_) {
    temperatureFiles_ = listTemperatureFiles(*files_, temperatureDirectory_);
  }
  return *temperatureFiles_;
}

const TemperatureFile* ApplesmcDriver::temperatureFileOf(FourCharCode code) {
  if (!isTemperatureKey(code)) {
    return nullptr;
  }
  const auto& files = temperatureFiles();
  const auto file = std::find_if(files.begin(), files.end(),
                                 [code](const TemperatureFile& each) { return each.code == code; });
  return file != files.end() ? &*file : nullptr;
}

Answer ApplesmcDriver::temperatureKeyWithoutFile(Answer cursorAnswer) {
  const bool refused = cursorAnswer == failedCall(kIOReturnNotPrivileged);
  return refused && !temperatureFiles().empty() ? kAnswerKeyNotFound : cursorAnswer;
}

Answer ApplesmcDriver::answer(const SMCParamStruct& request, SMCParamStruct& reply) {
  const auto command = selectorFromRawValue(request.data8);
  if (!command) {
    return failedCall(kIOReturnBadArgument);
  }
  switch (*command) {
  case Selector::kSMCReadKey:
    return readKey(request, reply);
  case Selector::kSMCWriteKey:
    return writeKey(request);
  case Selector::kSMCGetKeyInfo:
    return readKeyInfo(request, reply);
  case Selector::kSMCGetKeyFromIndex:
    return readKeyAtIndex(request, reply);
  case Selector::kSMCHandleYPCEvent:
    break;
  }
  return failedCall(kIOReturnBadArgument);
}

Answer ApplesmcDriver::readKey(const SMCParamStruct& request, SMCParamStruct& reply) {
  if (const auto fanKey = fanKeyOf(request.key)) {
    const auto read = readFanKey(*files_, fanDirectory_, *fanKey);
    reply.bytes = read.value;
    return read.answer;
  }
  if (request.key == kKeyCountKey) {
    const auto count = cursor_->keyCount();
    for (std::size_t i = 0; i < 4; ++i) {
      reply.bytes[i] = static_cast<std::uint8_t>(count.value >> (8 * (3 - i)));
    }
    return count.answer;
  }
  if (const TemperatureFile* file = temperatureFileOf(request.key)) {
    const auto read = readTemperatureFile(*files_, *file);
    reply.bytes = read.value;
    return read.answer;
  }
  const auto read = cursor_->readValue(request.key);
  const std::size_t length = std::min(read.value.bytes.size(), reply.bytes.size());
  std::copy_n(read.value.bytes.begin(), length, reply.bytes.begin());
  return isTemperatureKey(request.key) ? temperatureKeyWithoutFile(read.answer) : read.answer;
}

Answer ApplesmcDriver::writeKey(const SMCParamStruct& request) {
  if (const auto fanKey = fanKeyOf(request.key); fanKey && fanKey->kind == FanKey::Kind::minimum) {
    return writeFanMinimum(*files_, fanDirectory_, fanKey->index, request.keyInfo.dataSize,
                           request.bytes);
  }
  const Answer found = cursor_->findKey(request.key);
  return found.succeeded() ? failedCall(kIOReturnUnsupported) : found;
}

Answer ApplesmcDriver::readKeyInfo(const SMCParamStruct& request, SMCParamStruct& reply) {
  if (temperatureFileOf(request.key) != nullptr) {
    reply.keyInfo.dataSize = DataTypes::SP78.size;
    reply.keyInfo.dataType = DataTypes::SP78.type;
    return kAnswerSuccess;
  }
  const auto info = cursor_->readInfo(request.key);
  if (info.answer.succeeded()) {
    reply.keyInfo.dataSize = info.value.length;
    reply.keyInfo.dataType = info.value.type;
  }
  return isTemperatureKey(request.key) ? temperatureKeyWithoutFile(info.answer) : info.answer;
}

Answer ApplesmcDriver::readKeyAtIndex(const SMCParamStruct& request, SMCParamStruct& reply) {
  const auto key = cursor_->keyAtIndex(request.data32);
  reply.key = key.answer.succeeded() ? key.value : 0;
  return key.answer;
}

} // namespace ventaro::applesmc
