#include "tests/workload/square_checks.h"
#include "workload/cuda/cuda_device.h"
#include "workload/cuda/fp32_peak.h"
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

// The lanes by compute capability, and the arithmetic, with the figures of a known device.
TEST(CudaPeak, MultiprocessorsTimesLanesTimesTwoTimesClock) {
  const std::tuple<int, int, std::optional<int>> lanes[] = {
      {5, 2, std::nullopt},
      {6, 0, 64},
      {6, 1, 128},
      {7, 0, 64},
      {7, 5, 64},
      {8, 0, 64},
      {8, 6, 128},
      {8, 9, 128},
      {9, 0, 128},
      {10, 0, 128},
      {12, 0, 128},
      {13, 0, std::nullopt},
      {8, -1, std::nullopt},
  };
  for (const auto& [major, minor, expected] : lanes) {
    EXPECT_EQ(fp32LanesPerMultiprocessor(major, minor), expected) << major << "." << minor;
  }
  const SmFigures hopper{132, 9, 0, 1'980'000};
  EXPECT_DOUBLE_EQ(*fp32PeakGflops(hopper), 66908.16); // 132 × 128 × 2 × 1.98 GHz
  EXPECT_EQ(describe(hopper), "132 SMs, compute capability 9.0, 128 FP32 lanes per SM, 1980 MHz");
  EXPECT_EQ(fp32PeakGflops({0, 9, 0, 1'980'000}), std::nullopt);
  EXPECT_EQ(fp32PeakGflops({132, 9, 0, 0}), std::nullopt);
  EXPECT_EQ(fp32PeakGflops({132, 13, 0, 1'980'000}), std::nullopt);
}

TEST_F(CudaBackend, KnowsItsPeakFromTheDevicesFigures) {
  const std::optional<SmFigures> figures = smFigures(0);
  ASSERT_TRUE(figures);
  EXPECT_EQ(device->peakGflops(), fp32PeakGflops(*figures)) << describe(*figures);
  EXPECT_GT(device->peakGflops().value_or(0), 0.0) << describe(*figures);
}

} // namespace
} // namespace ventaro::gpu::cuda
