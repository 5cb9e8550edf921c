#include "tests/workload/fake_gpu.h"
#include "tests/workload/square_checks.h"
#include "workload/cpu/cpu_command_buffer.h"
#include "workload/cpu/cpu_device.h"
#include "workload/cpu/processor_info.h"
#include "workload/matrix_load.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace ventaro::gpu::cpu {
namespace {

using testing::Elements;

struct CpuBackend {
  explicit CpuBackend(int threads) : device(CpuDeviceOptions{"/nonexistent", threads}) {}
  CpuDevice device;
  testing::Backend backend{device, readMatrix, writeMatrix};
};

TEST(CpuBackend, RepeatedSquaresMatchDoublePrecisionOnAnyThreadCount) {
  for (const int threads : {1, 2, 3}) {
    SCOPED_TRACE(::testing::Message() << threads << " threads");
    CpuBackend cpu(threads);
    for (const std::int64_t n : {1, 2, 7, 33, 64}) {
      for (const int k : {1, 2, 3, 4}) {
        cpu.backend.expectSquaresMatchDoublePrecision(n, k);
      }
    }
  }
}

TEST(CpuBackend, LongRunsAndPartialProductsStayExact) {
  CpuBackend cpu(2);
  for (const std::int64_t count : {1, 2, 3, 8, 9, 130}) {
    cpu.backend.expectPermutationSquaresStayExact(count);
  }
  cpu.backend.expectPartialProductKeepsTheRest(8 * sizeof(float)); // padded rows
  EXPECT_GE(runMatrixLoad(cpu.device, 512, 4), 1);                 // about 1 GFLOP
}

TEST(CpuBackend, FlushesDenormalsOnEveryComputingThread) {
  CpuBackend cpu(3);
  auto m = cpu.backend.matrix(48, Elements(48 * 48, 1e-20f)); // each product is 1e-40
  ASSERT_FALSE(cpu.backend.square(*m, 1, 48));
  EXPECT_EQ(readMatrix(*m), Elements(48 * 48, 0.0f));
}

TEST(CpuBackend, CommandBufferMemoryDoesNotGrowWithRepetitions) {
  CpuBackend cpu(1);
  auto m = cpu.backend.matrix(2, {1, 0, 0, 1});
  auto commandBuffer = cpu.device.newCommandQueue()->commandBuffer();
  auto kernel = cpu.device.newMatrixMultiplication(2, 2, 2);
  for (int i = 0; i < 10000; ++i) {
    kernel->encodeToCommandBuffer(*commandBuffer, *m, *m, *m);
  }
  EXPECT_EQ(dynamic_cast<CpuCommandBuffer&>(*commandBuffer).runCount(), 1u);
}

TEST(CpuBackend, MisuseEndsAsACommandBufferErrorAndImpossibleObjectsAreRefused) {
  CpuBackend cpu(2);
  auto m = cpu.backend.matrix(4, Elements(16, 1.0f));
  testing::FakeDevice fake;
  auto foreign = fake.newMatrix(fake.newBuffer(64, ResourceOptions::storageModePrivate),
                                {4, 4, 16, DataType::float32});
  const auto run = [&](std::int64_t rows, Matrix& right, bool encodeAfterCommit) {
    auto commandBuffer = cpu.device.newCommandQueue()->commandBuffer();
    auto kernel = cpu.device.newMatrixMultiplication(rows, 4, 4);
    if (!encodeAfterCommit) {
      kernel->encodeToCommandBuffer(*commandBuffer, *m, right, *m);
    }
    commandBuffer->commit();
    if (encodeAfterCommit) {
      kernel->encodeToCommandBuffer(*commandBuffer, *m, right, *m);
    }
    commandBuffer->waitUntilCompleted();
    return commandBuffer->error().has_value();
  };
  EXPECT_TRUE(run(4, *foreign, false)) << "matrix of another device";
  EXPECT_TRUE(run(5, *m, false)) << "kernel larger than the matrix";
  EXPECT_TRUE(run(4, *m, true)) << "encoded after commit";
  EXPECT_FALSE(run(4, *m, false));

  auto buffer = cpu.device.newBuffer(64, ResourceOptions::storageModePrivate);
  EXPECT_EQ(cpu.device.newBuffer(0, ResourceOptions::storageModePrivate), nullptr);
  EXPECT_EQ(cpu.device.newBuffer(UINT64_MAX, ResourceOptions::storageModePrivate), nullptr);
  EXPECT_EQ(cpu.device.newMatrix(buffer, {5, 4, 16, DataType::float32}), nullptr) << "too small";
  EXPECT_EQ(cpu.device.newMatrix(buffer, {4, 4, 12, DataType::float32}), nullptr) << "short rows";
  EXPECT_EQ(cpu.device.newMatrix(buffer, {2, 2, 10, DataType::float32}), nullptr) << "odd stride";
  EXPECT_EQ(cpu.device.newMatrix(nullptr, {1, 1, 4, DataType::float32}), nullptr);
  EXPECT_EQ(cpu.device.newMatrixMultiplication(0, 4, 4), nullptr);
  EXPECT_EQ(cpu.device.newMatrixMultiplication(4, std::int64_t{1} << 31, 4), nullptr);
}

TEST(CpuBackend, NamesItselfAfterTheProcessorAndSizesByThreads) {
  const std::pair<const char*, const char*> cases[] = {
      {"processor\t: 0\nmodel\t\t: 1\nmodel name\t: Example 9000  \n\nmodel name\t: Second\n",
       "Example 9000"},
      {"vendor_id : x\nmodel : 5\nmodel name:Tight\n", "Tight"},
      {"processor : 0\nBogoMIPS : 50\n", ""}, // no model name (some ARM kernels)
  };
  for (const auto& [text, expected] : cases) {
    std::istringstream in(text);
    EXPECT_EQ(modelNameFromCpuInfo(in), expected) << text;
  }
  const auto file = std::filesystem::path(::testing::TempDir()) / "ventaro-cpuinfo-test";
  std::ofstream(file) << cases[0].first;
  const CpuDevice device(CpuDeviceOptions{file.string(), 3});
  std::filesystem::remove(file);
  EXPECT_EQ(device.name(), "Example 9000");
  EXPECT_EQ(device.recommendedMaxWorkingSetSize(), 3 * (std::uint64_t{64} << 20));
  EXPECT_EQ(CpuDevice(CpuDeviceOptions{"/nonexistent", 1}).name(), "CPU");
  EXPECT_EQ(CpuDevice().threads(), availableProcessorCount()) << "all processors by default";
}

} // namespace
} // namespace ventaro::gpu::cpu
