#pragma once

#include "smc/applesmc/file_access.h"
#include "smc/applesmc/key_cursor.h"
#include "smc/applesmc/temperature_files.h"
#include "smc/smc_driver.h"
#include "smc/smc_param_struct.h"

#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ventaro::applesmc {

// The SMC through the Linux kernel's applesmc driver and its sysfs files.
//
// - The service exists when the device directory does (see sysfs_layout.h); opening reads that
//   directory and fails when it cannot be read.
// - Reads of "FNum", "F<i>ID", "F<i>Mn", "F<i>Mx", "F<i>Ac" and the write of "F<i>Mn" use the
//   fan files, so that an ordinary user can read the fans. A read of "#KEY" uses key_count,
//   which everybody may read as well.
// - Reads and key information of a key beginning with 'T' that a temp<N>_label names use the
//   temperature files (temperature_files.h), which everybody may read: type "sp78", size 2, the
//   value rebuilt from the millidegrees. Without root, such a key that no label names answers
//   result 132 when the labels list any key at all: the kernel lists every "sp78" key beginning
//   with 'T', so the key holds no temperature.
// - Every other request goes through the key cursor, which needs root: without it the
//   exchange answers kIOReturnNotPrivileged. The kernel offers no write of other keys: such a
//   write answers result 132 for a key that does not exist, otherwise kIOReturnUnsupported.
// - A key that does not exist answers result 132; other failures map errno as answer.h says.
// - An exchange on a connection that is not open answers kIOReturnNotOpen, one with another
//   method index, record size or command kIOReturnBadArgument.
class ApplesmcDriver final : public SMCDriver {
public:
  ApplesmcDriver(std::shared_ptr<FileAccess> files, std::string sysfsRoot);

  Service findService(std::string_view serviceClass) override;
  KernReturn openService(Service service, Connection* connection) override;
  void releaseService(Service service) override;
  KernReturn closeService(Connection connection) override;
  KernReturn callStructMethod(Connection connection, std::uint32_t methodIndex, const void* input,
                              std::size_t inputSize, void* output,
                              std::size_t* outputSize) override;
  KernReturn listTemperatureKeys(Connection connection, std::vector<FourCharCode>* keys) override;

private:
  static constexpr Service kService = 1;

  Answer answer(const SMCParamStruct& request, SMCParamStruct& reply);
  Answer readKey(const SMCParamStruct& request, SMCParamStruct& reply);
  Answer writeKey(const SMCParamStruct& request);
  Answer readKeyInfo(const SMCParamStruct& request, SMCParamStruct& reply);
  Answer readKeyAtIndex(const SMCParamStruct& request, SMCParamStruct& reply);
  // The temperature files, listed at the first use after each open.
  const std::vector<TemperatureFile>& temperatureFiles();
  const TemperatureFile* temperatureFileOf(FourCharCode code);
  // The cursor's answer for a temperature key that no label names, 132 where it is refused.
  Answer temperatureKeyWithoutFile(Answer cursorAnswer);

  std::shared_ptr<FileAccess> files_;
  std::string sysfsRoot_;

  std::mutex mutex_; // guards the fields below; held for a whole exchange
  std::optional<std::string> deviceDirectory_;
  std::string fanDirectory_;
  std::string temperatureDirectory_;
  std::optional<std::vector<TemperatureFile>> temperatureFiles_;
  std::unique_ptr<KeyCursor> cursor_;
  std::set<Connection> openConnections_;
  Connection lastConnection_ = 0;
};

// The driver of the machine the program runs on: this driver over the real /sys.
std::shared_ptr<SMCDriver> makeSystemDriver();

} // namespace ventaro::applesmc
