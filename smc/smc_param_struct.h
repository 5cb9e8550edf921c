#pragma once

#include "smc/data_type.h"
#include "smc/four_char_code.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <type_traits>

namespace ventaro {

// Parts of the exchange record that are the same whatever the processor.
namespace smc_record {

// A driver method index or an SMC command (the record's data8).
enum class Selector : std::uint8_t {
  kSMCHandleYPCEvent = 2, // driver method index of every exchange; never a command
  kSMCReadKey = 5,
  kSMCWriteKey = 6,
  kSMCGetKeyFromIndex = 8,
  kSMCGetKeyInfo = 9,
};

// The SMC's result code in a reply.
enum class Result : std::uint8_t {
  kSMCSuccess = 0,
  kSMCError = 1,
  kSMCKeyNotFound = 132,
};

struct SMCVersion {
  std::uint8_t major;
  std::uint8_t minor;
  std::uint8_t build;
  std::uint8_t reserved;
  std::uint16_t release;
};

struct SMCPLimitData {
  std::uint16_t version;
  std::uint16_t length;
  std::uint32_t cpuPLimit;
  std::uint32_t gpuPLimit;
  std::uint32_t memPLimit;
};

// Packed, so that the record lays its next fields into what would otherwise be this record's
// tail padding, as the driver's layout does; the record aligns it by `alignas`.
template <typename DataSize> struct [[gnu::packed]] SMCKeyInfoData {
  DataSize dataSize;
  FourCharCode dataType;
  std::uint8_t dataAttributes;
};

} // namespace smc_record

// The record of every exchange with the SMC driver, byte for byte as the driver expects it.
// Its layout depends on the width of keyInfo.dataSize: 64 bits on arm64 (88 bytes), 32 bits
// on x86-64 (80 bytes). Both layouts exist on every host; SMCParamStruct is the native one.
//
// Make records with zeroed(): value-initialisation also clears the gap bytes between fields,
// which aggregate initialisation ({}) does not promise.
template <typename DataSize> struct SMCParamStructLayout {
  static_assert(std::is_same_v<DataSize, std::uint64_t> || std::is_same_v<DataSize, std::uint32_t>);

  using Selector = smc_record::Selector;
  using Result = smc_record::Result;
  using SMCVersion = smc_record::SMCVersion;
  using SMCPLimitData = smc_record::SMCPLimitData;
  using SMCKeyInfoData = smc_record::SMCKeyInfoData<DataSize>;

  FourCharCode key;
  SMCVersion vers;
  SMCPLimitData pLimitData;
  alignas(DataSize) SMCKeyInfoData keyInfo;
  std::uint16_t padding;
  std::uint8_t result;
  std::uint8_t status;
  std::uint8_t data8;
  std::uint32_t data32;
  SMCBytes bytes;

  static SMCParamStructLayout zeroed() { return SMCParamStructLayout(); }
};

using SMCParamStructArm64 = SMCParamStructLayout<std::uint64_t>;
using SMCParamStructX86_64 = SMCParamStructLayout<std::uint32_t>;

#define VENTARO_CHECK_OFFSET(record, field, offset)                                                \
  static_assert(offsetof(record, field) == (offset), #record "." #field " is not at " #offset)

VENTARO_CHECK_OFFSET(SMCParamStructArm64, key, 0);
VENTARO_CHECK_OFFSET(SMCParamStructArm64, vers.major, 4);
VENTARO_CHECK_OFFSET(SMCParamStructArm64, vers.minor, 5);
VENTARO_CHECK_OFFSET(SMCParamStructArm64, vers.build, 6);
VENTARO_CHECK_OFFSET(SMCParamStructArm64, vers.reserved, 7);
VENTARO_CHECK_OFFSET(SMCParamStructArm64, vers.release, 8);
VENTARO_CHECK_OFFSET(SMCParamStructArm64, pLimitData.version, 12);
VENTARO_CHECK_OFFSET(SMCParamStructArm64, pLimitData.length, 14);
VENTARO_CHECK_OFFSET(SMCParamStructArm64, pLimitData.cpuPLimit, 16);
VENTARO_CHECK_OFFSET(SMCParamStructArm64, pLimitData.gpuPLimit, 20);
VENTARO_CHECK_OFFSET(SMCParamStructArm64, pLimitData.memPLimit, 24);
VENTARO_CHECK_OFFSET(SMCParamStructArm64, keyInfo.dataSize, 32);
VENTARO_CHECK_OFFSET(SMCParamStructArm64, keyInfo.dataType, 40);
VENTARO_CHECK_OFFSET(SMCParamStructArm64, keyInfo.dataAttributes, 44);
VENTARO_CHECK_OFFSET(SMCParamStructArm64, padding, 46);
VENTARO_CHECK_OFFSET(SMCParamStructArm64, result, 48);
VENTARO_CHECK_OFFSET(SMCParamStructArm64, status, 49);
VENTARO_CHECK_OFFSET(SMCParamStructArm64, data8, 50);
VENTARO_CHECK_OFFSET(SMCParamStructArm64, data32, 52);
VENTARO_CHECK_OFFSET(SMCParamStructArm64, bytes, 56);
static_assert(sizeof(SMCParamStructArm64) == 88 && alignof(SMCParamStructArm64) == 8);

VENTARO_CHECK_OFFSET(SMCParamStructX86_64, key, 0);
VENTARO_CHECK_OFFSET(SMCParamStructX86_64, vers.major, 4);
VENTARO_CHECK_OFFSET(SMCParamStructX86_64, vers.minor, 5);
VENTARO_CHECK_OFFSET(SMCParamStructX86_64, vers.build, 6);
VENTARO_CHECK_OFFSET(SMCParamStructX86_64, vers.reserved, 7);
VENTARO_CHECK_OFFSET(SMCParamStructX86_64, vers.release, 8);
VENTARO_CHECK_OFFSET(SMCParamStructX86_64, pLimitData.version, 12);
VENTARO_CHECK_OFFSET(SMCParamStructX86_64, pLimitData.length, 14);
VENTARO_CHECK_OFFSET(SMCParamStructX86_64, pLimitData.cpuPLimit, 16);
VENTARO_CHECK_OFFSET(SMCParamStructX86_64, pLimitData.gpuPLimit, 20);
VENTARO_CHECK_OFFSET(SMCParamStructX86_64, pLimitData.memPLimit, 24);
VENTARO_CHECK_OFFSET(SMCParamStructX86_64, keyInfo.dataSize, 28);
VENTARO_CHECK_OFFSET(SMCParamStructX86_64, keyInfo.dataType, 32);
VENTARO_CHECK_OFFSET(SMCParamStructX86_64, keyInfo.dataAttributes, 36);
VENTARO_CHECK_OFFSET(SMCParamStructX86_64, padding, 38);
VENTARO_CHECK_OFFSET(SMCParamStructX86_64, result, 40);
VENTARO_CHECK_OFFSET(SMCParamStructX86_64, status, 41);
VENTARO_CHECK_OFFSET(SMCParamStructX86_64, data8, 42);
VENTARO_CHECK_OFFSET(SMCParamStructX86_64, data32, 44);
VENTARO_CHECK_OFFSET(SMCParamStructX86_64, bytes, 48);
static_assert(sizeof(SMCParamStructX86_64) == 80 && alignof(SMCParamStructX86_64) == 4);

#undef VENTARO_CHECK_OFFSET

static_assert(sizeof(smc_record::SMCVersion) == 6 && alignof(smc_record::SMCVersion) == 2);
static_assert(sizeof(smc_record::SMCPLimitData) == 16 && alignof(smc_record::SMCPLimitData) == 4);
static_assert(std::is_trivially_copyable_v<SMCParamStructArm64> &&
              std::is_trivially_copyable_v<SMCParamStructX86_64>);

// The build's own layout: arm64 has the 64-bit dataSize; every other processor uses the 32-bit
// one of x86-64.
#if defined(__aarch64__)
using SMCParamStruct = SMCParamStructArm64;
#else
using SMCParamStruct = SMCParamStructX86_64;
#endif

constexpr std::uint8_t rawValue(smc_record::Selector selector) {
  return static_cast<std::uint8_t>(selector);
}
constexpr std::uint8_t rawValue(smc_record::Result result) {
  return static_cast<std::uint8_t>(result);
}

// The case with the given raw value, or nothing for a value that names no case.
constexpr std::optional<smc_record::Selector> selectorFromRawValue(std::uint8_t raw) {
  using enum smc_record::Selector;
  for (const auto selector :
       {kSMCHandleYPCEvent, kSMCReadKey, kSMCWriteKey, kSMCGetKeyFromIndex, kSMCGetKeyInfo}) {
    if (rawValue(selector) == raw) {
      return selector;
    }
  }
  return std::nullopt;
}

constexpr std::optional<smc_record::Result> resultFromRawValue(std::uint8_t raw) {
  using enum smc_record::Result;
  for (const auto result : {kSMCSuccess, kSMCError, kSMCKeyNotFound}) {
    if (rawValue(result) == raw) {
      return result;
    }
  }
  return std::nullopt;
}

} // namespace ventaro
