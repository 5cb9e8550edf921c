#pragma once

#include <cstdint>

namespace ventaro {

// Kernel return codes of a driver exchange, with the values the SMC user client has always
// used: 0 for success, otherwise the I/O system's common error space (0xE0000000 | code).
using KernReturn = std::int32_t;

namespace io_return_detail {
constexpr KernReturn common(std::uint32_t code) {
  return static_cast<KernReturn>(0xE0000000u | code);
}
} // namespace io_return_detail

inline constexpr KernReturn kIOReturnSuccess = 0;
inline constexpr KernReturn kIOReturnError = io_return_detail::common(0x2BC);
inline constexpr KernReturn kIOReturnNoMemory = io_return_detail::common(0x2BD);
inline constexpr KernReturn kIOReturnNoDevice = io_return_detail::common(0x2C0);
inline constexpr KernReturn kIOReturnNotPrivileged = io_return_detail::common(0x2C1);
inline constexpr KernReturn kIOReturnBadArgument = io_return_detail::common(0x2C2);
inline constexpr KernReturn kIOReturnUnsupported = io_return_detail::common(0x2C7);
inline constexpr KernReturn kIOReturnIOError = io_return_detail::common(0x2CA);
inline constexpr KernReturn kIOReturnNotOpen = io_return_detail::common(0x2CD);
inline constexpr KernReturn kIOReturnNotReadable = io_return_detail::common(0x2CE);
inline constexpr KernReturn kIOReturnBusy = io_return_detail::common(0x2D5);
inline constexpr KernReturn kIOReturnTimeout = io_return_detail::common(0x2D6);
inline constexpr KernReturn kIOReturnOverrun = io_return_detail::common(0x2E8);
inline constexpr KernReturn kIOReturnNotFound = io_return_detail::common(0x2F0);

static_assert(kIOReturnNotPrivileged == static_cast<KernReturn>(0xE00002C1u));

} // namespace ventaro
