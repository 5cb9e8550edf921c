#include "smc/fpe2.h"
#include "smc/smc_param_struct.h"

#include <array>
#include <gtest/gtest.h>
#include <new>
#include <stdexcept>

namespace ventaro {
namespace {

TEST(FPE2, DecodesTheWholePartAndEncodesWithZeroFraction) {
  EXPECT_EQ(decodeFPE2(0x0C, 0x80), 800);
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

// Where each field lies is pinned by static assertions beside the record; what they cannot see
// is that a zeroed record clears the gaps between fields too.
template <typename Record> class RecordLayout : public ::testing::Test {};
using Layouts = ::testing::Types<SMCParamStructArm64, SMCParamStructX86_64>;
TYPED_TEST_SUITE(RecordLayout, Layouts);

TYPED_TEST(RecordLayout, AZeroedRecordHasNoByteSet) {
  alignas(TypeParam) std::array<std::uint8_t, sizeof(TypeParam)> storage;
  storage.fill(0xAB);
  ::new (static_cast<void*>(storage.data())) TypeParam(TypeParam::zeroed());
  EXPECT_EQ(storage, decltype(storage){});
}

} // namespace
} // namespace ventaro
