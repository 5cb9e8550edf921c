#pragma once

// The sensors read during a load, behind one small interface: one Source per place readings
// come from (an hwmon chip through libsensors, NVML, the SMC). A source is bounded and never
// blocks; one that cannot read leaves its readings out.

#include "platform/pci_identity.h"
#include "telemetry/sample.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ventaro::telemetry {

/// A place readings come from.
class Source {
public:
  virtual ~Source() = default;
  /// Its name in messages ("amdgpu 0000:03:00.0", "nvml", "k10temp", "smc").
  virtual std::string name() const = 0;
  /// Appends what it reads now to `into`; leaves out what it cannot read.
  virtual void read(Sample& into) = 0;
};

/// The sources of several places, read together.
class Telemetry {
public:
  Telemetry() = default;
  explicit Telemetry(std::vector<std::unique_ptr<Source>> sources) : sources_(std::move(sources)) {}
  /// Everything every source reads now.
  Sample sample() {
    Sample made;
    for (const std::unique_ptr<Source>& source : sources_) {
      source->read(made);
    }
    return made;
  }
  bool empty() const { return sources_.empty(); }
  /// The name of each source, in the order they are read.
  std::vector<std::string> sourceNames() const {
    std::vector<std::string> names;
    names.reserve(sources_.size());
    for (const std::unique_ptr<Source>& source : sources_) {
      names.push_back(source->name());
    }
    return names;
  }

private:
  std::vector<std::unique_ptr<Source>> sources_;
};

} // namespace ventaro::telemetry
