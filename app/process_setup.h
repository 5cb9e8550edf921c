#pragma once

// What the process sets up before anything else runs: standard descriptors that cannot be
// reused by a file opened later, and signals that report a failed write instead of ending it.

namespace ventaro {

/// Reserves each of descriptors 0, 1 and 2 that is closed, so that no file opened later (GLib's
/// own descriptors, the id store) takes its place: it is opened read-only, so that writing to a
/// closed standard output or error still fails with EBADF. Ignores SIGPIPE and SIGXFSZ: a closed
/// pipe or a file-size limit makes the write fail with its reason (EPIPE, EFBIG), which the
/// caller reports, instead of ending the process. Call first thing in main.
void prepareProcess();

} // namespace ventaro
