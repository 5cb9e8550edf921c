// Copies between a matrix in device memory and the host, through a mapped host block.

#define G_LOG_DOMAIN "ventaro"

#include "workload/vulkan/vulkan_batch.h"
#include "workload/vulkan/vulkan_device.h"

#include <cstring>
#include <glib.h>

namespace ventaro::gpu::vulkan {
namespace {

enum class Direction { toHost, toDevice };

// Runs one copy between `matrix`'s storage and `host` over `regions` (offsets: source, then
// destination, in the direction's order).
Failure copy(const VulkanMatrix& matrix, const Block& host, std::span<const VkBufferCopy> regions,
             Direction direction) {
  Made<std::unique_ptr<Batch>> made = Batch::make(matrix.buffer().sharedContext());
  if (!made) {
    return made.failure();
  }
  Batch& batch = **made;
  const Made<VkCommandBuffer> commands = batch.begin(false);
  if (!commands) {
    return commands.failure();
  }
  const DeviceApi& vk = batch.context().vk();
  VkBuffer device = matrix.buffer().storage();
  if (direction == Direction::toHost) {
    vk.vkCmdCopyBuffer(*commands, device, host.handle(), static_cast<std::uint32_t>(regions.size()),
                       regions.data());
    hostBarrier(vk, *commands);
  } else {
    vk.vkCmdCopyBuffer(*commands, host.handle(), device, static_cast<std::uint32_t>(regions.size()),
                       regions.data());
  }
  return batch.runAlone(*commands);
}

// A host block of `bytes` for a transfer of `matrix`, mapped.
Made<std::unique_ptr<Block>> hostBlock(const VulkanMatrix& matrix, std::uint64_t bytes) {
  return Block::make(matrix.buffer().sharedContext(), bytes, Block::Kind::host);
}

// For the helpers that answer only whether they worked: the reason goes to the debug log.
bool logged(const Failure& failed) {
  if (failed) {
    g_debug("Vulkan transfer: %s", failed->c_str());
  }
  return failed.has_value();
}

// One region per row: each row of the matrix to its place in a packed host copy.
std::vector<VkBufferCopy> rowRegions(const VulkanMatrix& matrix, Direction direction) {
  const MatrixDescriptor& layout = matrix.descriptor();
  const std::uint64_t packed = sizeof(float) * static_cast<std::uint64_t>(layout.columns);
  std::vector<VkBufferCopy> regions;
  for (std::int64_t row = 0; row < layout.rows; ++row) {
    const std::uint64_t onDevice = static_cast<std::uint64_t>(row) * layout.rowBytes;
    const std::uint64_t onHost = static_cast<std::uint64_t>(row) * packed;
    regions.push_back(direction == Direction::toHost ? VkBufferCopy{onDevice, onHost, packed}
                                                     : VkBufferCopy{onHost, onDevice, packed});
  }
  return regions;
}

} // namespace

Made<std::vector<float>> readPositions(const VulkanMatrix& matrix,
                                       std::span<const ElementPosition> positions) {
  std::vector<float> values(positions.size());
  if (positions.empty()) {
    return values;
  }
  Made<std::unique_ptr<Block>> host = hostBlock(matrix, values.size() * sizeof(float));
  if (!host) {
    return Why{host.why()};
  }
  std::vector<VkBufferCopy> regions;
  regions.reserve(positions.size());
  for (std::size_t i = 0; i < positions.size(); ++i) {
    const auto [row, column] = positions[i];
    regions.push_back({static_cast<std::uint64_t>(row) * matrix.descriptor().rowBytes +
                           sizeof(float) * static_cast<std::uint64_t>(column),
                       i * sizeof(float), sizeof(float)});
  }
  if (auto failed = copy(matrix, **host, regions, Direction::toHost)) {
    return Why{*failed};
  }
  std::memcpy(values.data(), (*host)->mapped(), values.size() * sizeof(float));
  return values;
}

std::vector<float> readMatrix(const Matrix& matrix) {
  const auto* own = dynamic_cast<const VulkanMatrix*>(&matrix);
  if (own == nullptr) {
    return {};
  }
  const MatrixDescriptor& layout = own->descriptor();
  std::vector<float> elements(static_cast<std::size_t>(layout.rows * layout.columns));
  Made<std::unique_ptr<Block>> host = hostBlock(*own, elements.size() * sizeof(float));
  if (logged(host.failure()) ||
      logged(copy(*own, **host, rowRegions(*own, Direction::toHost), Direction::toHost))) {
    return {};
  }
  std::memcpy(elements.data(), (*host)->mapped(), elements.size() * sizeof(float));
  return elements;
}

bool writeMatrix(Matrix& matrix, std::span<const float> elements) {
  const auto* own = dynamic_cast<const VulkanMatrix*>(&matrix);
  if (own == nullptr || elements.size() != static_cast<std::size_t>(own->descriptor().rows *
                                                                    own->descriptor().columns)) {
    return false;
  }
  Made<std::unique_ptr<Block>> host = hostBlock(*own, elements.size_bytes());
  if (logged(host.failure())) {
    return false;
  }
  std::memcpy((*host)->mapped(), elements.data(), elements.size_bytes());
  return !logged(copy(*own, **host, rowRegions(*own, Direction::toDevice), Direction::toDevice));
}

} // namespace ventaro::gpu::vulkan
