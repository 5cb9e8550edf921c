// The Vulkan backend on this machine's first Vulkan device (lavapipe where there is no GPU),
// at sizes small enough for a software device: the fill, products of sizes that do not divide
// the tiles, products into their own operands, the comparison and the element reads.

#include "tests/workload/square_checks.h"
#include "workload/matrix_load.h"
#include "workload/vulkan/device_name.h"
#include "workload/vulkan/gemm_tiles.h"
#include "workload/vulkan/vulkan_device.h"
#include "workload/vulkan/vulkan_devices.h"

#include <bit>
#include <cmath>
#include <gmock/gmock.h>
#include <limits>

namespace ventaro::gpu::vulkan {
namespace {

using testing::Elements;
using ::testing::HasSubstr;

TEST(VulkanDeviceName, LosesATrailingDriverTagOnly) {
  const std::pair<const char*, const char*> table[] = {
      {"AMD Radeon RX 580 Series (RADV POLARIS10)", "AMD Radeon RX 580 Series"},
      {"llvmpipe (LLVM 15.0.6, 256 bits)", "llvmpipe"},
      {"Intel(R) UHD Graphics 630 (CFL GT2)", "Intel(R) UHD Graphics 630"},
      {"GPU (a (nested) tag)", "GPU"},
      {"NVIDIA GeForce RTX 3080", "NVIDIA GeForce RTX 3080"},
      {"Radeon (TM) Pro", "Radeon (TM) Pro"}, // not at the end
      {"(only a tag)", "(only a tag)"},
      {"unpaired)", "unpaired)"},
      {"", ""},
  };
  for (const auto& [name, expected] : table) {
    EXPECT_EQ(deviceNameWithoutDriverTag(name), expected) << name;
  }
}

// Whatever the limits, the chosen tiling fits them and covers its block with whole loads.
TEST(VulkanGemmTiles, FitTheDeviceLimits) {
  const ComputeLimits table[] = {
      {1024, 1024, 49152, 32}, // current discrete GPUs
      {1024, 1024, 65536, 64}, // wave64
      {128, 128, 16384, 0},    // the least Vulkan allows
      {256, 256, 4096, 16},    // little shared memory
  };
  for (const ComputeLimits& limits : table) {
    const GemmTiles t = gemmTilesFor(limits);
    SCOPED_TRACE(::testing::Message()
                 << limits.maxInvocations << " invocations, " << limits.maxSharedBytes << " bytes");
    EXPECT_LE(t.invocations, limits.maxInvocations);
    EXPECT_LE(t.sharedBytes(), limits.maxSharedBytes);
    EXPECT_EQ(t.blockRows / t.threadRows * (t.blockColumns / t.threadColumns), t.invocations);
    EXPECT_EQ(t.blockRows * t.depth % (4 * t.invocations), 0u);
    EXPECT_EQ(t.blockColumns * t.depth % (4 * t.invocations), 0u);
  }
  EXPECT_EQ(gemmTilesFor(table[0]), (GemmTiles{256, 128, 128, 16, 8, 8}));
}

class VulkanBackend : public ::testing::Test {
protected:
  void SetUp() override {
    if (vulkanDevices().empty()) {
      GTEST_SKIP() << "no Vulkan loader, driver or device on this machine (see G_MESSAGES_DEBUG)";
    }
    device = vulkanDevices().front();
  }

  testing::Backend backend() const { return {*device, readMatrix, writeMatrix}; }

  // A rows × columns matrix with rows of `stride` elements.
  std::unique_ptr<Matrix> matrix(std::int64_t rows, std::int64_t columns, std::int64_t stride) {
    const auto rowBytes = static_cast<std::uint64_t>(stride) * sizeof(float);
    auto buffer = device->newBuffer(static_cast<std::uint64_t>(rows) * rowBytes,
                                    ResourceOptions::storageModePrivate);
    return buffer ? device->newMatrix(buffer, {rows, columns, rowBytes, DataType::float32})
                  : nullptr;
  }

  std::shared_ptr<Device> device;
};

TEST_F(VulkanBackend, DescribesItself) {
  EXPECT_EQ(device->backend(), "vulkan");
  EXPECT_THAT(device->name(), ::testing::Not(::testing::EndsWith(")")));
  EXPECT_GT(device->recommendedMaxWorkingSetSize(), 0u);
  EXPECT_TRUE(device->pciIdentity());
  if (device->isProcessor()) {
    EXPECT_EQ(device->recommendedMaxWorkingSetSize() % (std::uint64_t{64} << 20), 0u);
  }
}

// Seeds whose additions carry across the 32-bit halves; rows padded to another stride.
TEST_F(VulkanBackend, FillEqualsTheHostGeneratorBitForBit) {
  for (const std::uint64_t seed : {loadSeed, ~std::uint64_t{0}, std::uint64_t{0xFFFFFFFF}}) {
    const auto m = matrix(37, 45, 48);
    ASSERT_TRUE(m && device->fillUniform(*m, seed)) << device->lastFailure();
    const Elements values = readMatrix(*m);
    ASSERT_EQ(values.size(), 37u * 45u);
    for (std::size_t i = 0; i < values.size(); ++i) {
      ASSERT_EQ(std::bit_cast<std::uint32_t>(values[i]),
                std::bit_cast<std::uint32_t>(uniformValue(seed, i)))
          << "element " << i << ", seed " << seed;
    }
  }
}

// Each element of the product lies within the FP32 dot-product bound of the exact one:
// n · 2^-24 · Σ|a||b| (computed in double from the host's values).
TEST_F(VulkanBackend, ProductsOfSizesThatDoNotDivideTheTilesAreWithinTheFp32Bound) {
  for (const std::int64_t n : {1, 7, 63, 129, 1000}) {
    SCOPED_TRACE(::testing::Message() << "n " << n);
    const auto a = backend().matrix(n);
    const auto c = backend().matrix(n);
    ASSERT_TRUE(a && c && device->fillUniform(*a, loadSeed)) << device->lastFailure();
    auto queue = device->newCommandQueue();
    auto commands = queue->commandBuffer();
    device->newMatrixMultiplication(n, n, n)->encodeToCommandBuffer(*commands, *a, *a, *c);
    commands->commit();
    commands->waitUntilCompleted();
    ASSERT_FALSE(commands->error()) << commands->error()->message;
    const Elements got = readMatrix(*c);
    ASSERT_EQ(got.size(), static_cast<std::size_t>(n * n));
    std::vector<double> start(got.size());
    for (std::size_t i = 0; i < start.size(); ++i) {
      start[i] = uniformValue(loadSeed, i);
    }
    std::int64_t outside = 0;
    for (std::int64_t i = 0; i < n; ++i) {
      for (std::int64_t j = 0; j < n; ++j) {
        double exact = 0, magnitude = 0;
        for (std::int64_t k = 0; k < n; ++k) {
          exact += start[i * n + k] * start[k * n + j];
          magnitude += std::abs(start[i * n + k] * start[k * n + j]);
        }
        const double bound = static_cast<double>(n) * 0x1p-24 * magnitude;
        outside += std::abs(got[i * n + j] - exact) <= bound ? 0 : 1;
      }
    }
    EXPECT_EQ(outside, 0);
  }
}

// The result is also both operands: every multiplication of a run computes the same product,
// which a run of 65 replays from two recorded buffers (64 and 1); a product of part of a
// matrix with padded rows leaves the rest alone.
TEST_F(VulkanBackend, ProductsIntoTheirOwnOperandsLeaveStartTimesStart) {
  for (const std::int64_t k : {1, 65}) {
    backend().expectDenseSquare(129, k);
  }
  backend().expectPartialProductKeepsTheRest(8 * sizeof(float));
  const LoadOutcome outcome = runMatrixLoad(*device, 256, 3);
  EXPECT_FALSE(outcome.failed()) << *outcome.failure;
  EXPECT_EQ(outcome.check, ResultCheck::passed);
}

TEST_F(VulkanBackend, CountsDifferingBitsAndReadsElements) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const auto a = matrix(3, 3, 3);
  const auto b = matrix(3, 3, 3);
  ASSERT_TRUE(a && b);
  ASSERT_TRUE(writeMatrix(*a, Elements{1, 2, 3, 0.0f, nan, 6, 7, 8, 9}));
  ASSERT_TRUE(writeMatrix(*b, Elements{1, 2, 3, -0.0f, nan, 6, 7, 8, 9.5f}));
  EXPECT_EQ(device->countDifferences(*a, *b), 2) << "-0 differs from +0, NaN equals itself";

  const std::vector<ElementPosition> positions{{2, 1}, {0, 0}, {2, 2}, {0, 2}};
  EXPECT_EQ(device->readElements(*b, positions), (Elements{8, 1, 9.5f, 3}));
  const std::vector<ElementPosition> outside{{3, 0}};
  EXPECT_FALSE(device->readElements(*b, outside));
  EXPECT_THAT(device->lastFailure(), HasSubstr("outside"));
}

// A buffer beyond what the device can bind is refused with the reason, and a load that
// needs one ends as a failed load that gives it.
TEST_F(VulkanBackend, AnAllocationTheDeviceRefusesFailsWithItsReason) {
  EXPECT_EQ(device->newBuffer(std::uint64_t{1} << 40, ResourceOptions::storageModePrivate),
            nullptr);
  EXPECT_THAT(device->lastFailure(), HasSubstr("bytes"));
  const LoadOutcome outcome = runMatrixLoad(*device, 65536, 1);
  ASSERT_TRUE(outcome.failed());
  EXPECT_THAT(*outcome.failure, HasSubstr("cannot allocate"));
  EXPECT_THAT(*outcome.failure, HasSubstr("largest buffer"));
}

} // namespace
} // namespace ventaro::gpu::vulkan
