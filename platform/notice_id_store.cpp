#define G_LOG_DOMAIN "ventaro"

#include "platform/notice_id_store.h"

#include <array>
#include <gio/gio.h>
#include <glib/gstdio.h>
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

} // namespace

NoticeIdStore::NoticeIdStore(std::filesystem::path directory) : directory_(std::move(directory)) {}

std::filesystem::path NoticeIdStore::defaultDirectory() {
  const char* runtimeDir = g_getenv("XDG_RUNTIME_DIR");
  if (runtimeDir != nullptr && g_path_is_absolute(runtimeDir)) {
    return std::filesystem::path(runtimeDir) / "ventaro";
  }
  return std::filesystem::path(g_get_user_cache_dir()) / "ventaro";
}

std::filesystem::path NoticeIdStore::fileFor(const std::string& identifier) const {
  std::string name = escapeIdentifier(identifier);
  if (name.size() > kLongestEscapedName) {
    // An escaped name never starts with "%s" (a '%' is always followed by two hex digits).
    gchar* digest = g_compute_checksum_for_data(
        G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(identifier.data()), identifier.size());
    name = std::string("%sha256-") + digest;
    g_free(digest);
  }
  return directory_ / (name + kSuffix);
}

std::optional<SavedNotice> NoticeIdStore::load(const std::string& identifier) const {
  GKeyFile* file = g_key_file_new();
  std::optional<SavedNotice> result;
  if (g_key_file_load_from_file(file, fileFor(identifier).c_str(), G_KEY_FILE_NONE, nullptr)) {
    gchar* id = g_key_file_get_string(file, kGroup, "Id", nullptr);
    gchar* bus = g_key_file_get_string(file, kGroup, "Bus", nullptr);
    gchar* server = g_key_file_get_string(file, kGroup, "Server", nullptr);
    const std::optional<std::uint32_t> parsedId = parseId(id);
    if (parsedId && bus != nullptr && g_dbus_is_guid(bus) && server != nullptr &&
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

void NoticeIdStore::save(const std::string& identifier, const SavedNotice& notice) const {
  if (g_mkdir_with_parents(directory_.c_str(), 0700) != 0) {
    g_debug("cannot create %s", directory_.c_str());
    return;
  }
  GKeyFile* file = g_key_file_new();
  g_key_file_set_string(file, kGroup, "Id", std::to_string(notice.id).c_str());
  g_key_file_set_string(file, kGroup, "Bus", notice.busGuid.c_str());
  g_key_file_set_string(file, kGroup, "Server", notice.serverName.c_str());
  gsize length = 0;
  gchar* contents = g_key_file_to_data(file, &length, nullptr);
  GError* error = nullptr;
  // Written to a temporary file and renamed over the old one: a reader sees old or new.
  if (!g_file_set_contents_full(fileFor(identifier).c_str(), contents, static_cast<gssize>(length),
                                G_FILE_SET_CONTENTS_CONSISTENT, 0600, &error)) {
    g_debug("cannot save the notice id: %s", error->message);
    g_error_free(error);
  }
  g_free(contents);
  g_key_file_free(file);
}

void NoticeIdStore::forget(const std::string& identifier) const {
  g_remove(fileFor(identifier).c_str());
}

} // namespace ventaro
