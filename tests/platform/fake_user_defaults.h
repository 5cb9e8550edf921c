#pragma once

// Settings in memory that record each registration ("registerDefaults <key>=<value>") and
// each read ("integerForKey <key>", "boolForKey <key>").

#include "platform/user_defaults.h"
#include "tests/platform/call_log.h"

#include <map>
#include <string>

namespace ventaro::testing {

class FakeUserDefaults final : public UserDefaults {
public:
  explicit FakeUserDefaults(CallLog& log) : log_(log) {}

  std::map<std::string, DefaultValue> stored; // what the user stored: wins over a default

  void registerDefaults(const std::string& key, DefaultValue value) override {
    const bool* flag = std::get_if<bool>(&value);
    log_.record("registerDefaults " + key + "=" +
                (flag ? (*flag ? "true" : "false") : std::to_string(std::get<0>(value))));
    registered_[key] = value;
  }
  std::int64_t integerForKey(const std::string& key) override {
    log_.record("integerForKey " + key);
    return std::visit([](auto v) { return static_cast<std::int64_t>(v); }, find(key));
  }
  bool boolForKey(const std::string& key) override {
    log_.record("boolForKey " + key);
    return std::visit([](auto v) { return static_cast<bool>(v); }, find(key));
  }

private:
  DefaultValue find(const std::string& key) const {
    if (const auto found = stored.find(key); found != stored.end()) {
      return found->second;
    }
    const auto found = registered_.find(key);
    return found == registered_.end() ? DefaultValue{std::int64_t{0}} : found->second;
  }

  CallLog& log_;
  std::map<std::string, DefaultValue> registered_;
};

} // namespace ventaro::testing
