#include "workload/cuda/cuda_command_buffer.h"

#include "workload/cuda/cuda_status.h"

#include <algorithm>

namespace ventaro::gpu::cuda {

CudaCommandBuffer::Executable&
CudaCommandBuffer::Executable::operator=(Executable&& other) noexcept {
  if (this != &other) {
    if (graph_ != nullptr) {
      cudaGraphExecDestroy(graph_);
    }
    graph_ = std::exchange(other.graph_, nullptr);
  }
  return *this;
}

CudaCommandBuffer::Executable::~Executable() {
  if (graph_ != nullptr) {
    cudaGraphExecDestroy(graph_);
  }
}

CudaCommandBuffer::~CudaCommandBuffer() {
  // The graphs must not be destroyed while the stream may still run them.
  waitUntilCompleted();
}

void CudaCommandBuffer::encode(const GemmSizes& sizes, CudaMatrix& left, CudaMatrix& right,
                               CudaMatrix& result) {
  if (!openForEncoding() || hasError()) {
    return; // Nothing more is prepared for a buffer that has already failed.
  }
  const int ordinal = device();
  if (left.buffer().device() != ordinal || right.buffer().device() != ordinal ||
      result.buffer().device() != ordinal) {
    fail("matrix on another CUDA device encoded");
    return;
  }
  const auto multiplication = Multiplication::make(*this, sizes, left, right, result);
  if (!multiplication) {
    return;
  }
  if (runs_.empty() || !(runs_.back().multiplication == *multiplication)) {
    runs_.emplace_back();
    runs_.back().multiplication = *multiplication;
  }
  Run& run = runs_.back();
  ++run.count;
  if (auto failed = prepareGraphs(run)) {
    fail(*failed);
  }
}

std::optional<std::string> CudaCommandBuffer::prepareGraphs(Run& run) {
  if (std::all_of(run.graphs.begin(), run.graphs.end(),
                  [](const Executable& graph) { return static_cast<bool>(graph); })) {
    return std::nullopt; // Every count is covered from here on.
  }
  for (const GraphLaunch& launch : launchPlan(run.count)) {
    if (!run.graphs[launch.level]) {
      if (auto failed = capture(run.multiplication, launch.level, run.graphs[launch.level])) {
        return failed;
      }
    }
  }
  return std::nullopt;
}

std::optional<std::string> CudaCommandBuffer::capture(const Multiplication& m, int level,
                                                      Executable& out) {
  auto* const stream = queue_->stream();
  if (auto failed = failure(cudaSetDevice(device()), "cudaSetDevice")) {
    return failed;
  }
  if (auto failed = failure(cudaStreamBeginCapture(stream, cudaStreamCaptureModeThreadLocal),
                            "cudaStreamBeginCapture")) {
    return failed;
  }
  std::optional<std::string> issued;
  for (std::int64_t i = 0; i < (std::int64_t{1} << level) && !issued; ++i) {
    issued = issue(m);
  }
  cudaGraph_t graph = nullptr;
  // The capture is ended even after a failure, so that the stream is usable again.
  std::optional<std::string> failed =
      failure(cudaStreamEndCapture(stream, &graph), "cudaStreamEndCapture");
  if (issued) {
    failed = issued;
  }
  cudaGraphExec_t executable = nullptr;
  if (!failed) {
    failed = failure(cudaGraphInstantiate(&executable, graph, 0), "cudaGraphInstantiate");
  }
  if (graph != nullptr) {
    cudaGraphDestroy(graph);
  }
  if (!failed) {
    out = Executable(executable);
    // Moves the graph to the device now, and waits for it, rather than at its first launch.
    failed = failure(cudaGraphUpload(executable, stream), "cudaGraphUpload");
  }
  if (!failed) {
    failed = failure(cudaStreamSynchronize(stream), "cudaStreamSynchronize");
  }
  return failed;
}

std::optional<std::string> CudaCommandBuffer::issue(const Multiplication& m) {
  CudaBuffer& target = m.result->buffer();
  std::byte* out = m.placement == Placement::direct ? target.data() : target.second();
  // Row-major C = A × B is column-major Cᵀ = Bᵀ × Aᵀ over the same memory: the operands and
  // their leading dimensions are handed over swapped on purpose.
  const float alpha = 1.0f;
  const float beta = 0.0f;
  return failure(
      queue_->blas().gemmEx(queue_->handle(), CUBLAS_OP_N, CUBLAS_OP_N, m.sizes.columns,
                            m.sizes.rows, m.sizes.interior, &alpha, m.right->buffer().data(),
                            CUDA_R_32F, m.right->leadingDimension(), m.left->buffer().data(),
                            CUDA_R_32F, m.left->leadingDimension(), &beta, out, CUDA_R_32F,
                            m.result->leadingDimension(), CUBLAS_COMPUTE_32F, CUBLAS_GEMM_DEFAULT),
      "cublasGemmEx");
}

std::optional<std::string> CudaCommandBuffer::moveIn(const Multiplication& m) {
  CudaBuffer& target = m.result->buffer();
  const std::size_t pitch = m.result->descriptor().rowBytes;
  return failure(cudaMemcpy2DAsync(target.data(), pitch, target.second(), pitch,
                                   sizeof(float) * static_cast<std::size_t>(m.sizes.columns),
                                   static_cast<std::size_t>(m.sizes.rows), cudaMemcpyDeviceToDevice,
                                   queue_->stream()),
                 "cudaMemcpy2DAsync");
}

void CudaCommandBuffer::commit() {
  if (!markCommitted() || hasError() || runs_.empty()) {
    return;
  }
  std::optional<std::string> failed = failure(cudaSetDevice(device()), "cudaSetDevice");
  for (const Run& run : runs_) {
    for (const GraphLaunch& launch : launchPlan(run.count)) {
      for (std::int64_t i = 0; i < launch.times && !failed; ++i) {
        failed = failure(cudaGraphLaunch(run.graphs[launch.level].get(), queue_->stream()),
                         "cudaGraphLaunch");
      }
    }
    if (!failed && run.multiplication.placement != Placement::direct) {
      failed = moveIn(run.multiplication);
    }
    if (failed) {
      fail(*failed);
      return;
    }
  }
}

void CudaCommandBuffer::waitUntilCompleted() {
  if (!committed() || waited_) {
    return;
  }
  waited_ = true;
  std::optional<std::string> failed = failure(cudaSetDevice(device()), "cudaSetDevice");
  if (!failed) {
    failed = failure(cudaStreamSynchronize(queue_->stream()), "cudaStreamSynchronize");
  }
  if (failed) {
    fail(*failed);
  }
}

} // namespace ventaro::gpu::cuda
