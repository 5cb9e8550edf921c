#include "app/process_setup.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace ventaro {
namespace {

void reserveIfClosed(int fd) {
  if (::fcntl(fd, F_GETFD) != -1) {
    return;
  }
  // The lowest free descriptor is the one that is closed here (all lower ones are open). Opened
  // read-only: a write to it fails with EBADF, as it did while it was closed.
  int reserved = ::open("/dev/null", O_RDONLY);
  if (reserved < 0) {
    reserved = ::open("/", O_RDONLY | O_DIRECTORY); // a chroot without /dev
  }
  if (reserved >= 0 && reserved != fd) {
    ::close(reserved); // not expected: something else holds it; leave it as it was
  }
}

} // namespace

void prepareProcess() {
  for (int fd = 0; fd <= 2; ++fd) {
    reserveIfClosed(fd);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
  ::sigaction(SIGXFSZ, &ignore, nullptr);
}

} // namespace ventaro
