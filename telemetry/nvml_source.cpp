#include "telemetry/nvml_source.h"

#include "platform/display_text.h"
#include "telemetry/reading_bounds.h"

#include <array>
#include <cstdint>
#include <utility>

namespace ventaro::telemetry {
namespace {

constexpr double kMilliwattsPerWatt = 1000.0;

class NvmlSource final : public Source {
public:
  NvmlSource(const nvml::Library& nvml, std::string address, nvml::Device device)
      : nvml_(nvml), address_(std::move(address)), device_(device) {}

  std::string name() const override { return "nvml " + address_; }

  void read(Sample& into) override {
    unsigned value = 0;
    if (nvml_.temperature != nullptr &&
        nvml_.temperature(device_, nvml::kTemperatureGpu, &value) == nvml::kSuccess) {
      addReading(into, "nvml", "gpu", Quantity::temperature, value);
    }
    if (nvml_.clockInfo != nullptr &&
        nvml_.clockInfo(device_, nvml::kClockSm, &value) == nvml::kSuccess) {
      addReading(into, "nvml", "sm", Quantity::clock, value);
    }
    if (nvml_.powerUsage != nullptr && nvml_.powerUsage(device_, &value) == nvml::kSuccess) {
      addReading(into, "nvml", "power", Quantity::power, value / kMilliwattsPerWatt);
    }
    readFan(into);
    unsigned long long reasons = 0; // NOLINT(google-runtime-int)
    if (nvml_.clocksEventReasons != nullptr &&
        nvml_.clocksEventReasons(device_, &reasons) == nvml::kSuccess) {
      for (std::string& word : clockEventWords(reasons)) {
        into.throttleReasons.push_back(std::move(word));
      }
    }
  }

private:
  // The first fan's speed where the driver measures it; otherwise the duty it asks of it, which
  // is no measurement (a blocked fan still reports it).
  void readFan(Sample& into) {
    nvml::FanSpeedInfo info;
    info.version = nvml::kFanSpeedInfoVersion;
    if (nvml_.fanSpeedRpm != nullptr && nvml_.fanSpeedRpm(device_, &info) == nvml::kSuccess) {
      addReading(into, "nvml", "fan", Quantity::fan, info.speed);
      return;
    }
    unsigned percent = 0;
    if (nvml_.fanSpeed != nullptr && nvml_.fanSpeed(device_, &percent) == nvml::kSuccess) {
      addReading(into, "nvml", "fan", Quantity::fanDuty, percent);
    }
  }

  const nvml::Library& nvml_;
  std::string address_;
  nvml::Device device_;
};

} // namespace

std::unique_ptr<Source> nvmlSource(const nvml::Library& nvml, const std::string& pciAddress,
                                   std::string& why) {
  nvml::Device device = nullptr;
  const nvml::Return found = nvml.handleByPciBusId(pciAddress.c_str(), &device);
  if (found != nvml::kSuccess || device == nullptr) {
    const char* words = nvml.errorString(found);
    why = "NVML knows no device at " + displayText(pciAddress) + ": " +
          (words != nullptr ? words : "no reason");
    return nullptr;
  }
  return std::make_unique<NvmlSource>(nvml, pciAddress, device);
}

std::vector<std::string> clockEventWords(unsigned long long reasons) { // NOLINT(google-runtime-int)
  // Only the reasons that hold the clocks back against the load: an idle device, clocks the
  // user set, boost kept in step with other GPUs or a display's clock are no throttling.
  static constexpr std::array<std::pair<std::uint64_t, const char*>, 5> kWords{{
      {0x4, "power cap"},
      {0x8, "hw slowdown"},
      {0x20, "thermal"},
      {0x40, "hw thermal"},
      {0x80, "power brake"},
  }};
  std::vector<std::string> words;
  for (const auto& [bit, word] : kWords) {
    if ((reasons & bit) != 0) {
      words.emplace_back(word);
    }
  }
  return words;
}

} // namespace ventaro::telemetry
