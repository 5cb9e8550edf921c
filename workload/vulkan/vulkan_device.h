#pragma once

// The Vulkan backend of the GPU layer: matrices in device-local memory, multiplied by the
// project's own compute shader, filled and compared on the device; the work of a command
// buffer recorded once and submitted in one go.

#include "workload/gpu_device.h"
#include "workload/vulkan/gemm_tiles.h"
#include "workload/vulkan/vulkan_command_buffer.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ventaro::gpu::vulkan {

/// A device's UUID as Vulkan reports it; all zero where it does not.
using DeviceUuid = std::array<std::uint8_t, VK_UUID_SIZE>;

/// What enumeration learns of a physical device, without opening it.
struct DeviceFacts {
  std::string name; // without the driver tag
  bool processor = false;
  /// Its driver runs on top of another API or another machine's driver.
  bool layered = false;
  PciIdentity pci;
  DeviceUuid uuid{};
  std::uint64_t workingSet = 0;
  /// The largest buffer the device binds as one storage buffer in one allocation.
  std::uint64_t maxBufferBytes = 0;
  GemmTiles tiles;
  /// What an AMD GPU's FP32 peak is worked out from when it is asked for (see amd_peak.h):
  /// its active compute units (0 for any other device, or where the driver does not say),
  /// whether its lanes issue two FP32 operations per clock, and the root of the PCI folders
  /// its kernel driver's shader clock levels are read under.
  std::uint32_t activeComputeUnits = 0;
  bool dualIssue = false;
  std::string pciRoot;
};

class VulkanDevice final : public BackendDevice<VulkanCommandBuffer, VulkanMatrix, VulkanBuffer> {
public:
  /// A device of the instance of `instance`, which outlives it.
  VulkanDevice(const InstanceApi& instance, VkPhysicalDevice physical, DeviceFacts facts)
      : instance_(instance), physical_(physical), facts_(std::move(facts)) {}

  std::string name() const override { return facts_.name; }
  std::string backend() const override { return "vulkan"; }
  /// The largest device-local heap (its budget where the driver tells it); for a device of
  /// processor type, the CPU backend's 64 MiB per processor.
  std::uint64_t recommendedMaxWorkingSetSize() const override { return facts_.workingSet; }
  /// Opens the device on first use; null when it cannot be opened.
  std::unique_ptr<CommandQueue> newCommandQueue() override;
  /// Device-local memory (contents undefined until filled), or null with the reason.
  std::shared_ptr<Buffer> newBuffer(std::uint64_t length, ResourceOptions options) override;
  /// The seeded fill and the bitwise comparison, by shaders on the device.
  bool fillUniform(Matrix& matrix, std::uint64_t seed) override;
  std::optional<std::int64_t> countDifferences(const Matrix& a, const Matrix& b) override;
  std::optional<std::vector<float>>
  readElements(const Matrix& matrix, std::span<const ElementPosition> positions) override;
  bool isProcessor() const override { return facts_.processor; }
  std::optional<PciIdentity> pciIdentity() const override { return facts_.pci; }
  /// The AMD peak, from the clock levels read now; none for any other device.
  std::optional<double> peakGflops() const override;

  const DeviceFacts& facts() const { return facts_; }
  VkPhysicalDevice physical() const { return physical_; }

protected:
  bool accepts(const VulkanBuffer& buffer) const override;

private:
  std::shared_ptr<Context> context();
  const VulkanMatrix* ownMatrix(const Matrix& matrix);
  /// Notes `failed` as the last failure; true when there was one.
  bool noted(const Failure& failed);

  const InstanceApi& instance_;
  VkPhysicalDevice physical_;
  DeviceFacts facts_;
  std::mutex mutex_;
  bool opened_ = false;
  std::shared_ptr<Context> context_;
  std::string openFailure_;
};

/// For tests and tools: the elements of a Vulkan-backend matrix, row by row without padding.
/// Empty when `matrix` is not of this backend or the transfer fails.
std::vector<float> readMatrix(const Matrix& matrix);

/// For tests and tools: overwrites a Vulkan-backend matrix with `elements` given row by row
/// without padding. False when `matrix` is not of this backend, the count is not
/// rows × columns, or the transfer fails.
bool writeMatrix(Matrix& matrix, std::span<const float> elements);

/// The elements at `positions` of a matrix of this backend, read after all submitted work;
/// the reason when the transfer fails.
Made<std::vector<float>> readPositions(const VulkanMatrix& matrix,
                                       std::span<const ElementPosition> positions);

} // namespace ventaro::gpu::vulkan
