#include "telemetry/amdgpu_source.h"

#include "platform/display_text.h"
#include "platform/untrusted_file.h"
#include "telemetry/hwmon_channels.h"
#include "telemetry/reading_bounds.h"
#include "telemetry/sensors_session.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <optional>

namespace ventaro::telemetry {
namespace {

using hwmon::Channel;

// An attribute holds one short line.
constexpr std::size_t kAttributeLimit = 4096;
constexpr double kHertzPerMegahertz = 1e6;

// libsensors' number for a PCI address: domain, bus, slot and function packed as its sysfs
// reader packs them.
std::optional<int> packedPciAddress(const std::string& address) {
  unsigned domain = 0;
  unsigned bus = 0;
  unsigned slot = 0;
  unsigned function = 0;
  char extra = 0;
  // NOLINTNEXTLINE(cert-err34-c): each field is checked by the count and the ranges below
  if (std::sscanf(address.c_str(), "%x:%x:%x.%x%c", &domain, &bus, &slot, &function, &extra) != 4 ||
      domain > 0x7fff || bus > 0xff || slot > 0x1f || function > 0x7) {
    return std::nullopt;
  }
  return static_cast<int>((domain << 16) | (bus << 8) | (slot << 3) | function);
}

std::string trimmedLine(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

// libsensors 3.6 knows no frequency attributes, so the shader clock is read here: freq1_input,
// in Hz, under the chip's directory.
class AmdgpuSource final : public Source {
public:
  AmdgpuSource(std::string address, const sensors_chip_name& chip, std::vector<Channel> channels)
      : address_(std::move(address)), chip_(chip), channels_(std::move(channels)) {
    const std::optional<std::string> label = readAttribute("freq1_label");
    clockLabel_ = label ? displayText(trimmedLine(*label)) : "freq1";
  }

  std::string name() const override { return "amdgpu " + address_; }

  void read(Sample& into) override {
    hwmon::readChannels(chip_, channels_, "amdgpu", into);
    if (const std::optional<std::string> text = readAttribute("freq1_input")) {
      std::uint64_t hertz = 0;
      const std::string line = trimmedLine(*text);
      const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), hertz);
      if (error == std::errc() && end == line.data() + line.size()) {
        addReading(into, "amdgpu", clockLabel_, Quantity::clock,
                   static_cast<double>(hertz) / kHertzPerMegahertz);
      }
    }
  }

private:
  std::optional<std::string> readAttribute(const std::string& name) const {
    return readUntrustedFile(AT_FDCWD, std::string(chip_.path) + "/" + name, kAttributeLimit,
                             false);
  }

  std::string address_;
  const sensors_chip_name& chip_;
  std::vector<Channel> channels_;
  std::string clockLabel_;
};

} // namespace

std::unique_ptr<Source> amdgpuSource(const std::string& pciAddress, std::string& why) {
  const std::optional<int> packed = packedPciAddress(pciAddress);
  if (!packed) {
    why = "\"" + displayText(pciAddress) + "\" is not a PCI address";
    return nullptr;
  }
  const std::vector<const sensors_chip_name*> chips = hwmon::detectedChips(
      [&](const sensors_chip_name& chip) {
        return chip.bus.type == SENSORS_BUS_TYPE_PCI && chip.addr == *packed &&
               std::string_view(chip.prefix) == "amdgpu";
      },
      why);
  if (chips.empty()) {
    if (why.empty()) {
      why = "no amdgpu hwmon chip at " + pciAddress;
    }
    return nullptr;
  }
  const sensors_chip_name& chip = *chips.front();
  return std::make_unique<AmdgpuSource>(
      pciAddress, chip,
      hwmon::channelsOf(chip, {SENSORS_FEATURE_TEMP, SENSORS_FEATURE_POWER, SENSORS_FEATURE_FAN}));
}

} // namespace ventaro::telemetry
