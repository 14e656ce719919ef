#include "sv-receiver/app/json_writer.h"

#include <cmath>
#include <cstdio>

namespace Sorvane::receiver {
namespace {

std::string Escape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", b);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

void JsonWriter::Key(const char* key) {
  if (!first_.empty()) {
    if (!first_.back())
      out_ += ',';
    first_.back() = false;
  }
  if (key != nullptr)
    out_ += "\"" + Escape(key) + "\":";
}

JsonWriter& JsonWriter::BeginObject(const char* key) {
  Key(key);
  out_ += '{';
  first_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  out_ += '}';
  first_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::BeginArray(const char* key) {
  Key(key);
  out_ += '[';
  first_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  out_ += ']';
  first_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::Value(const char* key, const std::string& text) {
  Key(key);
  out_ += "\"" + Escape(text) + "\"";
  return *this;
}

JsonWriter& JsonWriter::Value(const char* key, double number) {
  Key(key);
  if (!std::isfinite(number)) {
    out_ += "null";
    return *this;
  }
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3f", number);
  out_ += buffer;
  return *this;
}

JsonWriter& JsonWriter::Value(const char* key, int64_t number) {
  Key(key);
  out_ += std::to_string(number);
  return *this;
}

JsonWriter& JsonWriter::Value(const char* key, uint64_t number) {
  Key(key);
  out_ += std::to_string(number);
  return *this;
}

JsonWriter& JsonWriter::Value(const char* key, bool flag) {
  Key(key);
  out_ += flag ? "true" : "false";
  return *this;
}

}  // namespace Sorvane::receiver
