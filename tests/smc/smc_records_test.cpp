#include "smc/fpe2.h"
#include "smc/smc_param_struct.h"

#include <array>
#include <cstring>
#include <gtest/gtest.h>
#include <new>
#include <stdexcept>
#include <type_traits>

namespace ventaro {
namespace {

TEST(FPE2, DecodesTheWholePartAndEncodesWithZeroFraction) {
  EXPECT_EQ(decodeFPE2(0x0C, 0x80), 800);
  EXPECT_EQ(decodeFPE2(0x00, 0x03), 0);
  EXPECT_EQ(decodeFPE2(0xFF, 0xFF), 16383);
  EXPECT_EQ(encodeFPE2(2800), (std::array<std::uint8_t, 2>{0x2B, 0xC0}));
  EXPECT_EQ(encodeFPE2(16383), (std::array<std::uint8_t, 2>{0xFF, 0xFC}));
  // Any two reply bytes decode, and encoding the speed again loses only the fraction bits (so
  // every speed from 0 to 16383 survives the codec).
  for (unsigned pair = 0; pair <= 0xFFFF; ++pair) {
    const auto first = static_cast<std::uint8_t>(pair >> 8);
    const auto second = static_cast<std::uint8_t>(pair & 0xFC);
    ASSERT_EQ(encodeFPE2(decodeFPE2(first, static_cast<std::uint8_t>(pair))),
              (std::array<std::uint8_t, 2>{first, second}));
  }
  for (const std::int64_t refused : {std::int64_t{-1}, std::int64_t{16384}, INT64_MIN, INT64_MAX}) {
    EXPECT_THROW(encodeFPE2(refused), std::out_of_range) << refused;
  }
}

// Every field set to a distinct value, then compared, byte for byte, with where the driver
// looks for it; a zeroed record clears the gaps between fields too.
template <typename Record> class RecordLayout : public ::testing::Test {};
using Layouts = ::testing::Types<SMCParamStructArm64, SMCParamStructX86_64>;
TYPED_TEST_SUITE(RecordLayout, Layouts);

TYPED_TEST(RecordLayout, PlacesEveryFieldWhereTheDriverReadsIt) {
  constexpr bool arm64 = std::is_same_v<TypeParam, SMCParamStructArm64>;
  static_assert(sizeof(TypeParam) == (arm64 ? 88 : 80));
  alignas(TypeParam) std::array<std::uint8_t, sizeof(TypeParam)> storage;
  storage.fill(0xAB);
  auto& record = *::new (static_cast<void*>(storage.data())) TypeParam(TypeParam::zeroed());
  EXPECT_EQ(storage, decltype(storage){}) << "the gaps are cleared too";

  record.key = 0x464E756D; // "FNum"
  record.vers = {0x11, 0x12, 0x13, 0x14, 0x1615};
  record.pLimitData = {0x2221, 0x2423, 0x28272625, 0x2C2B2A29, 0x302F2E2D};
  record.keyInfo.dataSize = 0x34333231;
  record.keyInfo.dataType = 0x73703738; // "sp78"
  record.keyInfo.dataAttributes = 0x41;
  record.padding = 0x4342;
  record.result = 0x84;
  record.status = 0x51;
  record.data8 = 5;
  record.data32 = 0x64636261;
  for (std::size_t i = 0; i < record.bytes.size(); ++i) {
    record.bytes[i] = static_cast<std::uint8_t>(0xA0 + i);
  }

  decltype(storage) expected{};
  const auto put = [&](std::size_t offset, std::initializer_list<std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), expected.begin() + static_cast<std::ptrdiff_t>(offset));
  };
  put(0, {0x6D, 0x75, 0x4E, 0x46}); // "FNum" in native (little-endian) order
  put(4, {0x11, 0x12, 0x13, 0x14, 0x15, 0x16});
  put(12, {0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,
           0x30});
  const std::size_t shift = arm64 ? 8 : 0;        // everything from keyInfo on moves on arm64
  put(arm64 ? 32 : 28, {0x31, 0x32, 0x33, 0x34}); // the high half of the 64-bit size stays 0
  put(32 + shift, {0x38, 0x37, 0x70, 0x73});
  put(36 + shift, {0x41});
  put(38 + shift, {0x42, 0x43});
  put(40 + shift, {0x84, 0x51, 0x05});
  put(44 + shift, {0x61, 0x62, 0x63, 0x64});
  for (std::size_t i = 0; i < 32; ++i) {
    expected[48 + shift + i] = static_cast<std::uint8_t>(0xA0 + i);
  }
  EXPECT_EQ(storage, expected);
}

} // namespace
} // namespace ventaro
