#pragma once

// A JSON value built with json-glib and written on one line. Every text from outside goes
// through displayText, so the output is valid UTF-8.

#include "platform/display_text.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <json-glib/json-glib.h>
#include <limits>
#include <optional>
#include <string>

namespace ventaro {

// One JSON value under construction; `text()` gives it on one line, ending with a newline.
class JsonWriter {
public:
  JsonWriter() : builder_(json_builder_new()) {}
  ~JsonWriter() { g_object_unref(builder_); }
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  JsonWriter& beginObject(const char* name = nullptr) {
    key(name);
    json_builder_begin_object(builder_);
    return *this;
  }
  JsonWriter& endObject() {
    json_builder_end_object(builder_);
    return *this;
  }
  JsonWriter& beginArray(const char* name = nullptr) {
    key(name);
    json_builder_begin_array(builder_);
    return *this;
  }
  JsonWriter& endArray() {
    json_builder_end_array(builder_);
    return *this;
  }
  JsonWriter& member(const char* name, const std::string& value) {
    key(name);
    json_builder_add_string_value(builder_, displayText(value).c_str());
    return *this;
  }
  JsonWriter& member(const char* name, const char* value) {
    return member(name, std::string(value));
  }
  JsonWriter& member(const char* name, std::int64_t value) {
    key(name);
    json_builder_add_int_value(builder_, value);
    return *this;
  }
  JsonWriter& member(const char* name, std::uint64_t value) {
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    return member(name, static_cast<std::int64_t>(value > largest ? largest : value));
  }
  JsonWriter& member(const char* name, double value) {
    key(name);
    json_builder_add_double_value(builder_, value);
    return *this;
  }
  JsonWriter& member(const char* name, bool value) {
    key(name);
    json_builder_add_boolean_value(builder_, value ? TRUE : FALSE);
    return *this;
  }
  /// A number written with at most `places` decimals (at least one): json-glib writes every
  /// double with seventeen digits, so that 318.15 would read 318.14999999999998. It goes in as a
  /// string marked with a control character, which no other string holds (displayText blanks
  /// them all), and text() takes the quotes and the mark away.
  JsonWriter& decimal(const char* name, const std::optional<double>& value, int places) {
    if (!value || !std::isfinite(*value)) {
      return member(name, std::optional<std::string>());
    }
    std::array<char, 64> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "%.*f", places, *value);
    std::string number = buffer.data();
    number.erase(number.find_last_not_of('0') + 1);
    if (number.back() == '.') {
      number += '0';
    }
    if (number == "-0.0") {
      number = "0.0";
    }
    key(name);
    json_builder_add_string_value(builder_, (kNumberMark + number).c_str());
    return *this;
  }
  template <typename Value>
  JsonWriter& member(const char* name, const std::optional<Value>& value) {
    if (value) {
      return member(name, *value);
    }
    key(name);
    json_builder_add_null_value(builder_);
    return *this;
  }

  std::string text() const {
    JsonNode* root = json_builder_get_root(builder_);
    JsonGenerator* generator = json_generator_new();
    json_generator_set_root(generator, root);
    gchar* data = json_generator_to_data(generator, nullptr);
    std::string result = std::string(data) + "\n";
    g_free(data);
    // "\u0001318.15" (the string that decimal() made) becomes 318.15.
    const std::string marked = "\"\\u0001";
    for (std::size_t at = result.find(marked); at != std::string::npos;
         at = result.find(marked, at)) {
      result.erase(result.find('"', at + marked.size()), 1);
      result.erase(at, marked.size());
    }
    g_object_unref(generator);
    json_node_unref(root);
    return result;
  }

private:
  static constexpr const char* kNumberMark = "\x01";

  void key(const char* name) {
    if (name != nullptr) {
      json_builder_set_member_name(builder_, name);
    }
  }

  JsonBuilder* builder_;
};

} // namespace ventaro
