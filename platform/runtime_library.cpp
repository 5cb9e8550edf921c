#define G_LOG_DOMAIN "ventaro"

#include "platform/runtime_library.h"

#include <dlfcn.h>
#include <glib.h>

namespace ventaro {
namespace {

// Called while a library is opened, which openOnce does once.
std::string loaderWords() {
  const char* error = dlerror(); // NOLINT(concurrency-mt-unsafe)
  return error != nullptr ? error : "";
}

} // namespace

void* openFirstOf(std::initializer_list<const char*> names, const std::string& what,
                  std::string& why) {
  for (const char* name : names) {
    if (void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL)) {
      return library;
    }
    why = "cannot open " + what + ": " + loaderWords();
  }
  g_debug("%s", why.c_str());
  return nullptr;
}

void refuseIncomplete(void* library, const std::string& what, std::string& why) {
  why = what + " lacks an entry point: " + loaderWords();
  g_debug("%s", why.c_str());
  dlclose(library);
}

void closeLibrary(void* library) {
  dlclose(library);
}

void* findEntry(void* library, const char* name) {
  return dlsym(library, name);
}

} // namespace ventaro
