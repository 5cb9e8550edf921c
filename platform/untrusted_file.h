#pragma once

// Files that someone else may have planted (a FIFO, a device, a link, a huge file): opened
// without blocking, read only when they are regular files, and only up to a bound.

#include <cstddef>
#include <optional>
#include <string>

namespace ventaro {

/// The whole contents of `name`, relative to the directory open as `directoryFd` (AT_FDCWD:
/// the working directory; an absolute `name` ignores it), or nothing when it is missing,
/// unreadable, not a regular file, or longer than `limit` bytes. With `followLink` false a
/// link at `name` counts as missing. The open never waits for a peer.
std::optional<std::string> readUntrustedFile(int directoryFd, const std::string& name,
                                             std::size_t limit, bool followLink);

} // namespace ventaro
