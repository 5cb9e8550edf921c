#include "app/ventaro_main.h"

#include "app/app_delegate.h"
#include "app/app_services.h"
#include "app/command_line.h"
#include "app/commands.h"
#include "app/device_choice.h"
#include "app/process_setup.h"
#include "app/sensors_command.h"
#include "app/timed_start.h"
#include "platform/application.h"
#include "platform/notification_center_on_first_use.h"
#include "workload/gpu_display_name.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <streambuf>
#include <system_error>

namespace ventaro {
namespace {

// Standard output as a stream that remembers why a write failed (errno is gone by the time
// the process ends). Writes go to the C library's stdout, which buffers them.
class StandardOutputBuffer final : public std::streambuf {
public:
  int error() const { return error_; }

protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) {
      return 0;
    }
    const char one = traits_type::to_char_type(c);
    return put(&one, 1) ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    return put(text, count) ? count : 0;
  }
  int sync() override {
    errno = 0;
    if (std::fflush(stdout) != 0) {
      error_ = errno;
      return -1;
    }
    return 0;
  }

private:
  bool put(const char* text, std::streamsize count) {
    errno = 0;
    if (std::fwrite(text, 1, static_cast<std::size_t>(count), stdout) !=
        static_cast<std::size_t>(count)) {
      error_ = errno;
      return false;
    }
    return true;
  }

  int error_ = 0;
};

// Standard output, flushed and closed, checked the way a careful filter checks it: output
// that could not be written is a failure with its reason on standard error, never a silent
// loss. A closed descriptor with nothing written to it is no failure.
int closeStandardOutput(std::ostream& standardOutput, int status) {
  standardOutput.flush();
  const bool streamFailed = !standardOutput.good();
  const auto* buffer = dynamic_cast<const StandardOutputBuffer*>(standardOutput.rdbuf());
  int error = buffer != nullptr ? buffer->error() : 0;
  errno = 0;
  const bool flushFailed = std::fflush(stdout) != 0;
  if (error == 0) {
    error = errno;
  }
  const bool pending = std::ferror(stdout) != 0;
  errno = 0;
  const bool closeFailed = std::fclose(stdout) != 0;
  if (error == 0) {
    error = errno;
  }
  if (streamFailed || flushFailed || pending || (closeFailed && error != EBADF)) {
    std::cerr << "ventaro: write error"
              << (error != 0 ? ": " + std::error_code(error, std::generic_category()).message()
                             : "")
              << '\n';
    return status == kExitOk ? kExitFailed : status;
  }
  return status;
}

// The devices of a timed start, as --device named them.
std::vector<BurnInDevice> timedDevicesOf(const std::vector<NamedDevice>& named) {
  std::vector<BurnInDevice> devices;
  devices.reserve(named.size());
  for (const NamedDevice& entry : named) {
    devices.push_back({entry.id, "", entry.device});
  }
  return devices;
}

// The default device of a timed start without --device, known by the name --device gives it.
std::vector<BurnInDevice> defaultTimedDevice(gpu::GpuPlatform& platform) {
  std::shared_ptr<gpu::Device> device = platform.createSystemDefaultDevice();
  if (!device) {
    return {};
  }
  std::string id = device->backend() == "cpu" ? "cpu" : device->backend();
  for (const NamedDevice& named : namedDevices(platform, nullptr)) {
    if (named.device == device) {
      id = named.id;
    }
  }
  return {{id, "", std::move(device)}};
}

int runStart(const std::string& programName, const CommandLine& commandLine,
             std::ostream& standardOutput) {
  GlibApplication application;
  // With --json standard output carries the JSON alone; notices that find no server are
  // written to standard error instead.
  std::ostream& terminal = commandLine.json ? std::cerr : standardOutput;
  AppServices services = systemAppServices(application, commandLine.loginItem, terminal);

  if (commandLine.action == CommandLine::Action::checkFans) {
    return checkFans(services.readFans(true), commandLine.json, standardOutput, std::cerr);
  }
  if (commandLine.action == CommandLine::Action::sensors) {
    return showSensors(readSensors(commandLine.unit), commandLine.json, standardOutput, std::cerr);
  }
  if (commandLine.action == CommandLine::Action::listDevices) {
    return listDevices(namedDevices(*services.gpuPlatform, services.makeCpuDevice),
                       commandLine.json, standardOutput);
  }

  // The devices are listed only for a choice: a plain start makes no CPU device it may not use.
  std::optional<ChosenDevicePlatform> chosen;
  std::vector<NamedDevice> timedDevices;
  if (commandLine.device) {
    const std::vector<NamedDevice> devices =
        namedDevices(*services.gpuPlatform, services.makeCpuDevice);
    std::string problem;
    std::optional<std::vector<NamedDevice>> named =
        chooseDevices(devices, *commandLine.device, problem);
    if (!named) {
      std::cerr << usageErrorText(programName, problem);
      return kExitUsage;
    }
    if (named->empty()) {
      std::cerr << "ventaro: no device to run on\n";
      return kExitNothingToRunOn;
    }
    // Naming the devices is the choice: the guard against several GPUs sees the first alone.
    services.gpuPlatform = &chosen.emplace(*services.gpuPlatform, named->front().device);
    timedDevices = std::move(*named);
  }
  const RunOutput output{commandLine.json, &standardOutput, &std::cerr};
  services.reportRefusal = [output](RunKind kind, const std::string& reason) {
    output.refused(kind, reason);
  };
  services.reportRun = [output](const RunReport& report) { output.finished(report); };
  if (commandLine.durationSeconds) {
    TimedStart timed{{timedDevicesOf(timedDevices), *commandLine.durationSeconds, commandLine.plot},
                     &application,
                     services.notificationCenter,
                     output,
                     services.telemetryFor,
                     stderr};
    gpu::GpuPlatform* platform = services.gpuPlatform;
    services.timedRun = [timed = std::move(timed), platform]() mutable {
      if (timed.request.devices.empty()) {
        timed.request.devices = defaultTimedDevice(*platform);
      }
      for (BurnInDevice& entry : timed.request.devices) {
        entry.name =
            displayNameFor(entry.device->name(), entry.device->recommendedMaxWorkingSetSize());
      }
      return runTimedStart(timed);
    };
  }
  // A signal ends the start through the main loop: a start notice already posted is withdrawn
  // first, a fan-reset check under way reports what it has read, and the process exits with
  // 128 + the signal's number. A centre not made yet has posted nothing, and the bus is not
  // reached for it.
  const std::shared_ptr<NotificationCenter> center = services.notificationCenter;
  application.watchTerminationSignals(
      [&application, center, interruptFanReset = services.interruptFanReset](int /*number*/) {
        const auto* onFirstUse = dynamic_cast<const NotificationCenterOnFirstUse*>(center.get());
        if (onFirstUse == nullptr || onFirstUse->made()) {
          center->removeDeliveredNotifications({kStartNoticeIdentifier});
        }
        if (interruptFanReset) {
          interruptFanReset();
        }
        application.terminate(nullptr);
      });
  auto delegate = std::make_shared<AppDelegate>(std::move(services));
  return application.run(*delegate);
}

} // namespace

int ventaroMain(int argc, char** argv) {
  prepareProcess();
  const std::string programName =
      argc > 0 ? std::filesystem::path(argv[0]).filename().string() : "ventaro";
  const CommandLine commandLine =
      parseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
  StandardOutputBuffer buffer;
  std::ostream standardOutput(&buffer);

  switch (commandLine.action) {
  case CommandLine::Action::showHelp:
    standardOutput << helpText(programName);
    return closeStandardOutput(standardOutput, kExitOk);
  case CommandLine::Action::showVersion:
    standardOutput << versionText();
    return closeStandardOutput(standardOutput, kExitOk);
  case CommandLine::Action::usageError:
    std::cerr << usageErrorText(programName, commandLine.problem);
    return kExitUsage;
  case CommandLine::Action::run:
  case CommandLine::Action::listDevices:
  case CommandLine::Action::checkFans:
  case CommandLine::Action::sensors:
    break;
  }
  return closeStandardOutput(standardOutput, runStart(programName, commandLine, standardOutput));
}

} // namespace ventaro
