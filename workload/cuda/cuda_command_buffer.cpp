#include "workload/cuda/cuda_command_buffer.h"

#include "workload/cuda/cuda_status.h"

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
  if (!openForEncoding()) {
    return;
  }
  if (hasError()) {
    return; // Nothing more is prepared for a buffer that has already failed.
  }
  Multiplication multiplication{sizes, &left, &right, &result, Form::direct};
  CudaBuffer& target = result.buffer();
  if (&target == &left.buffer() || &target == &right.buffer()) {
    if (!target.ensureSecond()) {
      fail("cannot allocate the second block of an aliased multiplication");
      return;
    }
    const bool selfInPlace = &left == &result && &right == &result &&
                             sizes.interior == result.descriptor().columns &&
                             coversBuffer(sizes, result.descriptor(), target.length());
    multiplication.form = selfInPlace ? Form::inPlace : Form::viaSecond;
  }
  if (runs_.empty() || !(runs_.back().multiplication == multiplication)) {
    runs_.emplace_back();
    runs_.back().multiplication = multiplication;
  }
  Run& run = runs_.back();
  ++run.count;
  if (auto failed = prepareGraphs(run)) {
    fail(*failed);
  }
}

std::optional<std::string> CudaCommandBuffer::prepareGraphs(Run& run) {
  const int per = multiplicationsPerUnit(run.multiplication.form);
  const std::int64_t units = run.count / per;
  if (run.count % per != 0 && !run.odd) {
    if (auto failed = capture(run.multiplication, 0, true, run.odd)) {
      return failed;
    }
  }
  for (int level = 0; level <= maxGraphLevel && (std::int64_t{1} << level) <= units; ++level) {
    if (!run.units[level]) {
      if (auto failed =
              capture(run.multiplication, std::int64_t{1} << level, false, run.units[level])) {
        return failed;
      }
    }
  }
  return std::nullopt;
}

std::optional<std::string> CudaCommandBuffer::capture(const Multiplication& m, std::int64_t units,
                                                      bool odd, Executable& out) {
  auto* const stream = queue_->stream();
  if (auto failed = failure(cudaSetDevice(device()), "cudaSetDevice")) {
    return failed;
  }
  if (auto failed = failure(cudaStreamBeginCapture(stream, cudaStreamCaptureModeThreadLocal),
                            "cudaStreamBeginCapture")) {
    return failed;
  }
  std::optional<std::string> issued = odd ? issueOdd(m) : std::nullopt;
  for (std::int64_t i = 0; i < units && !issued; ++i) {
    issued = issueUnit(m);
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
    // Moves the graph to the device now rather than at its first launch.
    failed = failure(cudaGraphUpload(executable, stream), "cudaGraphUpload");
  }
  if (failed) {
    cudaGetLastError();
  }
  return failed;
}

std::optional<std::string> CudaCommandBuffer::issueGemm(const GemmSizes& sizes,
                                                        const std::byte* left, int lda,
                                                        const std::byte* right, int ldb,
                                                        std::byte* result, int ldc) {
  // Row-major C = A × B is column-major Cᵀ = Bᵀ × Aᵀ over the same memory: the operands and
  // their leading dimensions are handed over swapped on purpose.
  const float alpha = 1.0f;
  const float beta = 0.0f;
  // NOLINTNEXTLINE(readability-suspicious-call-argument)
  return failure(cublasGemmEx(queue_->handle(), CUBLAS_OP_N, CUBLAS_OP_N, sizes.columns, sizes.rows,
                              sizes.interior, &alpha, right, CUDA_R_32F, ldb, left, CUDA_R_32F, lda,
                              &beta, result, CUDA_R_32F, ldc, CUBLAS_COMPUTE_32F,
                              CUBLAS_GEMM_DEFAULT),
                 "cublasGemmEx");
}

std::optional<std::string> CudaCommandBuffer::issueUnit(const Multiplication& m) {
  CudaBuffer& target = m.result->buffer();
  const int lda = m.left->leadingDimension();
  const int ldb = m.right->leadingDimension();
  const int ldc = m.result->leadingDimension();
  switch (m.form) {
  case Form::direct:
    return issueGemm(m.sizes, m.left->buffer().data(), lda, m.right->buffer().data(), ldb,
                     target.data(), ldc);
  case Form::inPlace:
    if (auto failed =
            issueGemm(m.sizes, target.data(), ldc, target.data(), ldc, target.second(), ldc)) {
      return failed;
    }
    return issueGemm(m.sizes, target.second(), ldc, target.second(), ldc, target.data(), ldc);
  case Form::viaSecond: {
    if (auto failed = issueGemm(m.sizes, m.left->buffer().data(), lda, m.right->buffer().data(),
                                ldb, target.second(), ldc)) {
      return failed;
    }
    const std::size_t pitch = m.result->descriptor().rowBytes;
    return failure(cudaMemcpy2DAsync(target.data(), pitch, target.second(), pitch,
                                     sizeof(float) * static_cast<std::size_t>(m.sizes.columns),
                                     static_cast<std::size_t>(m.sizes.rows),
                                     cudaMemcpyDeviceToDevice, queue_->stream()),
                   "cudaMemcpy2DAsync");
  }
  }
  return "unknown multiplication form";
}

std::optional<std::string> CudaCommandBuffer::issueOdd(const Multiplication& m) {
  CudaBuffer& target = m.result->buffer();
  const int ld = m.result->leadingDimension();
  if (auto failed = issueGemm(m.sizes, target.data(), ld, target.data(), ld, target.second(), ld)) {
    return failed;
  }
  return failure(cudaMemcpyAsync(target.data(), target.second(), target.length(),
                                 cudaMemcpyDeviceToDevice, queue_->stream()),
                 "cudaMemcpyAsync");
}

std::optional<std::string> CudaCommandBuffer::launch(const Executable& graph) {
  return failure(cudaGraphLaunch(graph.get(), queue_->stream()), "cudaGraphLaunch");
}

void CudaCommandBuffer::commit() {
  if (!markCommitted() || hasError() || runs_.empty()) {
    return;
  }
  if (auto failed = failure(cudaSetDevice(device()), "cudaSetDevice")) {
    fail(*failed);
    return;
  }
  constexpr std::int64_t largest = std::int64_t{1} << maxGraphLevel;
  for (const Run& run : runs_) {
    const std::int64_t units = run.count / multiplicationsPerUnit(run.multiplication.form);
    std::optional<std::string> failed;
    for (std::int64_t i = 0; i < units / largest && !failed; ++i) {
      failed = launch(run.units[maxGraphLevel]);
    }
    for (int level = 0; level < maxGraphLevel && !failed; ++level) {
      if ((units >> level) & 1) {
        failed = launch(run.units[level]);
      }
    }
    if (run.count % multiplicationsPerUnit(run.multiplication.form) != 0 && !failed) {
      failed = launch(run.odd);
    }
    if (failed) {
      cudaGetLastError();
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
    cudaGetLastError();
    fail(*failed);
  }
}

} // namespace ventaro::gpu::cuda
