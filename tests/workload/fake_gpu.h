#pragma once

// A recording stand-in for the GPU layer: its objects only record what is done with them.
// It reports a chosen working set, stride, command-buffer error and result check, and
// can refuse to make any one kind of object. Memory stays constant whatever the encodes.

#include "workload/accuracy_check.h"
#include "workload/gpu_device.h"
#include "workload/uniform_values.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ventaro::testing {

class FakeDevice : public gpu::Device {
public:
  std::uint64_t workingSet = 17179869184;        // recommendedMaxWorkingSetSize
  std::uint64_t rowBytes = 0;                    // 0: 4 bytes per column
  std::optional<gpu::CommandError> commandError; // every command buffer's, once completed
  std::string refuse; // the call ("newBuffer", "fillUniform", ...) that answers null / false
  std::int64_t differences = 0; // what countDifferences answers (a planted fault when not 0)
  // readElements answers the exact values of start × start (the load's product) rounded to
  // FP32, each plus this (a planted fault when not 0).
  float productError = 0.0f;
  std::string backendName = "fake";
  std::optional<gpu::PciIdentity> pci;
  std::optional<double> peak; // peakGflops
  bool processor = false;
  // Run inside commit of a command buffer holding the load's own multiplications (one matrix
  // as every operand), not of the one for the first product.
  std::function<void()> onCommit;
  // A virtual clock that commits move: each multiplication takes 2·n³ / (gflopsRate · 10⁹)
  // seconds (time stands still at 0).
  double gflopsRate = 0.0;
  double clock = 0.0;
  // What countDifferences answers in turn before it answers `differences`.
  std::vector<std::int64_t> differenceSeries;

  // Calls with their arguments, in order, e.g. "newBuffer 65536 private"; a run of encodes is
  // one "encode", so that the record does not grow with their number.
  std::vector<std::string> calls;
  std::int64_t encodes = 0;      // of the one matrix by itself
  std::int64_t otherEncodes = 0; // left, right and result not all one matrix

  void record(const std::string& call) {
    if (call != "encode" || calls.empty() || calls.back() != "encode") {
      calls.push_back(call);
    }
  }

  std::string name() const override { return "Fake GPU"; }
  std::string backend() const override { return backendName; }
  bool isProcessor() const override { return processor; }
  std::optional<gpu::PciIdentity> pciIdentity() const override { return pci; }
  std::optional<double> peakGflops() const override { return peak; }
  std::uint64_t recommendedMaxWorkingSetSize() const override { return workingSet; }
  std::uint64_t rowBytesFromColumns(std::int64_t columns, gpu::DataType) const override {
    return rowBytes != 0 ? rowBytes : 4 * static_cast<std::uint64_t>(columns);
  }
  std::unique_ptr<gpu::CommandQueue> newCommandQueue() override {
    return make<Queue>("newCommandQueue");
  }
  std::shared_ptr<gpu::Buffer> newBuffer(std::uint64_t length, gpu::ResourceOptions o) override {
    const bool isPrivate = o == gpu::ResourceOptions::storageModePrivate;
    return make<Buffer>("newBuffer " + std::to_string(length) + (isPrivate ? " private" : ""),
                        length);
  }
  bool fillUniform(gpu::Matrix&, std::uint64_t) override {
    return make<Part>("fillUniform") != nullptr;
  }
  std::optional<std::int64_t> countDifferences(const gpu::Matrix&, const gpu::Matrix&) override {
    if (!make<Part>("countDifferences")) {
      return std::nullopt;
    }
    if (!differenceSeries.empty()) {
      const std::int64_t next = differenceSeries.front();
      differenceSeries.erase(differenceSeries.begin());
      return next;
    }
    return differences;
  }
  std::optional<std::vector<float>>
  readElements(const gpu::Matrix& matrix, std::span<const gpu::ElementPosition> at) override {
    if (!make<Part>("readElements " + std::to_string(at.size()))) {
      return std::nullopt;
    }
    std::vector<float> values;
    for (const auto& [row, column] : at) {
      const ExactElement exact =
          exactSquareElement(gpu::loadSeed, matrix.descriptor().rows, row, column);
      values.push_back(static_cast<float>(exact.value) + productError);
    }
    return values;
  }
  std::string lastFailure() const override { return refuse.empty() ? "" : "refused"; }
  std::unique_ptr<gpu::Matrix> newMatrix(std::shared_ptr<gpu::Buffer> buffer,
                                         const gpu::MatrixDescriptor& d) override {
    return buffer ? make<Matrix>("newMatrix " + std::to_string(d.rows) + "x" +
                                     std::to_string(d.columns) + " " + std::to_string(d.rowBytes),
                                 d)
                  : nullptr;
  }
  std::unique_ptr<gpu::MatrixMultiplication>
  newMatrixMultiplication(std::int64_t rows, std::int64_t columns, std::int64_t interior) override {
    return make<Kernel>("newMatrixMultiplication " + std::to_string(rows) + " " +
                            std::to_string(columns) + " " + std::to_string(interior),
                        rows);
  }

private:
  struct Part {
    explicit Part(FakeDevice& d) : device(d) {}
    FakeDevice& device;
  };
  struct Buffer final : gpu::Buffer, Part {
    Buffer(FakeDevice& d, std::uint64_t length) : Part(d), bytes(length) {}
    std::uint64_t length() const override { return bytes; }
    std::uint64_t bytes;
  };
  struct Matrix final : gpu::Matrix, Part {
    Matrix(FakeDevice& d, const gpu::MatrixDescriptor& m) : Part(d), layout(m) {}
    const gpu::MatrixDescriptor& descriptor() const override { return layout; }
    gpu::MatrixDescriptor layout;
  };
  struct CommandBuffer final : gpu::CommandBuffer, Part {
    using Part::Part;
    void commit() override {
      device.record("commit");
      if (device.gflopsRate > 0.0) {
        device.clock += work / (device.gflopsRate * 1e9);
      }
      if (ofTheLoad && device.onCommit) {
        device.onCommit();
      }
    }
    void waitUntilCompleted() override {
      device.record("waitUntilCompleted");
      completed = true;
    }
    std::optional<gpu::CommandError> error() const override {
      device.record("error");
      return completed ? device.commandError : std::nullopt;
    }
    bool ofTheLoad = false, completed = false;
    double work = 0.0; // operations encoded
  };
  struct Queue final : gpu::CommandQueue, Part {
    using Part::Part;
    std::unique_ptr<gpu::CommandBuffer> commandBuffer() override {
      return device.make<CommandBuffer>("commandBuffer");
    }
  };
  struct Kernel final : gpu::MatrixMultiplication, Part {
    Kernel(FakeDevice& d, std::int64_t n) : Part(d), order(static_cast<double>(n)) {}
    double order;
    void encodeToCommandBuffer(gpu::CommandBuffer& commandBuffer, gpu::Matrix& left,
                               gpu::Matrix& right, gpu::Matrix& result) override {
      device.record("encode");
      const bool ofTheLoad = &left == &right && &right == &result;
      ++(ofTheLoad ? device.encodes : device.otherEncodes);
      // Every command buffer a fake device hands out is one of its own.
      auto& own = static_cast<CommandBuffer&>(commandBuffer);
      own.ofTheLoad |= ofTheLoad;
      own.work += 2.0 * order * order * order;
    }
  };

  // Records the call, then makes the object unless this kind is refused.
  template <typename Object, typename... Arguments>
  std::unique_ptr<Object> make(const std::string& call, Arguments&&... arguments) {
    record(call);
    if (call.starts_with(refuse) && !refuse.empty()) {
      return nullptr;
    }
    return std::make_unique<Object>(*this, std::forward<Arguments>(arguments)...);
  }
};

class FakeGpuPlatform : public gpu::GpuPlatform {
public:
  std::vector<std::shared_ptr<gpu::Device>> gpus; // what copyAllDevices returns
  std::shared_ptr<FakeDevice> defaultDevice = std::make_shared<FakeDevice>(); // may be null

  std::vector<std::shared_ptr<gpu::Device>> copyAllDevices() override { return gpus; }
  std::shared_ptr<gpu::Device> createSystemDefaultDevice() override { return defaultDevice; }
};

} // namespace ventaro::testing
