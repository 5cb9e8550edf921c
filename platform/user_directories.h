#pragma once

// Where the user's own files are: the home directory and the XDG base directories, never a
// relative path (which would put them wherever the program was started).

#include <filesystem>
#include <optional>

namespace ventaro {

/// The user's home: `home` (the value of HOME, null when unset) when it is an absolute path,
/// else the home directory of the password database's entry for this user. An empty or
/// relative HOME would put the user's files wherever the program was started.
std::optional<std::filesystem::path> homeDirectory(const char* home);

/// An XDG base directory: `value` (the variable's, null when unset) when it is an absolute
/// path, as the base-directory rules ask, else `underHome` inside homeDirectory(`home`).
std::optional<std::filesystem::path> baseDirectory(const char* value, const char* home,
                                                   const char* underHome);

/// The runtime directory: `value` (XDG_RUNTIME_DIR's, null when unset) when it is an absolute
/// path; none otherwise (it has no fallback).
std::optional<std::filesystem::path> runtimeDirectory(const char* value);

} // namespace ventaro
