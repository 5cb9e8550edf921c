#pragma once

#include "smc/four_char_code.h"
#include "smc/io_return.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace ventaro {

// The operating-system side of the SMC: find the SMC service, open a connection to it and
// exchange one SMCParamStruct per call. SMCAccess talks to the SMC only through this.
// Every method returns a kernel return code where the exchange can fail (kIOReturnSuccess, 0,
// on success) and never throws.
class SMCDriver {
public:
  using Service = std::uint32_t;    // 0: no service
  using Connection = std::uint32_t; // 0: none

  virtual ~SMCDriver() = default;

  // The first service of the given class ("AppleSMC"), or 0 when there is none.
  virtual Service findService(std::string_view serviceClass) = 0;

  // Opens a connection to the service, writing its handle to *connection on success.
  virtual KernReturn openService(Service service, Connection* connection) = 0;

  // Gives back the reference that findService handed out.
  virtual void releaseService(Service service) = 0;

  virtual KernReturn closeService(Connection connection) = 0;

  // One exchange: method index `methodIndex`, `inputSize` bytes in, at most *outputSize bytes
  // out; *outputSize is set to the number of bytes written.
  virtual KernReturn callStructMethod(Connection connection, std::uint32_t methodIndex,
                                      const void* input, std::size_t inputSize, void* output,
                                      std::size_t* outputSize) = 0;

  // The temperature keys that the platform lists without the SMC's key index (which may need
  // privileges), in the SMC's key order. kIOReturnUnsupported where the platform keeps no such
  // list, which is the default.
  virtual KernReturn listTemperatureKeys(Connection connection, std::vector<FourCharCode>* keys) {
    static_cast<void>(connection);
    static_cast<void>(keys);
    return kIOReturnUnsupported;
  }
};

} // namespace ventaro
