#pragma once

// A command buffer of the CUDA backend.
//
// The encoded multiplications are kept as runs of identical ones with a count. While they
// are encoded, each run gets the CUDA graphs its count will need (see launchPlan): graphs of
// 1, 2, 4, ... multiplications, captured from cuBLAS on the queue's stream, instantiated and
// uploaded, and the upload waited for. Commit then launches them back to back on the
// stream: all the work is queued in one go, with no capture, instantiation, upload or module
// loading left for the timed window, and memory stays bounded however large the count.
//
// A multiplication whose result shares storage with an operand is never handed to cuBLAS as
// such: its product goes to the buffer's second block and is copied into the result once its
// run has ended, so that every multiplication of the run computes the same product.

#include "workload/cuda/cuda_objects.h"
#include "workload/launch_plan.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ventaro::gpu::cuda {

class CudaCommandBuffer final : public RecordingCommandBuffer {
public:
  explicit CudaCommandBuffer(std::shared_ptr<QueueResources> queue) : queue_(std::move(queue)) {}
  // Owns its CUDA graphs, which no other buffer may destroy.
  CudaCommandBuffer(const CudaCommandBuffer&) = delete;
  CudaCommandBuffer& operator=(const CudaCommandBuffer&) = delete;
  ~CudaCommandBuffer() override;

  void commit() override;
  void waitUntilCompleted() override;

  /// Appends result = left × right; the kernel has checked the sizes.
  void encode(const GemmSizes& sizes, CudaMatrix& left, CudaMatrix& right, CudaMatrix& result);

  int device() const { return queue_->device(); }

private:
  using Multiplication = EncodedMultiplication<CudaMatrix>;

  class Executable {
  public:
    Executable() = default;
    explicit Executable(cudaGraphExec_t graph) : graph_(graph) {}
    Executable(const Executable&) = delete;
    Executable& operator=(const Executable&) = delete;
    Executable(Executable&& other) noexcept : graph_(std::exchange(other.graph_, nullptr)) {}
    Executable& operator=(Executable&& other) noexcept;
    ~Executable();
    cudaGraphExec_t get() const { return graph_; }
    explicit operator bool() const { return graph_ != nullptr; }

  private:
    cudaGraphExec_t graph_ = nullptr;
  };

  struct Run {
    Multiplication multiplication;
    std::int64_t count = 0;
    std::array<Executable, maxGraphLevel + 1> graphs; // graphs[k]: 2^k multiplications
  };

  std::optional<std::string> prepareGraphs(Run& run);
  std::optional<std::string> capture(const Multiplication& m, int level, Executable& out);
  std::optional<std::string> issue(const Multiplication& m);
  std::optional<std::string> moveIn(const Multiplication& m);

  std::shared_ptr<QueueResources> queue_;
  std::vector<Run> runs_;
  bool waited_ = false;
};

} // namespace ventaro::gpu::cuda
