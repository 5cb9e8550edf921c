#pragma once

// The compute backends this build holds, each one registration: the prefix of its device ids
// and how it lists its devices. CMake writes the list (see workload/CMakeLists.txt,
// ventaro_register_backend): a backend is one folder, one registration line and its CMake
// option, and nothing else in the program names it.

#include "workload/gpu_device.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ventaro::gpu {

using DeviceLister = std::function<std::vector<std::shared_ptr<Device>>()>;

struct BackendRegistration {
  /// The backend's id: backend() of its devices and the prefix of their `--device` names.
  std::string id;
  /// Every device of the backend (processor-type ones included); may open the backend's
  /// driver.
  DeviceLister listDevices;
  /// Those of its devices a load can run on (it may open the libraries a load needs); empty:
  /// every listed device.
  DeviceLister usableDevices;
};

/// The backends of this build, in order of preference for a start's default device (the CPU
/// backend, always built, is not among them: it is what a start falls back to).
std::vector<BackendRegistration> registeredBackends();

} // namespace ventaro::gpu
