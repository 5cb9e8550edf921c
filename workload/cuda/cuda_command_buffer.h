#pragma once

// A command buffer of the CUDA backend.
//
// The encoded multiplications are kept as runs of identical ones with a count. While they
// are encoded, each run gets CUDA graphs of 1, 2, 4, ... 64 units of its work (a unit is one
// multiplication, or two for a matrix multiplied by itself in place), captured from cuBLAS
// on the queue's stream, instantiated and uploaded as soon as the count first needs them.
// Commit then launches, back to back on the stream, the 64-unit graph as often as it fits
// and one graph per remaining binary digit: all the work is queued in one go, with no
// capture, instantiation or module loading left for the timed window, and memory stays
// bounded however large the count (a single graph of the whole count would grow with it).
//
// A multiplication whose result shares storage with an operand is never handed to cuBLAS
// as such. A matrix multiplied by itself in place alternates between its storage and the
// buffer's second block (two multiplications leave the product back in place; an odd last
// one is copied back); any other overlap is computed into the second block and copied back.

#include "workload/cuda/cuda_objects.h"

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

  /// Appends result = left × right; the kernel has checked the sizes and the device.
  void encode(const GemmSizes& sizes, CudaMatrix& left, CudaMatrix& right, CudaMatrix& result);

  int device() const { return queue_->device(); }

  /// The largest graph holds 2^maxGraphLevel units.
  static constexpr int maxGraphLevel = 6;

private:
  enum class Form { direct, inPlace, viaSecond };

  struct Multiplication {
    GemmSizes sizes;
    CudaMatrix* left = nullptr;
    CudaMatrix* right = nullptr;
    CudaMatrix* result = nullptr;
    Form form = Form::direct;
    bool operator==(const Multiplication&) const = default;
  };

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
    std::array<Executable, maxGraphLevel + 1> units; // units[k]: 2^k units of work
    Executable odd;                                  // an in-place run's odd last multiplication
  };

  static int multiplicationsPerUnit(Form form) { return form == Form::inPlace ? 2 : 1; }
  std::optional<std::string> prepareGraphs(Run& run);
  std::optional<std::string> capture(const Multiplication& m, std::int64_t units, bool odd,
                                     Executable& out);
  std::optional<std::string> issueUnit(const Multiplication& m);
  std::optional<std::string> issueOdd(const Multiplication& m);
  std::optional<std::string> issueGemm(const GemmSizes& sizes, const std::byte* left, int lda,
                                       const std::byte* right, int ldb, std::byte* result, int ldc);
  std::optional<std::string> launch(const Executable& graph);

  std::shared_ptr<QueueResources> queue_;
  std::vector<Run> runs_;
  bool waited_ = false;
};

} // namespace ventaro::gpu::cuda
