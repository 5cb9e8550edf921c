#define G_LOG_DOMAIN "ventaro"

#include "platform/notice_id_store.h"

#include "platform/file_descriptor.h"
#include "platform/untrusted_file.h"
#include "platform/user_directories.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <gio/gio.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace ventaro {

namespace {

constexpr const char* kGroup = "Notice";
constexpr const char* kSuffix = ".notice";
// Escaped names longer than this are replaced by a digest, well inside any file-name limit.
constexpr std::size_t kLongestEscapedName = 200;

bool keptAsIs(unsigned char c) {
  return g_ascii_isalnum(c) || c == '-' || c == '_';
}

// Every byte outside [A-Za-z0-9_-] becomes %XX, so no name has a '/', is "." or "..", or
// collides with another identifier's.
std::string escapeIdentifier(const std::string& identifier) {
  static constexpr std::array<char, 16> kHex = {'0', '1', '2', '3', '4', '5', '6', '7',
                                                '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
  std::string escaped;
  for (const unsigned char c : identifier) {
    if (keptAsIs(c)) {
      escaped += static_cast<char>(c);
    } else {
      escaped += '%';
      escaped += kHex[c >> 4];
      escaped += kHex[c & 0x0F];
    }
  }
  return escaped;
}

std::optional<std::uint32_t> parseId(const gchar* text) {
  guint64 value = 0;
  if (text == nullptr || !g_ascii_string_to_unsigned(text, 10, 1, G_MAXUINT32, &value, nullptr)) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

// An id file is well under 200 bytes; anything much larger was not written by this store.
constexpr std::size_t kIdFileLimit = 512;

using DirectoryFd = FileDescriptor;

// The store's directory, open, when ids may be kept in it: a real directory (a link in its place
// is not followed), owned by this user and writable by nobody else. Every file operation after
// this is made relative to it, so that nothing swapped in later under its name is used.
DirectoryFd openDirectory(const std::filesystem::path& directory, bool create) {
  if (directory.empty()) {
    return DirectoryFd(-1);
  }
  if (create) {
    g_mkdir_with_parents(directory.parent_path().c_str(), 0700);
    ::mkdir(directory.c_str(), 0700);
  }
  DirectoryFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0) {
    return DirectoryFd(-1);
  }
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
      (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    g_debug("%s is not a private directory of this user: notice ids are not kept there",
            directory.c_str());
    return DirectoryFd(-1);
  }
  return fd;
}

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t count = ::write(fd, data.data(), data.size());
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(count));
  }
  return true;
}

} // namespace

NoticeIdStore::NoticeIdStore(std::filesystem::path directory) : directory_(std::move(directory)) {}

std::filesystem::path NoticeIdStore::defaultDirectory() {
  if (const auto runtime = runtimeDirectory(g_getenv("XDG_RUNTIME_DIR"))) {
    return *runtime / "ventaro";
  }
  const std::optional<std::filesystem::path> cache =
      baseDirectory(g_getenv("XDG_CACHE_HOME"), g_getenv("HOME"), ".cache");
  return cache ? *cache / "ventaro" : std::filesystem::path();
}

std::optional<std::string> NoticeIdStore::fileNameFor(const std::string& identifier,
                                                      const std::string& busGuid) {
  if (!g_dbus_is_guid(busGuid.c_str())) {
    return std::nullopt; // a GUID is 32 hex digits: nothing else goes into a file name
  }
  std::string name = escapeIdentifier(identifier);
  if (name.size() > kLongestEscapedName) {
    // An escaped name never starts with "%s" (a '%' is always followed by two hex digits).
    gchar* digest = g_compute_checksum_for_data(
        G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(identifier.data()), identifier.size());
    name = std::string("%sha256-") + digest;
    g_free(digest);
  }
  return name + "." + busGuid + kSuffix;
}

std::filesystem::path NoticeIdStore::fileFor(const std::string& identifier,
                                             const std::string& busGuid) const {
  const std::optional<std::string> name = fileNameFor(identifier, busGuid);
  return name ? directory_ / *name : std::filesystem::path();
}

std::optional<SavedNotice> NoticeIdStore::load(const std::string& identifier,
                                               const std::string& busGuid) const {
  const std::optional<std::string> name = fileNameFor(identifier, busGuid);
  const DirectoryFd directory = name ? openDirectory(directory_, false) : DirectoryFd(-1);
  const std::optional<std::string> text =
      directory ? readUntrustedFile(directory.get(), *name, kIdFileLimit, false) : std::nullopt;
  if (!text) {
    return std::nullopt;
  }
  GKeyFile* file = g_key_file_new();
  std::optional<SavedNotice> result;
  if (g_key_file_load_from_data(file, text->data(), text->size(), G_KEY_FILE_NONE, nullptr)) {
    gchar* id = g_key_file_get_string(file, kGroup, "Id", nullptr);
    gchar* bus = g_key_file_get_string(file, kGroup, "Bus", nullptr);
    gchar* server = g_key_file_get_string(file, kGroup, "Server", nullptr);
    const std::optional<std::uint32_t> parsedId = parseId(id);
    if (parsedId && bus != nullptr && bus == busGuid && server != nullptr &&
        g_dbus_is_unique_name(server)) {
      result = SavedNotice{*parsedId, bus, server};
    }
    g_free(id);
    g_free(bus);
    g_free(server);
  }
  g_key_file_free(file);
  return result;
}

bool NoticeIdStore::save(const std::string& identifier, const SavedNotice& notice) const {
  const std::optional<std::string> fileName = fileNameFor(identifier, notice.busGuid);
  const DirectoryFd directory = fileName ? openDirectory(directory_, true) : DirectoryFd(-1);
  if (!directory) {
    return false;
  }
  GKeyFile* file = g_key_file_new();
  g_key_file_set_string(file, kGroup, "Id", std::to_string(notice.id).c_str());
  g_key_file_set_string(file, kGroup, "Bus", notice.busGuid.c_str());
  g_key_file_set_string(file, kGroup, "Server", notice.serverName.c_str());
  gsize length = 0;
  gchar* contents = g_key_file_to_data(file, &length, nullptr);
  const std::string data(contents, length);
  g_free(contents);
  g_key_file_free(file);

  // Written to a new temporary file and renamed over the old one: a reader sees old or new.
  // The temporary name starts with '.', which no escaped identifier does.
  const std::string& name = *fileName;
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::string temporary = "." + name + "." + std::to_string(g_random_int());
    const int fd = ::openat(directory.get(), temporary.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
      continue;
    }
    if (fd < 0) {
      break;
    }
    const bool written = writeAll(fd, data) && ::fsync(fd) == 0;
    if (::close(fd) == 0 && written &&
        ::renameat(directory.get(), temporary.c_str(), directory.get(), name.c_str()) == 0) {
      return true;
    }
    ::unlinkat(directory.get(), temporary.c_str(), 0);
    break;
  }
  g_debug("cannot save the notice id of %s in %s", identifier.c_str(), directory_.c_str());
  return false;
}

void NoticeIdStore::forget(const std::string& identifier, const std::string& busGuid) const {
  const std::optional<std::string> name = fileNameFor(identifier, busGuid);
  const DirectoryFd directory = name ? openDirectory(directory_, false) : DirectoryFd(-1);
  if (directory) {
    ::unlinkat(directory.get(), name->c_str(), 0);
  }
}

} // namespace ventaro
