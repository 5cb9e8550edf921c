#include "workload/cpu/cpu_command_buffer.h"

#include "workload/cpu/cblas_library.h"
#include "workload/cpu/float_mode.h"
#include "workload/cpu/memory_headroom.h"

#include <cstring>
#include <system_error>

namespace ventaro::gpu::cpu {
namespace {

// The result rows a worker computes: an even share, in order.
struct Band {
  int first;
  int count;
};

Band bandOf(int rows, int index, int workers) {
  const auto begin = static_cast<std::int64_t>(rows) * index / workers;
  const auto end = static_cast<std::int64_t>(rows) * (index + 1) / workers;
  return {static_cast<int>(begin), static_cast<int>(end - begin)};
}

} // namespace

CpuCommandBuffer::~CpuCommandBuffer() {
  waitUntilCompleted();
}

void CpuCommandBuffer::encode(const GemmSizes& sizes, CpuMatrix& left, CpuMatrix& right,
                              CpuMatrix& result) {
  if (!openForEncoding()) {
    return;
  }
  const auto multiplication = Multiplication::make(*this, sizes, left, right, result);
  if (!multiplication) {
    return;
  }
  if (!runs_.empty() && runs_.back().multiplication == *multiplication) {
    ++runs_.back().count;
  } else {
    runs_.push_back(Run{*multiplication, 1});
  }
}

void CpuCommandBuffer::commit() {
  if (!markCommitted() || hasError() || runs_.empty()) {
    return;
  }
  if (const std::optional<std::string> shortfall = addressSpaceShortfall(threads_)) {
    fail(*shortfall);
    return;
  }
  std::string why;
  cblas_ = cblasLibrary(&why);
  if (cblas_ == nullptr) {
    fail(why);
    return;
  }
  // The workers split the rows among themselves; the library must not spread each of their
  // calls over its own threads as well.
  cblas_->setThreadCount(1);
  barrier_.emplace(threads_, StepDone{this});
  std::promise<bool> go;
  std::shared_future<bool> start = go.get_future().share();
  try {
    workers_.reserve(static_cast<std::size_t>(threads_));
    for (int index = 0; index < threads_; ++index) {
      workers_.emplace_back(&CpuCommandBuffer::work, this, index, start);
    }
  } catch (const std::system_error& failure) {
    go.set_value(false);
    waitUntilCompleted();
    fail(std::string("cannot start the worker threads: ") + failure.what());
    return;
  }
  go.set_value(true);
}

void CpuCommandBuffer::waitUntilCompleted() {
  for (std::thread& worker : workers_) {
    worker.join();
  }
  workers_.clear();
}

// Each worker waits on its own copy of `start`, the safe way for several threads to wait on one
// shared future.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void CpuCommandBuffer::work(int index, std::shared_future<bool> start) {
  if (!start.get()) {
    return;
  }
  enableFlushToZero();
  for (const Run& run : runs_) {
    const Multiplication& m = run.multiplication;
    const Band band = bandOf(m.sizes.rows, index, threads_);
    const int lda = m.left->leadingDimension();
    const int ldb = m.right->leadingDimension();
    const int ldc = m.result->leadingDimension();
    for (std::int64_t step = 0; step < run.count; ++step) {
      if (band.count > 0) {
        float* out = m.placement == Placement::direct
                         ? m.result->elements()
                         : reinterpret_cast<float*>(m.result->buffer().second());
        const std::size_t skipA = static_cast<std::size_t>(band.first) * lda;
        const std::size_t skipC = static_cast<std::size_t>(band.first) * ldc;
        cblas_->sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, band.count, m.sizes.columns,
                      m.sizes.interior, 1.0f, m.left->elements() + skipA, lda, m.right->elements(),
                      ldb, 0.0f, out + skipC, ldc);
      }
      barrier_->arrive_and_wait();
    }
  }
}

void CpuCommandBuffer::finishStep() noexcept {
  const Multiplication& m = runs_[currentRun_].multiplication;
  const bool runEnds = doneInRun_ + 1 == runs_[currentRun_].count;
  if (runEnds && m.placement == Placement::swapIn) {
    m.result->buffer().swapWithSecond();
  } else if (runEnds && m.placement == Placement::copyIn) {
    CpuBuffer& buffer = m.result->buffer();
    const std::size_t rowBytes = m.result->descriptor().rowBytes;
    const std::size_t usedBytes = sizeof(float) * static_cast<std::size_t>(m.sizes.columns);
    for (int row = 0; row < m.sizes.rows; ++row) {
      std::memcpy(buffer.data() + row * rowBytes, buffer.second() + row * rowBytes, usedBytes);
    }
  }
  if (++doneInRun_ == runs_[currentRun_].count) {
    ++currentRun_;
    doneInRun_ = 0;
  }
}

} // namespace ventaro::gpu::cpu
