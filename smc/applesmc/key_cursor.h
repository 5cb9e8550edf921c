#pragma once

#include "smc/applesmc/answer.h"
#include "smc/applesmc/file_access.h"
#include "smc/four_char_code.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace ventaro::applesmc {

// Keys read through the kernel's key cursor: writing an index to key_at_index (root only)
// selects a key, whose key_at_index_name, _type, _data_length and _data then answer for it.
//
// The cursor is one per machine, so each select-and-read holds a process-wide lock, and the
// selected name is read again after the value: when another process moved the cursor in
// between, the exchange answers kIOReturnBusy rather than another key's value. A key is found
// by its code with a binary search over the index, the SMC's keys being sorted by code; the
// names seen on the way, and the key count, are remembered for the life of the cursor (the
// driver makes a new one at each open).
class KeyCursor {
public:
  struct KeyData {
    FourCharCode type = 0;
    std::uint32_t length = 0;
    std::string bytes;
  };

  KeyCursor(FileAccess& files, std::string deviceDirectory);

  // key_count, which everybody may read.
  Answered<std::uint32_t> keyCount();
  // The code at an index; an index the kernel does not have answers result 132.
  Answered<FourCharCode> keyAtIndex(std::uint32_t index);
  // The key's value bytes (type and length left empty).
  Answered<KeyData> readValue(FourCharCode code);
  // The key's type and length (bytes left empty).
  Answered<KeyData> readInfo(FourCharCode code);
  // Whether the key exists: success, result 132, or the failure that prevented the lookup.
  Answer findKey(FourCharCode code);

private:
  enum class Part { value, info };

  Answered<KeyData> readSelected(FourCharCode code, Part part);
  Answered<std::uint32_t> countLocked();
  Answered<std::uint32_t> indexOf(FourCharCode code);
  Answered<FourCharCode> nameAt(std::uint32_t index);
  Answer select(std::uint32_t index);
  Answered<FourCharCode> readCode(std::string_view attribute);
  Answered<KeyData> readPart(Part part);

  FileAccess& files_;
  std::string deviceDirectory_;
  std::optional<std::uint32_t> count_;
  std::map<std::uint32_t, FourCharCode> names_;
};

} // namespace ventaro::applesmc
