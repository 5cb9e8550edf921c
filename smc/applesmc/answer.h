#pragma once

#include "smc/io_return.h"
#include "smc/smc_param_struct.h"

#include <cstdint>

namespace ventaro::applesmc {

// How the driver answers one exchange: the call's return code and the reply's result byte.
struct Answer {
  KernReturn status = kIOReturnSuccess;
  std::uint8_t result = rawValue(SMCParamStruct::Result::kSMCSuccess);

  bool succeeded() const { return status == kIOReturnSuccess && result == 0; }
  friend bool operator==(const Answer&, const Answer&) = default;
};

inline constexpr Answer kAnswerSuccess{};
inline constexpr Answer kAnswerKeyNotFound{kIOReturnSuccess,
                                           rawValue(SMCParamStruct::Result::kSMCKeyNotFound)};
constexpr Answer failedCall(KernReturn status) {
  return Answer{status, 0};
}

// A value together with the answer that came with it; the value counts only on success.
template <typename T> struct Answered {
  Answer answer;
  T value{};
};

// The answer for an errno of a sysfs access to a key or the key cursor.
//   EINVAL           the kernel does not know the key or index  → result 132
//   EACCES, EPERM    not root                                   → kIOReturnNotPrivileged
//   EIO, ETIMEDOUT   the SMC did not answer in time             → kIOReturnTimeout
//   EBUSY, EAGAIN                                               → kIOReturnBusy
//   ENOENT, ENODEV, ENXIO  the attribute or device is gone      → kIOReturnNoDevice
//   ENOMEM                                                      → kIOReturnNoMemory
//   anything else                                               → kIOReturnError
Answer answerForErrno(int error);

} // namespace ventaro::applesmc
