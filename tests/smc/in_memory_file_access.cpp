#include "tests/smc/in_memory_file_access.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <utility>

namespace ventaro::applesmc {
namespace {

// "/a//b/" → "/a/b"; a relative path is taken from the root.
std::string normalise(std::string_view path) {
  std::string result = (std::filesystem::path("/") / path).lexically_normal().string();
  if (result.size() > 1 && result.back() == '/') {
    result.pop_back();
  }
  return result;
}

std::string parentOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

// A four-character code as the kernel prints it: up to its first zero byte, then a newline.
std::string printedCode(FourCharCode code) {
  std::string text = fourCharCodeBytes(code);
  text.resize(text.find('\0') == std::string::npos ? 4 : text.find('\0'));
  return text + "\n";
}

std::optional<std::uint32_t> parseIndex(std::string_view text) {
  if (text.ends_with('\n')) {
    text.remove_suffix(1);
  }
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} && end == text.data() + text.size() ? std::optional(value)
                                                                  : std::nullopt;
}

} // namespace

void InMemoryFileAccess::addFile(const std::string& path, std::string contents) {
  const std::string file = normalise(path);
  addDirectory(parentOf(file));
  files_[file] = std::move(contents);
}

void InMemoryFileAccess::addDirectory(const std::string& path) {
  for (std::string directory = normalise(path); directories_.insert(directory).second;
       directory = parentOf(directory)) {
  }
}

void InMemoryFileAccess::loadTree(const std::filesystem::path& hostDirectory) {
  namespace fs = std::filesystem;
  if (!fs::is_directory(hostDirectory)) {
    throw std::runtime_error("fixture tree not found: " + hostDirectory.string());
  }
  for (const auto& entry : fs::recursive_directory_iterator(hostDirectory)) {
    const std::string target = "/" + fs::relative(entry.path(), hostDirectory).string();
    if (entry.is_directory()) {
      addDirectory(target);
      continue;
    }
    std::ifstream in(entry.path(), std::ios::binary);
    if (!in.is_open()) {
      throw std::runtime_error("cannot read fixture file: " + entry.path().string());
    }
    addFile(target, std::string(std::istreambuf_iterator<char>(in), {}));
  }
}

void InMemoryFileAccess::attachKeyCursor(const std::string& deviceDirectory,
                                         std::vector<CursorKey> keys) {
  cursor_ = Cursor{normalise(deviceDirectory), std::move(keys), 0};
  for (const std::string_view attribute : kCursorAttributes) {
    files_.erase(joinPath(cursor_->directory, attribute));
  }
  addDirectory(cursor_->directory);
}

void InMemoryFileAccess::failAccess(const std::string& path, int error) {
  failures_[normalise(path)] = error;
}

void InMemoryFileAccess::afterRead(const std::string& path, std::function<void()> action) {
  afterRead_[normalise(path)] = std::move(action);
}

std::string InMemoryFileAccess::cursorAttribute(const std::string& path) const {
  const std::string name = nameOf(path);
  const bool isAttribute = std::find(std::begin(kCursorAttributes), std::end(kCursorAttributes),
                                     name) != std::end(kCursorAttributes);
  return cursor_ && isAttribute && parentOf(path) == cursor_->directory ? name : "";
}

ReadResult InMemoryFileAccess::readCursor(const std::string& attribute) const {
  if (attribute == "key_count") {
    return {0, std::to_string(cursor_->keys.size()) + "\n"};
  }
  if (attribute == "key_at_index") {
    return {0, std::to_string(cursor_->index) + "\n"};
  }
  if (cursor_->index >= cursor_->keys.size()) {
    return {EINVAL, {}};
  }
  const CursorKey& key = cursor_->keys[cursor_->index];
  if (attribute == "key_at_index_name") {
    return {0, printedCode(key.code)};
  }
  if (attribute == "key_at_index_type") {
    return {0, printedCode(key.type)};
  }
  if (attribute == "key_at_index_data_length") {
    return {0, std::to_string(key.data.size()) + "\n"};
  }
  return {0, key.data};
}

// The error of the nearest failing path at or above `path` (not `path` itself unless
// includeSelf), or 0.
int InMemoryFileAccess::failureOf(const std::string& path, bool includeSelf) const {
  for (std::string current = path;; current = parentOf(current)) {
    const auto found = failures_.find(current);
    if (found != failures_.end() && (includeSelf || current != path)) {
      return found->second;
    }
    if (current == "/") {
      return 0;
    }
  }
}

ReadResult InMemoryFileAccess::readFile(const std::string& path) {
  const std::string file = normalise(path);
  if (const int error = failureOf(file, true)) {
    return {error, {}};
  }
  ReadResult result;
  if (const std::string attribute = cursorAttribute(file); !attribute.empty()) {
    result = readCursor(attribute);
  } else if (const auto found = files_.find(file); found != files_.end()) {
    result.data = found->second;
  } else {
    result.error = directories_.contains(file) ? EISDIR : ENOENT;
  }
  if (result.error == 0) {
    if (const auto hook = afterRead_.find(file); hook != afterRead_.end()) {
      hook->second();
    }
  }
  return result;
}

int InMemoryFileAccess::writeFile(const std::string& path, std::string_view data) {
  const std::string file = normalise(path);
  if (const int error = failureOf(file, true)) {
    return error;
  }
  const std::string attribute = cursorAttribute(file);
  if (attribute.empty() && !files_.contains(file)) {
    return directories_.contains(file) ? EISDIR : ENOENT;
  }
  if (!root_ || (!attribute.empty() && attribute != "key_at_index")) {
    return EACCES;
  }
  if (!attribute.empty()) {
    const auto index = parseIndex(data);
    if (!index || *index >= cursor_->keys.size()) {
      return EINVAL;
    }
    cursor_->index = *index;
    return 0;
  }
  files_[file] = std::string(data);
  return 0;
}

ListResult InMemoryFileAccess::listDirectory(const std::string& path) {
  const std::string directory = normalise(path);
  if (const int error = failureOf(directory, true)) {
    return {error, {}};
  }
  if (!directories_.contains(directory)) {
    return {files_.contains(directory) ? ENOTDIR : ENOENT, {}};
  }
  std::set<std::string> names;
  for (const auto& [file, contents] : files_) {
    if (parentOf(file) == directory) {
      names.insert(nameOf(file));
    }
  }
  for (const std::string& child : directories_) {
    if (child != "/" && parentOf(child) == directory) {
      names.insert(nameOf(child));
    }
  }
  if (cursor_ && cursor_->directory == directory) {
    names.insert(std::begin(kCursorAttributes), std::end(kCursorAttributes));
  }
  return {0, std::vector<std::string>(names.begin(), names.end())};
}

bool InMemoryFileAccess::isDirectory(const std::string& path) {
  const std::string directory = normalise(path);
  // A directory that cannot be read can still be looked at; one below it cannot.
  return failureOf(directory, false) == 0 && directories_.contains(directory);
}

} // namespace ventaro::applesmc
