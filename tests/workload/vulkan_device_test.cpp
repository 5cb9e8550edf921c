// The Vulkan backend on this machine's first Vulkan device (lavapipe where there is no GPU),
// at sizes small enough for a software device: the fill, products of sizes that do not divide
// the tiles, products into their own operands, the comparison and the element reads, misuse,
// and many objects in one command buffer.

#include "tests/workload/fake_gpu.h"
#include "tests/workload/square_checks.h"
#include "workload/accuracy_check.h"
#include "workload/matrix_load.h"
#include "workload/vulkan/device_name.h"
#include "workload/vulkan/gemm_tiles.h"
#include "workload/vulkan/vulkan_batch.h"
#include "workload/vulkan/vulkan_device.h"
#include "workload/vulkan/vulkan_devices.h"

#include <bit>
#include <gmock/gmock.h>
#include <limits>
#include <set>

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
  const std::optional<PciIdentity> pci = device->pciIdentity();
  ASSERT_TRUE(pci);
  EXPECT_NE(pci->vendorId, 0u);
  EXPECT_THAT(pci->address,
              ::testing::MatchesRegex("([0-9a-f]{4}:[0-9a-f]{2}:[0-9a-f]{2}\\.[0-7])?"));
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

// The product lies within the FP32 dot-product bound of the exact one: every element up to
// 129, a sample of 20,000 at 1000.
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
    std::vector<ElementPosition> positions;
    std::vector<float> values;
    if (n <= 129) {
      for (std::int64_t i = 0; i < n * n; ++i) {
        positions.emplace_back(i / n, i % n);
        values.push_back(got[i]);
      }
    } else {
      positions = accuracyPositions(loadSeed, n, 20000);
      for (const auto& [row, column] : positions) {
        values.push_back(got[row * n + column]);
      }
    }
    EXPECT_EQ(valuesOutsideBound(loadSeed, n, positions, values), 0);
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

// Each misuse ends as the command buffer's error or a refusal with its reason; the device
// goes on working afterwards.
TEST_F(VulkanBackend, MisuseEndsAsACommandBufferErrorAndImpossibleObjectsAreRefused) {
  const auto m = backend().matrix(4);
  ASSERT_TRUE(m && device->fillUniform(*m, 1));
  ventaro::testing::FakeDevice fake;
  const auto foreign = fake.newMatrix(fake.newBuffer(64, ResourceOptions::storageModePrivate),
                                      {4, 4, 16, DataType::float32});
  // The same physical device, opened a second time: its memory is not this device's.
  const std::shared_ptr<VulkanDevice> twin = listDevices(**instanceApi()).front();
  const testing::Backend twinBackend{*twin, readMatrix, writeMatrix};
  const auto other = twinBackend.matrix(4);
  ASSERT_NE(other, nullptr);

  const auto encoded = [&](Matrix& right, std::int64_t size) {
    auto commands = device->newCommandQueue()->commandBuffer();
    device->newMatrixMultiplication(size, size, size)
        ->encodeToCommandBuffer(*commands, *m, right, *m);
    commands->commit();
    commands->waitUntilCompleted();
    const std::optional<CommandError> error = commands->error();
    return error ? error->message : std::string();
  };
  EXPECT_THAT(encoded(*foreign, 4), HasSubstr("another device"));
  EXPECT_THAT(encoded(*other, 4), HasSubstr("another Vulkan device"));
  EXPECT_THAT(encoded(*m, 5), HasSubstr("smaller than the multiplication"));

  auto commands = device->newCommandQueue()->commandBuffer();
  auto kernel = device->newMatrixMultiplication(4, 4, 4);
  commands->commit();
  kernel->encodeToCommandBuffer(*commands, *m, *m, *m);
  commands->commit();
  commands->waitUntilCompleted();
  EXPECT_TRUE(commands->error()) << "encoded and committed after the commit";

  EXPECT_EQ(device->newBuffer(0, ResourceOptions::storageModePrivate), nullptr);
  EXPECT_THAT(device->lastFailure(), HasSubstr("no bytes"));
  const auto small = device->newBuffer(60, ResourceOptions::storageModePrivate);
  EXPECT_EQ(device->newMatrix(small, {4, 4, 16, DataType::float32}), nullptr) << "too small";
  EXPECT_EQ(twin->newMatrix(small, {3, 3, 12, DataType::float32}), nullptr) << "another device";
  EXPECT_FALSE(device->fillUniform(*foreign, 1));
  EXPECT_THAT(device->lastFailure(), HasSubstr("another device"));
  EXPECT_FALSE(device->countDifferences(*m, *other));
  EXPECT_THAT(device->lastFailure(), HasSubstr("another device"));
  EXPECT_FALSE(device->countDifferences(*m, *backend().matrix(5)));
  EXPECT_THAT(device->lastFailure(), HasSubstr("different layouts"));

  EXPECT_FALSE(backend().square(*m, 2, 4)) << "the device still works";
}

// 40 runs in one command buffer need 40 descriptor sets, more than one pool holds: the
// pools grow, and every run computes the same product.
TEST_F(VulkanBackend, ManyRunsInOneCommandBufferGrowTheDescriptorPools) {
  constexpr std::int64_t n = 9;
  constexpr int runs = 40;
  const auto a = backend().matrix(n);
  ASSERT_TRUE(a && device->fillUniform(*a, loadSeed));
  std::vector<std::unique_ptr<Matrix>> products;
  auto commands = device->newCommandQueue()->commandBuffer();
  auto kernel = device->newMatrixMultiplication(n, n, n);
  for (int i = 0; i < runs; ++i) {
    products.push_back(backend().matrix(n));
    ASSERT_NE(products.back(), nullptr);
    kernel->encodeToCommandBuffer(*commands, *a, *a, *products.back());
  }
  commands->commit();
  commands->waitUntilCompleted();
  ASSERT_FALSE(commands->error()) << commands->error()->message;
  for (const auto& product : products) {
    ASSERT_EQ(device->countDifferences(*products.front(), *product), 0);
  }
  const std::vector<ElementPosition> positions = accuracyPositions(loadSeed, n, 50);
  const std::optional<std::vector<float>> values =
      device->readElements(*products.front(), positions);
  ASSERT_TRUE(values);
  EXPECT_EQ(valuesOutsideBound(loadSeed, n, positions, *values), 0);

  // The batch itself: every set distinct, in pools of 16.
  const auto& buffer = dynamic_cast<const VulkanMatrix&>(*a).buffer();
  Made<std::unique_ptr<Batch>> batch = Batch::make(buffer.sharedContext());
  ASSERT_TRUE(batch) << batch.why();
  const std::array<VkBuffer, 3> bound{buffer.storage(), buffer.storage(), buffer.storage()};
  std::set<VkDescriptorSet> sets;
  for (int i = 0; i < runs; ++i) {
    const Made<VkDescriptorSet> set = (*batch)->bind(bound);
    ASSERT_TRUE(set) << set.why();
    sets.insert(*set);
  }
  EXPECT_EQ(sets.size(), static_cast<std::size_t>(runs));
  EXPECT_EQ((*batch)->descriptorPools(), 3u);
}

} // namespace
} // namespace ventaro::gpu::vulkan
