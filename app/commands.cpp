#include "app/commands.h"

#include "app/command_line.h"
#include "app/json_output.h"
#include "platform/display_text.h"

#include <cmath>
#include <ostream>

namespace ventaro {
namespace {

std::string shown(const std::optional<std::int64_t>& value, const char* unknown = "?") {
  return value ? std::to_string(*value) : unknown;
}

// The device's PCI address, or "-" where it has none or it is not known.
std::string pciAddress(const gpu::Device& device) {
  const std::optional<gpu::PciIdentity> pci = device.pciIdentity();
  return pci && !pci->address.empty() ? displayText(pci->address) : "-";
}

} // namespace

std::optional<std::int64_t> wholePeakGflops(const gpu::Device& device) {
  const std::optional<double> peak = device.peakGflops();
  // A peak beyond any machine's (a hostile driver's figure) is as unknown as none.
  constexpr double largest = 1e12;
  if (!peak || !std::isfinite(*peak) || *peak <= 0 || *peak > largest) {
    return std::nullopt;
  }
  return std::llround(*peak);
}

std::string smcProblem(const SMCAccess::SMCError& error) {
  using Kind = SMCAccess::SMCError::Kind;
  switch (error.kind()) {
  case Kind::driverNotFound:
    return "no SMC found (no applesmc device in /sys)";
  case Kind::notPrivileged:
    return "the SMC refused this user";
  default:
    return std::string("the SMC could not be opened (") + error.what() + ")";
  }
}

int listDevices(const std::vector<NamedDevice>& devices, bool json, std::ostream& out) {
  if (json) {
    out << devicesJson(devices);
  } else {
    for (const NamedDevice& named : devices) {
      out << named.id << '\t' << named.device->backend() << '\t'
          << displayText(named.device->name()) << '\t'
          << named.device->recommendedMaxWorkingSetSize() << '\t' << pciAddress(*named.device)
          << '\t' << shown(wholePeakGflops(*named.device), "-") << '\n';
    }
  }
  out.flush();
  return kExitOk;
}

int checkFans(const FanReading& reading, bool json, std::ostream& out, std::ostream& err) {
  if (json) {
    out << fanCheckJson(reading);
  }
  if (reading.openFailure) {
    err << "ventaro: " << smcProblem(*reading.openFailure) << '\n';
    out.flush();
    return kExitNothingToRunOn;
  }
  const bool stuck = fansAreStuck(reading);
  if (!json) {
    out << "Fans (count " << shown(reading.count) << "):\n";
    for (const FanValues& fan : reading.fans) {
      out << "  fan " << fan.index << "  " << displayText(fan.name.value_or("?")) << "  minimum "
          << shown(fan.minimum) << "  maximum " << shown(fan.maximum) << "  current "
          << shown(fan.current) << '\n';
    }
    out << "Stuck-fan rule:\n";
    for (const FanRuleTerm& term : fanRuleTerms(reading)) {
      out << (term.holds ? "  holds  " : "  fails  ") << displayText(term.text) << '\n';
    }
    out << (stuck ? "Stuck: yes, a login start would run the load to reset the fans.\n"
                  : "Stuck: no, a login start would end at once.\n");
  }
  out.flush();
  return stuck ? kExitFailed : kExitOk;
}

void RunOutput::refused(RunKind runKind, const std::string& reason) const {
  *err << "ventaro: " << reason << '\n';
  if (json) {
    *out << refusedRunJson(runKind, reason) << std::flush;
  }
}

void RunOutput::finished(const RunReport& report) const {
  if (json) {
    *out << runJson(report) << std::flush;
  }
}

} // namespace ventaro
