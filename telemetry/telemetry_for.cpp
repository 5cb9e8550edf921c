#define G_LOG_DOMAIN "ventaro"

#include "telemetry/telemetry_for.h"

#include "telemetry/amdgpu_source.h"
#include "telemetry/nvml_source.h"
#include "telemetry/processor_source.h"
#include "telemetry/smc_source.h"

#include <glib.h>

namespace ventaro::telemetry {
namespace {

// The GPU's own sensors, by its maker; null with the reason for any other maker.
std::unique_ptr<Source> gpuSource(const PciIdentity& pci, std::string& why) {
  if (pci.address.empty()) {
    why = "the GPU's PCI address is unknown";
    return nullptr;
  }
  switch (pci.vendorId) {
  case pci_vendor::kAmd:
    return amdgpuSource(pci.address, why);
  case pci_vendor::kNvidia:
    if (const nvml::Library* nvml = nvml::library(&why)) {
      return nvmlSource(*nvml, pci.address, why);
    }
    return nullptr;
  default:
    why = "no sensors are read for this GPU's maker";
    return nullptr;
  }
}

void keep(std::vector<std::unique_ptr<Source>>& sources, const char* what,
          std::unique_ptr<Source> source, const std::string& why) {
  if (source) {
    sources.push_back(std::move(source));
  } else {
    g_debug("no %s sensors during the run: %s", what, why.c_str());
  }
}

} // namespace

Telemetry telemetryFor(const Target& target) {
  std::vector<std::unique_ptr<Source>> sources;
  if (target.pci) {
    std::string why;
    std::unique_ptr<Source> source = gpuSource(*target.pci, why);
    keep(sources, "GPU", std::move(source), why);
  }
  if (target.processor) {
    std::string why;
    std::unique_ptr<Source> source = processorSource(why);
    keep(sources, "processor", std::move(source), why);
  }
  if (target.smc) {
    std::string why;
    std::unique_ptr<Source> source = smcSource(why);
    keep(sources, "SMC", std::move(source), why);
  }
  return Telemetry(std::move(sources));
}

} // namespace ventaro::telemetry
