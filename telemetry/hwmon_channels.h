#pragma once

// The inputs of one hwmon chip that a source reads through libsensors, found once and read at
// every sample.

#include "telemetry/sample.h"

#include <initializer_list>
#include <sensors/sensors.h>
#include <string>
#include <vector>

namespace ventaro::telemetry::hwmon {

/// One input of a chip: libsensors' subfeature and its attribute file, what it measures, and
/// the feature's label.
struct Channel {
  int subfeature = 0;
  std::string file;
  Quantity quantity = Quantity::temperature;
  std::string label;
};

/// The readable inputs of `chip`'s features of the given types: each temperature's and fan's
/// input, each power feature's average (its instantaneous input where it has no average). The
/// label is libsensors' (the configuration's, else the chip's `_label` file, else the feature's
/// name), made safe to show; a `_label` that is not a plain file is not opened.
std::vector<Channel> channelsOf(const sensors_chip_name& chip,
                                std::initializer_list<sensors_feature_type> types);

/// Appends the value of each channel to `into` under `source`. A channel whose file is no
/// longer a plain file (a FIFO, a link, a huge file) is not opened; one that cannot be read now
/// or reads an implausible value is left out.
void readChannels(const sensors_chip_name& chip, const std::vector<Channel>& channels,
                  const std::string& source, Sample& into);

} // namespace ventaro::telemetry::hwmon
