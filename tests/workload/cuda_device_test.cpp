#include "tests/workload/square_checks.h"
#include "workload/cuda/cuda_device.h"
#include "workload/matrix_load.h"

#include <cuda_runtime_api.h>

namespace ventaro::gpu::cuda {
namespace {

using testing::Elements;

class CudaBackend : public ::testing::Test {
protected:
  void SetUp() override {
    if (cudaDevices().empty()) {
      GTEST_SKIP() << "no CUDA driver or device on this machine";
    }
    device = cudaDevices().front();
  }

  std::shared_ptr<Device> device;
  testing::Backend backend() const { return {*device, readMatrix, writeMatrix}; }
};

TEST(CudaDevices, ListingIsStableAndEmptyWithoutADriver) {
  const auto first = cudaDevices();
  EXPECT_EQ(cudaDevices(), first) << "the same device objects every time";
  int count = 0;
  EXPECT_EQ(first.size(),
            cudaGetDeviceCount(&count) == cudaSuccess ? static_cast<std::size_t>(count) : 0u);
}

TEST_F(CudaBackend, ReportsNameAndTotalMemory) {
  cudaDeviceProp properties{};
  ASSERT_EQ(cudaGetDeviceProperties(&properties, 0), cudaSuccess);
  EXPECT_EQ(device->name(), properties.name);
  EXPECT_EQ(device->recommendedMaxWorkingSetSize(), properties.totalGlobalMem);
}

TEST_F(CudaBackend, RepeatedSquaresMatchDoublePrecision) {
  for (const std::int64_t n : {1, 3, 64, 200}) {
    for (const int k : {1, 2, 3, 5}) {
      backend().expectSquaresMatchDoublePrecision(n, k);
    }
  }
}

// 130 and 257 go through the largest prebuilt graph more than once, 257 with an odd last one.
TEST_F(CudaBackend, LongRunsAndPartialProductsStayExact) {
  for (const std::int64_t count : {1, 2, 3, 8, 9, 130, 257}) {
    backend().expectPermutationSquaresStayExact(count);
  }
  backend().expectPartialProductKeepsTheRest();
  EXPECT_GE(runMatrixLoad(*device, 1024, 9), 1);
}

// 1 + 2^-12 is not representable with TF32's 10-bit mantissa: a reduced-precision path would
// give exactly 64 for each element of the square of this 64 × 64 matrix.
TEST_F(CudaBackend, ComputesInFullSinglePrecision) {
  const float value = 1.0f + 0x1p-12f;
  const auto m = backend().matrix(64, Elements(64 * 64, value));
  ASSERT_TRUE(m);
  ASSERT_FALSE(backend().square(*m, 1, 64));
  for (const float element : readMatrix(*m)) {
    ASSERT_NEAR(element, 64.0 * value * value, 1e-4);
  }
}

TEST_F(CudaBackend, MisuseEndsAsACommandBufferError) {
  const auto m = backend().matrix(4, Elements(16, 1.0f));
  ASSERT_TRUE(m);
  EXPECT_TRUE(backend().square(*m, 1, 5)) << "kernel larger than the matrix";
  EXPECT_FALSE(backend().square(*m, 1, 4));
  EXPECT_EQ(device->newBuffer(0, ResourceOptions::storageModePrivate), nullptr);
  EXPECT_EQ(device->newMatrixMultiplication(0, 1, 1), nullptr);
}

} // namespace
} // namespace ventaro::gpu::cuda
