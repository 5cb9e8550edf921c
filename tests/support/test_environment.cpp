#include "tests/support/bus_helpers.h"
#include "tests/support/notification_bus.h"

#include <cstdlib>
#include <iostream>
#include <utility>

namespace ventaro::testing {

std::optional<std::string> notificationBusUnavailable() {
  static const std::optional<std::string> reason = []() -> std::optional<std::string> {
    gchar* daemon = g_find_program_in_path("dbus-daemon");
    if (daemon == nullptr) {
      return "dbus-daemon is not installed (Debian package dbus-daemon)";
    }
    g_free(daemon);
    const std::string python = detail::testPython();
    const gchar* argv[] = {python.c_str(), "-c", "import dbusmock", nullptr};
    gint status = 0;
    if (!g_spawn_sync(
            nullptr, const_cast<gchar**>(argv), nullptr,
            static_cast<GSpawnFlags>(G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL),
            nullptr, nullptr, nullptr, nullptr, &status, nullptr) ||
        !g_spawn_check_wait_status(status, nullptr)) {
      return python + " cannot import dbusmock (Debian package python3-dbusmock)";
    }
    return std::nullopt;
  }();
  return reason;
}

HangGuard::HangGuard(std::string what, std::chrono::milliseconds bound)
    : watchdog_([this, what = std::move(what), bound] {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!left_.wait_for(lock, bound, [this] { return done_; })) {
          std::cerr << what << " did not return within " << bound.count() << " ms" << std::endl;
          std::abort();
        }
      }) {}

HangGuard::~HangGuard() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  left_.notify_one();
  watchdog_.join();
}

TemporaryDirectory::TemporaryDirectory() {
  GError* error = nullptr;
  gchar* made = g_dir_make_tmp("ventaro-test-XXXXXX", &error);
  if (made == nullptr) {
    detail::fail("cannot make a temporary directory", error);
  }
  path_ = made;
  g_free(made);
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

ScopedEnvironmentVariable::ScopedEnvironmentVariable(std::string name,
                                                     const std::optional<std::string>& value)
    : name_(std::move(name)) {
  if (const char* old = g_getenv(name_.c_str())) {
    saved_ = old;
  }
  if (value) {
    g_setenv(name_.c_str(), value->c_str(), TRUE);
  } else {
    g_unsetenv(name_.c_str());
  }
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  if (saved_) {
    g_setenv(name_.c_str(), saved_->c_str(), TRUE);
  } else {
    g_unsetenv(name_.c_str());
  }
}

} // namespace ventaro::testing
