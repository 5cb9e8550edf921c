#pragma once

// A command buffer of the CPU backend: the encoded multiplications, kept as runs of
// identical ones with a count so that memory does not grow with their number, executed on
// worker threads that each compute a band of result rows. A product whose result aliases an
// operand is written to the buffer's second block and moved in when its run ends.

#include "workload/cpu/cpu_objects.h"

#include <barrier>
#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ventaro::gpu::cpu {

struct CblasLibrary;

class CpuCommandBuffer final : public RecordingCommandBuffer {
public:
  explicit CpuCommandBuffer(int threads) : threads_(threads) {}
  // The workers and the barrier point back at this buffer: it stays where it was made.
  CpuCommandBuffer(const CpuCommandBuffer&) = delete;
  CpuCommandBuffer& operator=(const CpuCommandBuffer&) = delete;
  ~CpuCommandBuffer() override;

  /// Appends result = left × right; the kernel has checked the sizes.
  void encode(const GemmSizes& sizes, CpuMatrix& left, CpuMatrix& right, CpuMatrix& result);
  /// Starts the workers, after checking that the library's working memory can be had.
  void commit() override;
  void waitUntilCompleted() override;

  /// Runs of identical multiplications encoded so far.
  std::size_t runCount() const { return runs_.size(); }

private:
  using Multiplication = EncodedMultiplication<CpuMatrix>;

  struct Run {
    Multiplication multiplication;
    std::int64_t count = 0;
  };

  // Called by the barrier once all workers have finished a multiplication.
  struct StepDone {
    CpuCommandBuffer* owner;
    void operator()() const noexcept { owner->finishStep(); }
  };

  void work(int index, std::shared_future<bool> start);
  void finishStep() noexcept;

  int threads_;
  std::vector<Run> runs_;
  const CblasLibrary* cblas_ = nullptr; // opened at commit

  std::vector<std::thread> workers_;
  std::optional<std::barrier<StepDone>> barrier_;
  std::size_t currentRun_ = 0;
  std::int64_t doneInRun_ = 0;
};

} // namespace ventaro::gpu::cpu
