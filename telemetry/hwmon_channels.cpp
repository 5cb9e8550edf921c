#include "telemetry/hwmon_channels.h"

#include "platform/display_text.h"
#include "telemetry/reading_bounds.h"
#include "telemetry/sensors_session.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>

namespace ventaro::telemetry::hwmon {
namespace {

struct Wanted {
  sensors_subfeature_type subfeature;
  Quantity quantity;
};

// The inputs of a feature, in the order they are preferred.
std::vector<Wanted> inputsOf(sensors_feature_type type) {
  switch (type) {
  case SENSORS_FEATURE_TEMP:
    return {{SENSORS_SUBFEATURE_TEMP_INPUT, Quantity::temperature}};
  case SENSORS_FEATURE_FAN:
    return {{SENSORS_SUBFEATURE_FAN_INPUT, Quantity::fan}};
  case SENSORS_FEATURE_POWER:
    return {{SENSORS_SUBFEATURE_POWER_AVERAGE, Quantity::power},
            {SENSORS_SUBFEATURE_POWER_INPUT, Quantity::power}};
  default:
    return {};
  }
}

// Called with the lock held.
std::string labelOf(const sensors_chip_name& chip, const sensors_feature& feature) {
  std::string name = feature.name;
  if (attributeAt(chip.path, name + "_label") == Attribute::hostile) {
    return name;
  }
  const std::unique_ptr<char, decltype(&std::free)> label(sensors_get_label(&chip, &feature),
                                                          &std::free);
  return label ? displayText(label.get()) : name;
}

// The first input of `feature` that the chip has and that can be read.
std::optional<Channel> channelOf(const sensors_chip_name& chip, const sensors_feature& feature) {
  for (const Wanted& wanted : inputsOf(feature.type)) {
    const sensors_subfeature* input = sensors_get_subfeature(&chip, &feature, wanted.subfeature);
    if (input != nullptr && (input->flags & SENSORS_MODE_R) != 0) {
      return Channel{input->number, input->name, wanted.quantity, labelOf(chip, feature)};
    }
  }
  return std::nullopt;
}

} // namespace

std::vector<Channel> channelsOf(const sensors_chip_name& chip,
                                std::initializer_list<sensors_feature_type> types) {
  const std::lock_guard<std::mutex> held(sensorsLock());
  std::vector<Channel> channels;
  int next = 0;
  while (const sensors_feature* feature = sensors_get_features(&chip, &next)) {
    if (std::find(types.begin(), types.end(), feature->type) == types.end()) {
      continue;
    }
    if (std::optional<Channel> channel = channelOf(chip, *feature)) {
      channels.push_back(std::move(*channel));
    }
  }
  return channels;
}

void readChannels(const sensors_chip_name& chip, const std::vector<Channel>& channels,
                  const std::string& source, Sample& into) {
  const std::lock_guard<std::mutex> held(sensorsLock());
  for (const Channel& channel : channels) {
    // Checked now, not only when the chip was listed: the file may have been replaced since.
    if (attributeAt(chip.path, channel.file) != Attribute::plain) {
      continue;
    }
    double value = 0.0;
    if (sensors_get_value(&chip, channel.subfeature, &value) == 0) {
      addReading(into, source, channel.label, channel.quantity, value);
    }
  }
}

} // namespace ventaro::telemetry::hwmon
