#include "smc/applesmc/answer.h"

#include <cerrno>

namespace ventaro::applesmc {

Answer answerForErrno(int error) {
  switch (error) {
  case 0:
    return kAnswerSuccess;
  case EINVAL:
    return kAnswerKeyNotFound;
  case EACCES:
  case EPERM:
    return failedCall(kIOReturnNotPrivileged);
  case EIO:
  case ETIMEDOUT:
    return failedCall(kIOReturnTimeout);
  case EBUSY:
  case EAGAIN:
    return failedCall(kIOReturnBusy);
  case ENOENT:
  case ENODEV:
  case ENXIO:
    return failedCall(kIOReturnNoDevice);
  case ENOMEM:
    return failedCall(kIOReturnNoMemory);
  default:
    return failedCall(kIOReturnError);
  }
}

} // namespace ventaro::applesmc
