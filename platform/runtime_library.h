#pragma once

// Libraries opened with dlopen the first time something needs them, so that the
// executable starts on machines without them and a start that runs no such load never maps
// them (nor runs what they start while they load).

#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>

namespace ventaro {

/// What opening a library gave: its entry points, or why not.
template <class EntryPoints> struct OpenedLibrary {
  std::optional<EntryPoints> entries;
  std::string why;
};

/// The first of `names` that dlopen opens (now, locally); null when none does, with "cannot
/// open <what>: <the loader's words>" in `why` and in the debug log.
void* openFirstOf(std::initializer_list<const char*> names, const std::string& what,
                  std::string& why);

/// Closes `library`, whose entry points were not all found, with "<what> lacks an entry
/// point: <the loader's words>" in `why` and in the debug log.
void refuseIncomplete(void* library, const std::string& what, std::string& why);

/// Closes `library`, opened by openFirstOf, when what it was opened for cannot be used.
void closeLibrary(void* library);

/// The entry point `name` of `library`, null when it has none.
void* findEntry(void* library, const char* name);

/// Sets `out` to the entry point `name` of `library`; whether it was found.
template <class Function> bool bindEntry(void* library, const char* name, Function& out) {
  out = reinterpret_cast<Function>(findEntry(library, name));
  return out != nullptr;
}

/// `open`, run by the first caller only; its entry points, or null with the reason in `why`
/// (when given). The library stays open for the rest of the process.
template <class EntryPoints>
const EntryPoints* openOnce(OpenedLibrary<EntryPoints> (*open)(), std::string* why) {
  static std::once_flag once;
  static OpenedLibrary<EntryPoints> opened;
  std::call_once(once, [open] { opened = open(); });
  if (!opened.entries && why != nullptr) {
    *why = opened.why;
  }
  return opened.entries ? &*opened.entries : nullptr;
}

} // namespace ventaro
