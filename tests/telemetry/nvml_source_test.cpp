// The NVML source over a library of plain functions that stand in for the driver's, and the
// factory where NVML is missing.

#define G_LOG_DOMAIN "ventaro"

#include "telemetry/nvml_source.h"
#include "telemetry/telemetry_for.h"
#include "tests/telemetry/forked_child.h"

#include <glib.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ventaro::telemetry::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

// What the stand-in driver answers; reset by each test.
struct Driver {
  nvml::Return status = nvml::kSuccess;
  unsigned temperature = 71;
  unsigned smClock = 1980;
  unsigned milliwatts = 251500;
  unsigned percent = 65;
  nvml::Return rpmStatus = nvml::kSuccess;
  unsigned rpm = 2200;
  unsigned long long reasons = 0x4 | 0x20 | 0x1000; // NOLINT(google-runtime-int)
  std::string busId;
};
Driver driver;
int deviceRecord = 0;

nvml::Device theDevice() {
  return reinterpret_cast<nvml::Device>(&deviceRecord);
}

nvml::Library standIn() {
  nvml::Library library;
  library.init = [] { return nvml::kSuccess; };
  library.errorString = [](nvml::Return status) {
    return status == 6 ? "Not Found" : "Unknown Error";
  };
  library.handleByPciBusId = [](const char* busId, nvml::Device* device) {
    driver.busId = busId;
    *device = theDevice();
    return driver.status;
  };
  library.temperature = [](nvml::Device device, int sensor, unsigned* value) {
    *value = driver.temperature;
    return device == theDevice() && sensor == nvml::kTemperatureGpu ? nvml::kSuccess : 2;
  };
  library.clockInfo = [](nvml::Device, int type, unsigned* value) {
    *value = driver.smClock;
    return type == nvml::kClockSm ? nvml::kSuccess : 2;
  };
  library.powerUsage = [](nvml::Device, unsigned* value) {
    *value = driver.milliwatts;
    return nvml::kSuccess;
  };
  library.fanSpeed = [](nvml::Device, unsigned* value) {
    *value = driver.percent;
    return nvml::kSuccess;
  };
  library.fanSpeedRpm = [](nvml::Device, nvml::FanSpeedInfo* info) {
    if (info->version != 12U + (1U << 24U) || info->fan != 0) {
      return 25; // NVML_ERROR_ARGUMENT_VERSION_MISMATCH
    }
    info->speed = driver.rpm;
    return driver.rpmStatus;
  };
  library.clocksEventReasons = [](nvml::Device, unsigned long long* value) { // NOLINT
    *value = driver.reasons;
    return nvml::kSuccess;
  };
  return library;
}

class NvmlSource : public ::testing::Test {
protected:
  void SetUp() override { driver = Driver{}; }

  static Sample sampleOf(const nvml::Library& library) {
    std::string why;
    std::unique_ptr<Source> source = nvmlSource(library, "0000:65:00.0", why);
    if (!source) {
      ADD_FAILURE() << why;
      return {};
    }
    EXPECT_EQ(source->name(), "nvml 0000:65:00.0");
    EXPECT_EQ(driver.busId, "0000:65:00.0");
    Sample sample;
    source->read(sample);
    return sample;
  }

  nvml::Library library = standIn();
};

TEST_F(NvmlSource, ReadsTemperatureSmClockPowerInWattsFanAndClockEventReasons) {
  const Sample sample = sampleOf(library);
  EXPECT_THAT(sample.readings, ElementsAre(Reading{"nvml", "gpu", Quantity::temperature, 71.0},
                                           Reading{"nvml", "sm", Quantity::clock, 1980.0},
                                           Reading{"nvml", "power", Quantity::power, 251.5},
                                           Reading{"nvml", "fan", Quantity::fan, 2200.0}));
  EXPECT_THAT(sample.throttleReasons, ElementsAre("power cap", "thermal"))
      << "a bit without a name is left out";
}

TEST_F(NvmlSource, FanDutyStandsInWhereTheDriverMeasuresNoSpeed) {
  driver.rpmStatus = 3; // NVML_ERROR_NOT_SUPPORTED
  EXPECT_THAT(sampleOf(library).readings,
              ::testing::Contains(Reading{"nvml", "fan", Quantity::fanDuty, 65.0}));
  library.fanSpeedRpm = nullptr;
  EXPECT_THAT(sampleOf(library).readings,
              ::testing::Contains(Reading{"nvml", "fan", Quantity::fanDuty, 65.0}));
}

TEST_F(NvmlSource, MissingEntryPointsAndImplausibleValuesAreLeftOut) {
  driver.temperature = 4'000'000'000U;
  driver.rpm = 1'000'000U;
  library.clockInfo = nullptr;
  library.fanSpeed = nullptr;
  library.clocksEventReasons = nullptr;
  const Sample sample = sampleOf(library);
  EXPECT_THAT(sample.readings, ElementsAre(Reading{"nvml", "power", Quantity::power, 251.5}));
  EXPECT_THAT(sample.throttleReasons, IsEmpty());
}

TEST_F(NvmlSource, ADeviceNvmlDoesNotKnowGivesNoSourceAndSaysWhy) {
  driver.status = 6; // NVML_ERROR_NOT_FOUND
  std::string why;
  EXPECT_EQ(nvmlSource(library, "0000:66:00.0", why), nullptr);
  EXPECT_EQ(why, "NVML knows no device at 0000:66:00.0: Not Found");
}

TEST(NvmlClockEvents, EachThrottlingBitHasItsWordAndTheOthersNone) {
  EXPECT_THAT(clockEventWords(0x1FF),
              ElementsAre("power cap", "hw slowdown", "thermal", "hw thermal", "power brake"));
  EXPECT_THAT(clockEventWords(0x1 | 0x2 | 0x10 | 0x100), IsEmpty()) << "idle, set, sync, display";
  EXPECT_THAT(clockEventWords(0), IsEmpty());
}

// In a child: whether telemetryFor(target) found a source, then each log message it wrote,
// with its level ("debug: ..." or "other: ..."). "skip NVML..." where NVML is installed and
// `withoutNvml` is asked for.
ChildOutcome logOfMaking(const Target& target, bool withoutNvml) {
  return runInChild([&]() -> std::string {
    if (withoutNvml && nvml::library(nullptr) != nullptr) {
      return "skip NVML is installed on this machine";
    }
    static std::string logged;
    g_log_set_writer_func(
        [](GLogLevelFlags level, const GLogField* fields, gsize count, gpointer) {
          for (gsize i = 0; i < count; ++i) {
            if (std::string_view(fields[i].key) == "MESSAGE") {
              logged += (level & G_LOG_LEVEL_DEBUG) != 0 ? "debug: " : "other: ";
              logged += static_cast<const char*>(fields[i].value);
              logged += '\n';
            }
          }
          return G_LOG_WRITER_HANDLED;
        },
        nullptr, nullptr);
    const Telemetry telemetry = telemetryFor(target);
    return (telemetry.empty() ? "empty\n" : "sources\n") + logged;
  });
}

// Without the driver's library the GPU is run with no sensors of its own, and the debug log
// says why; nothing is printed otherwise.
TEST(TelemetryFor, AnNvidiaGpuWithoutNvmlHasNoSourceAndTheDebugLogSaysWhy) {
  const ChildOutcome outcome = logOfMaking(
      Target{PciIdentity{"0000:65:00.0", pci_vendor::kNvidia, 0x2684}, false, false}, true);
  ASSERT_TRUE(outcome.finished);
  if (outcome.output.starts_with("skip ")) {
    GTEST_SKIP() << outcome.output;
  }
  EXPECT_EQ(outcome.output.substr(0, outcome.output.find(": libnvidia-ml.so.1")),
            "empty\ndebug: no GPU sensors during the run: cannot open NVML");
  EXPECT_THAT(outcome.output, ::testing::Not(HasSubstr("other: ")));
}

TEST(TelemetryFor, OtherMakersAndUnknownAddressesGetNoGpuSource) {
  const std::pair<PciIdentity, const char*> cases[] = {
      {{"0000:00:02.0", pci_vendor::kIntel, 0x56a0},
       "empty\ndebug: no GPU sensors during the run: no sensors are read for this GPU's maker\n"},
      {{"", pci_vendor::kAmd, 0x744c},
       "empty\ndebug: no GPU sensors during the run: the GPU's PCI address is unknown\n"},
  };
  for (const auto& [pci, expected] : cases) {
    const ChildOutcome outcome = logOfMaking(Target{pci, false, false}, false);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.output, expected);
  }
}

} // namespace
} // namespace ventaro::telemetry::testing
