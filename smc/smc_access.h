#pragma once

#include "smc/data_type.h"
#include "smc/four_char_code.h"
#include "smc/smc_driver.h"
#include "smc/smc_error.h"
#include "smc/smc_param_struct.h"

#include <cstdint>
#include <memory>
#include <vector>

// The connection to the SMC and the generic key operations. Every operation runs on the
// caller's thread, blocks for its exchanges and reports failure by throwing SMCError; none
// retries. The typed operations on fans, sensors and battery build on these.
namespace ventaro::SMCAccess {

// The process-wide handle of the open SMC connection: 0 until the first openSMC, written by
// openSMC, left as it is by closeSMC. Nothing records whether it is open.
inline SMCDriver::Connection connection = 0;

// Installs the driver that every following operation uses; the program installs the machine's
// own at start. Until one is installed (or after nullptr is installed) the machine counts as
// having no SMC: openSMC and every exchange throw driverNotFound, closeSMC returns false.
void setDriver(std::shared_ptr<SMCDriver> driver);
// The driver in use; nullptr when none is installed.
std::shared_ptr<SMCDriver> driver();

// Opens the connection. Throws driverNotFound when no driver is installed or the machine has no
// SMC service, and
// failedToOpen when the service refuses the connection.
void openSMC();

// Closes the connection; true when the driver reports it closed. Never throws.
bool closeSMC() noexcept;

// One exchange under the given driver method index. Throws driverNotFound without a driver,
// keyNotFound (with the request's key)
// for result 132, notPrivileged for a call refused for privilege, unknown for any other failure.
SMCParamStruct callSMC(const SMCParamStruct& request, SMCParamStruct::Selector selector);

// All 32 bytes of the reply; the caller uses the first `size`.
SMCBytes readKey(FourCharCode code, std::uint32_t size);

void writeKey(FourCharCode code, std::uint32_t size, const SMCBytes& value);

// A key's data type. A data size that does not fit 32 bits is refused with
// unknown(kIOReturnOverrun, 0).
DataType readKeyInfo(FourCharCode code);

// False only when the SMC does not know the key; any other failure is thrown.
bool isKeyFound(FourCharCode code);

// The number of keys, 0 to 4294967295, from "#KEY".
std::int64_t readKeyCount();

// The key at an index in the SMC's order. An index outside 0 to 4294967295 is refused with
// unknown(kIOReturnBadArgument, 0) without an exchange.
FourCharCode readKeyAtIndex(std::int64_t index);

// Every key with its data type, in index order (1 + 2n exchanges). The first failure is thrown
// and nothing is returned.
std::vector<SMCKey> readAllKeys();

} // namespace ventaro::SMCAccess
