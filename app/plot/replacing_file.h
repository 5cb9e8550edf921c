#pragma once

// A file written whole or not at all. The bytes go to a new temporary file in the target's
// directory, created exclusively and never through a link; only when every byte is written and
// synced is it renamed over the target. A link at the target is replaced, never followed. A
// file not committed is removed again, so a failure leaves nothing behind.

#include "platform/file_descriptor.h"

#include <optional>
#include <string>

namespace ventaro::plot {

class ReplacingFile {
public:
  explicit ReplacingFile(std::string path);
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;
  ~ReplacingFile();

  /// Makes the temporary file; false, with the reason in `why`, when it cannot be made.
  bool open(std::string& why);
  /// The temporary file, open for writing.
  int fd() const { return file_ ? file_->get() : -1; }
  /// Syncs and closes the temporary file and renames it over the target; false, with the
  /// reason in `why`, when any step fails (the temporary file is removed then).
  bool commit(std::string& why);
  /// Notes why writing failed, in the same words as the other steps' failures.
  std::string failure(int error) const;

private:
  void discard();

  std::string path_;
  std::string name_;
  std::string temporary_;
  std::optional<FileDescriptor> directory_;
  std::optional<FileDescriptor> file_;
};

} // namespace ventaro::plot
