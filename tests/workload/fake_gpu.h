#pragma once

// A recording stand-in for the GPU layer: it makes objects that only count and record what
// is done with them, reports a chosen name, working set and command-buffer error, and can be
// told to refuse any object. Memory stays constant whatever the number of encodes.

#include "workload/gpu_device.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ventaro::testing {

class FakeDevice : public gpu::Device {
public:
  // Reported values.
  std::string deviceName = "Fake GPU";
  std::uint64_t workingSet = 17179869184; // recommendedMaxWorkingSetSize
  std::uint64_t rowBytes = 0;             // 0: 4 bytes per column

  // What every command buffer ends with after waitUntilCompleted.
  std::optional<gpu::CommandError> commandError;

  // Refusals: the corresponding factory answers null.
  bool failQueue = false;
  bool failCommandBuffer = false;
  bool failBuffer = false;
  bool failMatrix = false;
  bool failKernel = false;

  // Called inside commit and waitUntilCompleted (e.g. to advance a virtual clock).
  std::function<void()> onCommit;
  std::function<void()> onWait;

  struct Counts {
    int queues = 0;
    int commandBuffers = 0;
    int buffers = 0;
    int matrices = 0;
    int kernels = 0;
    std::int64_t encodes = 0;
    int commits = 0;
    int waits = 0;
  } counts;

  // Operation names in call order: "newCommandQueue", "commandBuffer", "newBuffer",
  // "newMatrix", "newMatrixMultiplication", "encode", "commit", "waitUntilCompleted",
  // "error". A run of consecutive encodes is recorded as one "encode" (counts.encodes has
  // the number), so that the record does not grow with the number of encodes.
  std::vector<std::string> calls;

  // Arguments of the last calls.
  std::uint64_t lastBufferLength = 0;
  std::optional<gpu::ResourceOptions> lastBufferOptions;
  std::optional<gpu::MatrixDescriptor> lastDescriptor;
  struct KernelSizes {
    std::int64_t resultRows = 0, resultColumns = 0, interiorColumns = 0;
  };
  std::optional<KernelSizes> lastKernelSizes;
  mutable std::int64_t lastRowBytesColumns = 0;

  // Encodes whose left, right and result were not one and the same matrix, and encodes
  // into a command buffer after its commit.
  std::int64_t distinctOperandEncodes = 0;
  std::int64_t encodesAfterCommit = 0;

  // Fake objects (queues, command buffers, buffers, matrices, kernels) alive right now.
  int liveObjects = 0;

  std::string name() const override { return deviceName; }
  std::uint64_t recommendedMaxWorkingSetSize() const override { return workingSet; }
  std::uint64_t rowBytesFromColumns(std::int64_t columns, gpu::DataType dataType) const override;
  std::unique_ptr<gpu::CommandQueue> newCommandQueue() override;
  std::shared_ptr<gpu::Buffer> newBuffer(std::uint64_t length,
                                         gpu::ResourceOptions options) override;
  std::unique_ptr<gpu::Matrix> newMatrix(std::shared_ptr<gpu::Buffer> buffer,
                                         const gpu::MatrixDescriptor& descriptor) override;
  std::unique_ptr<gpu::MatrixMultiplication>
  newMatrixMultiplication(std::int64_t resultRows, std::int64_t resultColumns,
                          std::int64_t interiorColumns) override;

  // Used by the fake objects.
  void record(const char* call);
};

class FakeGpuPlatform : public gpu::GpuPlatform {
public:
  std::vector<std::shared_ptr<gpu::Device>> gpus; // what copyAllDevices returns
  std::shared_ptr<FakeDevice> defaultDevice = std::make_shared<FakeDevice>(); // may be null
  int allDevicesRequests = 0;
  int defaultDeviceRequests = 0;

  std::vector<std::shared_ptr<gpu::Device>> copyAllDevices() override;
  std::shared_ptr<gpu::Device> createSystemDefaultDevice() override;
};

} // namespace ventaro::testing
