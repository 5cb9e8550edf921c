#include "workload/vulkan/vulkan_device.h"

#include "workload/cpu/memory_headroom.h"
#include "workload/vulkan/amd_peak.h"
#include "workload/vulkan/vulkan_batch.h"

#include <cstring>

namespace ventaro::gpu::vulkan {
namespace {

class VulkanCommandQueue final : public CommandQueue {
public:
  explicit VulkanCommandQueue(std::shared_ptr<Context> context) : context_(std::move(context)) {}
  /// Where the device was lost or its pool cannot be made, a command buffer that has
  /// failed with the reason, so that the reason reaches whoever runs it.
  std::unique_ptr<CommandBuffer> commandBuffer() override {
    Made<std::unique_ptr<Batch>> batch = Batch::make(context_);
    if (!batch) {
      return std::make_unique<VulkanCommandBuffer>(batch.why());
    }
    return std::make_unique<VulkanCommandBuffer>(std::move(*batch));
  }

private:
  std::shared_ptr<Context> context_;
};

// A processor-type driver compiles each pipeline to machine code inside this process and does
// not survive an allocation refused while it does: under an address-space limit it crashes
// instead of answering VK_ERROR_OUT_OF_HOST_MEMORY. Such a device is opened only while this
// much address space is left for its compiler and its threads.
constexpr std::uint64_t processorCompilerHeadroom = std::uint64_t{512} << 20;

// The 2D grid of 16 × 16 workgroups the fill and the comparison run over.
constexpr std::uint32_t gridSide = 16;

std::uint32_t gridGroups(std::int64_t extent) {
  return static_cast<std::uint32_t>((extent + gridSide - 1) / gridSide);
}

} // namespace

std::shared_ptr<Context> VulkanDevice::context() {
  const std::lock_guard lock(mutex_);
  if (!opened_) {
    opened_ = true;
    if (auto shortfall = facts_.processor ? cpu::addressSpaceShortfall(processorCompilerHeadroom,
                                                                       "the driver's compiler")
                                          : std::nullopt) {
      openFailure_ = *shortfall;
    } else if (Made<std::shared_ptr<Context>> made =
                   Context::make(instance_, physical_, facts_.tiles)) {
      context_ = std::move(*made);
    } else {
      openFailure_ = made.why();
    }
  }
  if (!context_) {
    lastFailure_ = openFailure_;
  }
  return context_;
}

bool VulkanDevice::noted(const Failure& failed) {
  if (failed) {
    lastFailure_ = *failed;
  }
  return failed.has_value();
}

bool VulkanDevice::accepts(const VulkanBuffer& buffer) const {
  return context_ != nullptr && buffer.context() == context_.get();
}

const VulkanMatrix* VulkanDevice::ownMatrix(const Matrix& matrix) {
  const auto* own = dynamic_cast<const VulkanMatrix*>(&matrix);
  if (own == nullptr || !accepts(own->buffer())) {
    lastFailure_ = "matrix of another device";
    return nullptr;
  }
  return own;
}

std::unique_ptr<CommandQueue> VulkanDevice::newCommandQueue() {
  std::shared_ptr<Context> opened = context();
  if (!opened) {
    return nullptr;
  }
  if (auto gone = opened->lost()) {
    lastFailure_ = *gone;
    return nullptr;
  }
  return std::make_unique<VulkanCommandQueue>(std::move(opened));
}

std::shared_ptr<Buffer> VulkanDevice::newBuffer(std::uint64_t length, ResourceOptions) {
  if (length == 0) {
    lastFailure_ = "a buffer of no bytes";
    return nullptr;
  }
  if (length > facts_.maxBufferBytes) {
    lastFailure_ = std::to_string(length) + " bytes is beyond the largest buffer this device " +
                   "binds to a shader (" + std::to_string(facts_.maxBufferBytes) + " bytes)";
    return nullptr;
  }
  std::shared_ptr<Context> opened = context();
  if (!opened) {
    return nullptr;
  }
  Made<std::unique_ptr<Block>> storage = Block::make(opened, length, Block::Kind::device);
  if (noted(storage.failure())) {
    return nullptr;
  }
  return std::make_shared<VulkanBuffer>(std::move(opened), length, std::move(*storage));
}

bool VulkanDevice::fillUniform(Matrix& matrix, std::uint64_t seed) {
  const VulkanMatrix* own = ownMatrix(matrix);
  if (own == nullptr) {
    return false;
  }
  const MatrixDescriptor& layout = own->descriptor();
  Made<std::unique_ptr<Batch>> batch = Batch::make(own->buffer().sharedContext());
  if (noted(batch.failure())) {
    return false;
  }
  VkBuffer target = own->buffer().storage();
  const std::array<VkBuffer, 3> bound{target, target, target};
  const Made<VkDescriptorSet> set = (*batch)->bind(bound);
  if (noted(set.failure())) {
    return false;
  }
  const Made<VkCommandBuffer> commands = (*batch)->begin(false);
  if (noted(commands.failure())) {
    return false;
  }
  const std::array<std::uint32_t, 5> push{
      static_cast<std::uint32_t>(layout.rows), static_cast<std::uint32_t>(layout.columns),
      static_cast<std::uint32_t>(own->leadingDimension()), static_cast<std::uint32_t>(seed),
      static_cast<std::uint32_t>(seed >> 32)};
  dispatch((*batch)->context(), *commands, Kernel::fill, *set, push, gridGroups(layout.columns),
           gridGroups(layout.rows));
  return !noted((*batch)->runAlone(*commands));
}

std::optional<std::int64_t> VulkanDevice::countDifferences(const Matrix& a, const Matrix& b) {
  const auto matrices = comparable(a, b);
  if (!matrices) {
    return std::nullopt;
  }
  const auto [left, right] = *matrices;
  const MatrixDescriptor& layout = left->descriptor();
  const std::shared_ptr<Context>& shared = left->buffer().sharedContext();
  Made<std::unique_ptr<Block>> counter =
      Block::make(shared, sizeof(std::uint32_t), Block::Kind::host);
  if (noted(counter.failure())) {
    return std::nullopt;
  }
  Made<std::unique_ptr<Batch>> batch = Batch::make(shared);
  if (noted(batch.failure())) {
    return std::nullopt;
  }
  std::memset((*counter)->mapped(), 0, sizeof(std::uint32_t));
  const std::array<VkBuffer, 3> bound{left->buffer().storage(), right->buffer().storage(),
                                      (*counter)->handle()};
  const Made<VkDescriptorSet> set = (*batch)->bind(bound);
  if (noted(set.failure())) {
    return std::nullopt;
  }
  const Made<VkCommandBuffer> commands = (*batch)->begin(false);
  if (noted(commands.failure())) {
    return std::nullopt;
  }
  const std::array<std::uint32_t, 3> push{static_cast<std::uint32_t>(layout.rows),
                                          static_cast<std::uint32_t>(layout.columns),
                                          static_cast<std::uint32_t>(left->leadingDimension())};
  dispatch((*batch)->context(), *commands, Kernel::compare, *set, push, gridGroups(layout.columns),
           gridGroups(layout.rows));
  hostBarrier((*batch)->context().vk(), *commands);
  if (noted((*batch)->runAlone(*commands))) {
    return std::nullopt;
  }
  std::uint32_t differences = 0;
  std::memcpy(&differences, (*counter)->mapped(), sizeof(differences));
  return differences;
}

std::optional<double> VulkanDevice::peakGflops() const {
  if (facts_.activeComputeUnits == 0) {
    return std::nullopt;
  }
  return amdPeakGflops(facts_.activeComputeUnits, facts_.dualIssue,
                       readHighestShaderClockMhz(facts_.pciRoot, facts_.pci.address));
}

std::optional<std::vector<float>>
VulkanDevice::readElements(const Matrix& matrix, std::span<const ElementPosition> positions) {
  const VulkanMatrix* own = ownMatrix(matrix);
  if (own == nullptr) {
    return std::nullopt;
  }
  const MatrixDescriptor& layout = own->descriptor();
  for (const auto& [row, column] : positions) {
    if (row < 0 || row >= layout.rows || column < 0 || column >= layout.columns) {
      lastFailure_ = "position outside the matrix";
      return std::nullopt;
    }
  }
  Made<std::vector<float>> values = readPositions(*own, positions);
  if (noted(values.failure())) {
    return std::nullopt;
  }
  return std::move(*values);
}

} // namespace ventaro::gpu::vulkan
