#include "tests/workload/fake_gpu.h"
#include "tests/workload/square_checks.h"
#include "workload/cpu/cpu_command_buffer.h"
#include "workload/cpu/cpu_device.h"
#include "workload/cpu/fma_peak.h"
#include "workload/cpu/processor_info.h"

#include <sstream>

namespace ventaro::gpu::cpu {
namespace {

using testing::Elements;

struct CpuBackend {
  explicit CpuBackend(int threads) : device(CpuDeviceOptions{"/nonexistent", threads}) {}
  CpuDevice device;
  testing::Backend backend{device, readMatrix, writeMatrix};
};

TEST(CpuBackend, AnyCountOfMultiplicationsLeavesStartTimesStartOnAnyThreadCount) {
  for (const int threads : {1, 2, 3}) {
    SCOPED_TRACE(::testing::Message() << threads << " threads");
    CpuBackend cpu(threads);
    for (const std::int64_t n : {1, 7, 64}) {
      for (const std::int64_t k : {1, 2, 5, 130}) {
        cpu.backend.expectDenseSquare(n, k);
      }
    }
  }
  CpuBackend cpu(2);
  cpu.backend.expectPartialProductKeepsTheRest(8 * sizeof(float)); // padded rows
}

TEST(CpuBackend, FlushesDenormalsAndKeepsRunsOfIdenticalMultiplicationsAsOne) {
  CpuBackend cpu(3);
  auto m = cpu.backend.matrix(48);
  ASSERT_TRUE(writeMatrix(*m, Elements(48 * 48, 1e-20f))); // each product is 1e-40
  ASSERT_FALSE(cpu.backend.square(*m, 1, 48));
  EXPECT_EQ(readMatrix(*m), Elements(48 * 48, 0.0f));

  auto commandBuffer = cpu.device.newCommandQueue()->commandBuffer();
  auto kernel = cpu.device.newMatrixMultiplication(48, 48, 48);
  for (int i = 0; i < 10000; ++i) {
    kernel->encodeToCommandBuffer(*commandBuffer, *m, *m, *m);
  }
  EXPECT_EQ(dynamic_cast<CpuCommandBuffer&>(*commandBuffer).runCount(), 1u);
}

TEST(CpuBackend, MisuseEndsAsACommandBufferErrorAndImpossibleObjectsAreRefused) {
  CpuBackend cpu(2);
  auto m = cpu.backend.matrix(4);
  testing::FakeDevice fake;
  auto foreign = fake.newMatrix(fake.newBuffer(64, ResourceOptions::storageModePrivate),
                                {4, 4, 16, DataType::float32});
  auto commandBuffer = cpu.device.newCommandQueue()->commandBuffer();
  cpu.device.newMatrixMultiplication(4, 4, 4)->encodeToCommandBuffer(*commandBuffer, *m, *foreign,
                                                                     *m);
  commandBuffer->commit();
  commandBuffer->waitUntilCompleted();
  EXPECT_TRUE(commandBuffer->error()) << "matrix of another device";
  EXPECT_TRUE(cpu.backend.square(*m, 1, 5)) << "kernel larger than the matrix";
  EXPECT_EQ(cpu.device.newBuffer(UINT64_MAX, ResourceOptions::storageModePrivate), nullptr);
  auto buffer = cpu.device.newBuffer(64, ResourceOptions::storageModePrivate);
  EXPECT_EQ(cpu.device.newMatrix(buffer, {5, 4, 16, DataType::float32}), nullptr) << "too small";
}

// Measured on the device's worker threads on the first call only; nothing to measure on no
// thread.
TEST(CpuBackend, MeasuresItsPeakOnceOnItsWorkerThreads) {
  CpuBackend cpu(1);
  const std::optional<double> peak = cpu.device.peakGflops();
  ASSERT_TRUE(peak);
  EXPECT_GT(*peak, 0.0);
  EXPECT_EQ(cpu.device.peakGflops(), peak);
  EXPECT_EQ(measureFmaPeak(0, 0.01), std::nullopt);
}

TEST(CpuBackend, NamesItselfAfterTheProcessor) {
  std::istringstream cpuInfo("processor\t: 0\nmodel\t\t: 1\nmodel name\t: Example 9000  \n\n"
                             "model name\t: Second\n");
  EXPECT_EQ(modelNameFromCpuInfo(cpuInfo), "Example 9000");
  std::istringstream withoutName("processor : 0\nBogoMIPS : 50\n"); // some ARM kernels
  EXPECT_EQ(modelNameFromCpuInfo(withoutName), "");
  EXPECT_EQ(CpuDevice(CpuDeviceOptions{"/nonexistent", 1}).name(), "CPU") << "no cpuinfo";
}

} // namespace
} // namespace ventaro::gpu::cpu
