#pragma once

#include "smc/io_return.h"

#include <cstdint>
#include <exception>
#include <string>

namespace ventaro::SMCAccess {

// The one error of the SMC layer. It carries no message: what() names the case only.
class SMCError : public std::exception {
public:
  enum class Kind {
    keyNotFound,
    unknown,
    driverNotFound,
    failedToOpen,
    notPrivileged,
    unsafeFanSpeed,
  };

  // code: the four-character text of the key that the request was about.
  static SMCError keyNotFound(std::string code);
  // kIOReturn: the driver call's return code; smcResult: the reply's result byte.
  static SMCError unknown(KernReturn kIOReturn, std::uint8_t smcResult);
  static SMCError driverNotFound() { return SMCError(Kind::driverNotFound); }
  static SMCError failedToOpen() { return SMCError(Kind::failedToOpen); }
  static SMCError notPrivileged() { return SMCError(Kind::notPrivileged); }
  static SMCError unsafeFanSpeed() { return SMCError(Kind::unsafeFanSpeed); }

  Kind kind() const noexcept { return kind_; }
  // Payloads; empty or 0 for the cases that carry none.
  const std::string& code() const noexcept { return code_; }
  KernReturn kIOReturn() const noexcept { return kIOReturn_; }
  std::uint8_t smcResult() const noexcept { return smcResult_; }

  const char* what() const noexcept override;

  friend bool operator==(const SMCError& a, const SMCError& b) noexcept {
    return a.kind_ == b.kind_ && a.code_ == b.code_ && a.kIOReturn_ == b.kIOReturn_ &&
           a.smcResult_ == b.smcResult_;
  }

private:
  explicit SMCError(Kind kind) : kind_(kind) {}

  Kind kind_;
  std::string code_;
  KernReturn kIOReturn_ = kIOReturnSuccess;
  std::uint8_t smcResult_ = 0;
};

// The case's name ("keyNotFound", ...).
const char* kindName(SMCError::Kind kind) noexcept;

} // namespace ventaro::SMCAccess
