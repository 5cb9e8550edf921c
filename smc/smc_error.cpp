#include "smc/smc_error.h"

#include <utility>

namespace ventaro::SMCAccess {

SMCError SMCError::keyNotFound(std::string code) {
  SMCError error(Kind::keyNotFound);
  error.code_ = std::move(code);
  return error;
}

SMCError SMCError::unknown(KernReturn kIOReturn, std::uint8_t smcResult) {
  SMCError error(Kind::unknown);
  error.kIOReturn_ = kIOReturn;
  error.smcResult_ = smcResult;
  return error;
}

const char* SMCError::what() const noexcept {
  return kindName(kind_);
}

const char* kindName(SMCError::Kind kind) noexcept {
  switch (kind) {
  case SMCError::Kind::keyNotFound:
    return "keyNotFound";
  case SMCError::Kind::unknown:
    return "unknown";
  case SMCError::Kind::driverNotFound:
    return "driverNotFound";
  case SMCError::Kind::failedToOpen:
    return "failedToOpen";
  case SMCError::Kind::notPrivileged:
    return "notPrivileged";
  case SMCError::Kind::unsafeFanSpeed:
    return "unsafeFanSpeed";
  }
  return "unknown";
}

} // namespace ventaro::SMCAccess
