#define G_LOG_DOMAIN "ventaro"

#include "workload/cuda/cublas_library.h"

#include <dlfcn.h>
#include <glib.h>
#include <mutex>
#include <optional>

namespace ventaro::gpu::cuda {
namespace {

template <class Function> bool bind(void* library, const char* name, Function& out) {
  out = reinterpret_cast<Function>(dlsym(library, name));
  return out != nullptr;
}

struct Loaded {
  std::optional<CublasLibrary> library;
  std::string why;
};

Loaded load() {
  Loaded loaded;
  const std::string versioned = "libcublas.so." + std::to_string(CUBLAS_VER_MAJOR);
  void* handle = nullptr;
  for (const std::string& name : {versioned, std::string("libcublas.so")}) {
    handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle != nullptr) {
      break;
    }
    // Only ever called under the once flag below.
    const char* error = dlerror(); // NOLINT(concurrency-mt-unsafe)
    loaded.why = "cannot open cuBLAS: " + std::string(error != nullptr ? error : name);
  }
  if (handle == nullptr) {
    g_debug("%s", loaded.why.c_str());
    return loaded;
  }
  CublasLibrary library;
  const bool complete = bind(handle, "cublasCreate_v2", library.create) &&
                        bind(handle, "cublasDestroy_v2", library.destroy) &&
                        bind(handle, "cublasSetStream_v2", library.setStream) &&
                        bind(handle, "cublasSetMathMode", library.setMathMode) &&
                        bind(handle, "cublasSetWorkspace_v2", library.setWorkspace) &&
                        bind(handle, "cublasGemmEx", library.gemmEx) &&
                        bind(handle, "cublasGetStatusString", library.statusString);
  if (!complete) {
    const char* error = dlerror(); // NOLINT(concurrency-mt-unsafe): as above
    loaded.why = "cuBLAS lacks an entry point: " + std::string(error != nullptr ? error : "");
    g_debug("%s", loaded.why.c_str());
    dlclose(handle);
    return loaded;
  }
  // Kept open for the rest of the process: its handles may live until exit.
  loaded.library = library;
  return loaded;
}

} // namespace

const CublasLibrary* cublasLibrary(std::string* why) {
  static std::once_flag once;
  static Loaded loaded;
  std::call_once(once, [] { loaded = load(); });
  if (!loaded.library && why != nullptr) {
    *why = loaded.why;
  }
  return loaded.library ? &*loaded.library : nullptr;
}

} // namespace ventaro::gpu::cuda
