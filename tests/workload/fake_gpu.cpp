#include "tests/workload/fake_gpu.h"

#include <string_view>
#include <utility>

namespace ventaro::testing {
namespace {

// Keeps the device's count of live fake objects.
class Tracked {
public:
  explicit Tracked(FakeDevice& device) : device_(device) { ++device_.liveObjects; }
  Tracked(const Tracked&) = delete;
  Tracked& operator=(const Tracked&) = delete;
  ~Tracked() { --device_.liveObjects; }

protected:
  FakeDevice& device_;
};

class FakeBuffer final : public gpu::Buffer, Tracked {
public:
  FakeBuffer(FakeDevice& device, std::uint64_t length) : Tracked(device), length_(length) {}
  std::uint64_t length() const override { return length_; }

private:
  std::uint64_t length_;
};

class FakeMatrix final : public gpu::Matrix, Tracked {
public:
  FakeMatrix(FakeDevice& device, std::shared_ptr<gpu::Buffer> buffer,
             const gpu::MatrixDescriptor& descriptor)
      : Tracked(device), buffer_(std::move(buffer)), descriptor_(descriptor) {}
  const gpu::MatrixDescriptor& descriptor() const override { return descriptor_; }

private:
  std::shared_ptr<gpu::Buffer> buffer_;
  gpu::MatrixDescriptor descriptor_;
};

class FakeCommandBuffer final : public gpu::CommandBuffer, Tracked {
public:
  explicit FakeCommandBuffer(FakeDevice& device) : Tracked(device) {}

  void commit() override {
    device_.record("commit");
    ++device_.counts.commits;
    committed_ = true;
    if (device_.onCommit) {
      device_.onCommit();
    }
  }
  void waitUntilCompleted() override {
    device_.record("waitUntilCompleted");
    ++device_.counts.waits;
    if (device_.onWait) {
      device_.onWait();
    }
    completed_ = true;
  }
  std::optional<gpu::CommandError> error() const override {
    device_.record("error");
    return completed_ ? device_.commandError : std::nullopt;
  }

  void noteEncode() {
    device_.record("encode");
    ++device_.counts.encodes;
    if (committed_) {
      ++device_.encodesAfterCommit;
    }
  }

private:
  bool committed_ = false;
  bool completed_ = false;
};

class FakeCommandQueue final : public gpu::CommandQueue, Tracked {
public:
  explicit FakeCommandQueue(FakeDevice& device) : Tracked(device) {}
  std::unique_ptr<gpu::CommandBuffer> commandBuffer() override {
    device_.record("commandBuffer");
    if (device_.failCommandBuffer) {
      return nullptr;
    }
    ++device_.counts.commandBuffers;
    return std::make_unique<FakeCommandBuffer>(device_);
  }
};

class FakeMatrixMultiplication final : public gpu::MatrixMultiplication, Tracked {
public:
  explicit FakeMatrixMultiplication(FakeDevice& device) : Tracked(device) {}
  void encodeToCommandBuffer(gpu::CommandBuffer& commandBuffer, gpu::Matrix& left,
                             gpu::Matrix& right, gpu::Matrix& result) override {
    if (&left != &right || &right != &result) {
      ++device_.distinctOperandEncodes;
    }
    // Every command buffer a fake device hands out is a FakeCommandBuffer.
    static_cast<FakeCommandBuffer&>(commandBuffer).noteEncode();
  }
};

} // namespace

void FakeDevice::record(const char* call) {
  if (std::string_view(call) == "encode" && !calls.empty() && calls.back() == "encode") {
    return;
  }
  calls.emplace_back(call);
}

std::uint64_t FakeDevice::rowBytesFromColumns(std::int64_t columns, gpu::DataType) const {
  lastRowBytesColumns = columns;
  return rowBytes != 0 ? rowBytes : 4 * static_cast<std::uint64_t>(columns);
}

std::unique_ptr<gpu::CommandQueue> FakeDevice::newCommandQueue() {
  record("newCommandQueue");
  if (failQueue) {
    return nullptr;
  }
  ++counts.queues;
  return std::make_unique<FakeCommandQueue>(*this);
}

std::shared_ptr<gpu::Buffer> FakeDevice::newBuffer(std::uint64_t length,
                                                   gpu::ResourceOptions options) {
  record("newBuffer");
  lastBufferLength = length;
  lastBufferOptions = options;
  if (failBuffer) {
    return nullptr;
  }
  ++counts.buffers;
  return std::make_shared<FakeBuffer>(*this, length);
}

std::unique_ptr<gpu::Matrix> FakeDevice::newMatrix(std::shared_ptr<gpu::Buffer> buffer,
                                                   const gpu::MatrixDescriptor& descriptor) {
  record("newMatrix");
  lastDescriptor = descriptor;
  if (failMatrix || !buffer) {
    return nullptr;
  }
  ++counts.matrices;
  return std::make_unique<FakeMatrix>(*this, std::move(buffer), descriptor);
}

std::unique_ptr<gpu::MatrixMultiplication>
FakeDevice::newMatrixMultiplication(std::int64_t resultRows, std::int64_t resultColumns,
                                    std::int64_t interiorColumns) {
  record("newMatrixMultiplication");
  lastKernelSizes = KernelSizes{resultRows, resultColumns, interiorColumns};
  if (failKernel) {
    return nullptr;
  }
  ++counts.kernels;
  return std::make_unique<FakeMatrixMultiplication>(*this);
}

std::vector<std::shared_ptr<gpu::Device>> FakeGpuPlatform::copyAllDevices() {
  ++allDevicesRequests;
  return gpus;
}

std::shared_ptr<gpu::Device> FakeGpuPlatform::createSystemDefaultDevice() {
  ++defaultDeviceRequests;
  return defaultDevice;
}

} // namespace ventaro::testing
