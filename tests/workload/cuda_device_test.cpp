#include "tests/workload/square_checks.h"
#include "workload/cuda/cuda_device.h"
#include "workload/matrix_load.h"

namespace ventaro::gpu::cuda {
namespace {

using testing::Elements;

class CudaBackend : public ::testing::Test {
protected:
  void SetUp() override {
    if (usableCudaDevices().empty()) {
      GTEST_SKIP() << "no CUDA driver, device or cuBLAS on this machine (see G_MESSAGES_DEBUG)";
    }
    device = usableCudaDevices().front();
  }

  std::shared_ptr<Device> device;
  testing::Backend backend() const { return {*device, readMatrix, writeMatrix}; }
};

// 130 and 257 replay the largest prebuilt graph more than once.
TEST_F(CudaBackend, AnyCountOfMultiplicationsLeavesStartTimesStart) {
  for (const std::int64_t n : {1, 3, 64, 200}) {
    for (const std::int64_t k : {1, 2, 3, 130, 257}) {
      backend().expectDenseSquare(n, k);
    }
  }
  backend().expectPartialProductKeepsTheRest();
  const LoadOutcome outcome = runMatrixLoad(*device, 1024, 9);
  EXPECT_EQ(outcome.check, ResultCheck::passed) << outcome.failure.value_or("");
  EXPECT_GE(outcome.gflops, 1);
}

// 1 + 2^-12 is not representable with TF32's 10-bit mantissa: a reduced-precision path would
// give exactly 64 for each element of the square of this 64 × 64 matrix.
TEST_F(CudaBackend, ComputesInFullSinglePrecision) {
  const float value = 1.0f + 0x1p-12f;
  const auto m = backend().matrix(64);
  ASSERT_TRUE(m && writeMatrix(*m, Elements(64 * 64, value)));
  ASSERT_FALSE(backend().square(*m, 1, 64));
  for (const float element : readMatrix(*m)) {
    ASSERT_NEAR(element, 64.0 * value * value, 1e-4);
  }
}

TEST_F(CudaBackend, MisuseEndsAsACommandBufferErrorAndDifferencesAreCounted) {
  const auto m = backend().matrix(4);
  const auto other = backend().matrix(4);
  ASSERT_TRUE(m && other && writeMatrix(*m, Elements(16, 1.0f)));
  ASSERT_TRUE(writeMatrix(*other, Elements{1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 3, 1, 1, 1}));
  EXPECT_EQ(device->countDifferences(*m, *other), 2);
  EXPECT_TRUE(backend().square(*m, 1, 5)) << "kernel larger than the matrix";
  EXPECT_EQ(device->newBuffer(0, ResourceOptions::storageModePrivate), nullptr);
}

} // namespace
} // namespace ventaro::gpu::cuda
