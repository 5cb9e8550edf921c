#include "telemetry/processor_source.h"

#include "telemetry/hwmon_channels.h"
#include "telemetry/sensors_session.h"

#include <algorithm>
#include <set>
#include <string_view>

namespace ventaro::telemetry {
namespace {

bool isProcessorChip(const sensors_chip_name& chip) {
  const std::string_view prefix = chip.prefix;
  return prefix == "k10temp" || prefix == "coretemp";
}

class ProcessorSource final : public Source {
public:
  struct Chip {
    const sensors_chip_name* chip;
    std::vector<hwmon::Channel> channels;
  };

  explicit ProcessorSource(std::vector<Chip> chips) : chips_(std::move(chips)) {}

  // The chips' kinds: "k10temp", or "coretemp" (one chip per package).
  std::string name() const override {
    std::set<std::string> kinds;
    for (const Chip& chip : chips_) {
      kinds.insert(chip.chip->prefix);
    }
    std::string named;
    for (const std::string& kind : kinds) {
      named += (named.empty() ? "" : ", ") + kind;
    }
    return named;
  }

  void read(Sample& into) override {
    for (const Chip& chip : chips_) {
      hwmon::readChannels(*chip.chip, chip.channels, chip.chip->prefix, into);
    }
  }

private:
  std::vector<Chip> chips_;
};

} // namespace

std::unique_ptr<Source> processorSource(std::string& why) {
  std::vector<ProcessorSource::Chip> chips;
  std::vector<const sensors_chip_name*> found = hwmon::detectedChips(isProcessorChip, why);
  // In the order of their directories, whatever order the directory listing gave.
  std::sort(found.begin(), found.end(), [](const auto* left, const auto* right) {
    return std::string_view(left->path) < std::string_view(right->path);
  });
  chips.reserve(found.size());
  for (const sensors_chip_name* chip : found) {
    chips.push_back({chip, hwmon::channelsOf(*chip, {SENSORS_FEATURE_TEMP})});
  }
  if (chips.empty()) {
    if (why.empty()) {
      why = "no k10temp or coretemp hwmon chip";
    }
    return nullptr;
  }
  return std::make_unique<ProcessorSource>(std::move(chips));
}

} // namespace ventaro::telemetry
