#pragma once

// Files that someone else may have planted (a FIFO, a device, a link, a huge file): opened
// without blocking, read only when they are regular files, and only up to a bound.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace ventaro {

/// The whole contents of `name`, relative to the directory open as `directoryFd` (AT_FDCWD:
/// the working directory; an absolute `name` ignores it), or nothing when it is missing,
/// unreadable, not a regular file, or longer than `limit` bytes. With `followLink` false a
/// link at `name` counts as missing. The open never waits for a peer.
std::optional<std::string> readUntrustedFile(int directoryFd, const std::string& name,
                                             std::size_t limit, bool followLink);

/// The user's home: `home` (the value of HOME, null when unset) when it is an absolute path,
/// else the home directory of the password database's entry for this user. An empty or
/// relative HOME would put the user's files wherever the program was started.
std::optional<std::filesystem::path> homeDirectory(const char* home);

/// An XDG base directory: `value` (the variable's, null when unset) when it is an absolute
/// path, as the base-directory rules ask, else `underHome` inside homeDirectory(`home`).
std::optional<std::filesystem::path> baseDirectory(const char* value, const char* home,
                                                   const char* underHome);

} // namespace ventaro
