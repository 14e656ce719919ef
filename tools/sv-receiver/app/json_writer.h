#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace Sorvane::receiver {

// A small streaming JSON writer for the receiver's summary (objects, arrays, numbers, strings).
class JsonWriter {
 public:
  JsonWriter& BeginObject(const char* key = nullptr);
  JsonWriter& EndObject();
  JsonWriter& BeginArray(const char* key = nullptr);
  JsonWriter& EndArray();
  JsonWriter& Value(const char* key, const std::string& text);
  JsonWriter& Value(const char* key, const char* text) { return Value(key, std::string(text)); }
  JsonWriter& Value(const char* key, double number);
  JsonWriter& Value(const char* key, int64_t number);
  JsonWriter& Value(const char* key, uint64_t number);
  JsonWriter& Value(const char* key, int number) {
    return Value(key, static_cast<int64_t>(number));
  }
  JsonWriter& Value(const char* key, bool flag);
  const std::string& text() const { return out_; }

 private:
  void Key(const char* key);
  std::string out_;
  std::vector<bool> first_;  // per open container: nothing written yet
};

}  // namespace Sorvane::receiver
