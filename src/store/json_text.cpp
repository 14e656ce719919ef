#include "store/json_text.h"

#include <cstdio>
#include <optional>

#include "base/utf8_text.h"

namespace Sorvane {
namespace {

class Scanner {
 public:
  explicit Scanner(std::string_view text, size_t pos) : text_(text), pos_(pos) {}
  size_t pos() const { return pos_; }

  // The string that starts at the current '"', escapes decoded; nullopt when it never ends.
  std::optional<std::string> QuotedString() { return String(); }

  // Parses the object that starts at the current '{'.
  std::optional<JsonStringMembers> Object() {
    JsonStringMembers members;
    if (!Take('{'))
      return std::nullopt;
    SkipSpace();
    if (Take('}'))
      return members;
    for (;;) {
      SkipSpace();
      std::optional<std::string> key = String();
      if (!key)
        return std::nullopt;
      SkipSpace();
      if (!Take(':'))
        return std::nullopt;
      SkipSpace();
      if (Peek() == '"') {
        std::optional<std::string> value = String();
        if (!value)
          return std::nullopt;
        members.emplace(std::move(*key), std::move(*value));  // the first occurrence wins
      } else if (!SkipValue()) {
        return std::nullopt;
      }
      SkipSpace();
      if (Take(','))
        continue;
      if (Take('}'))
        return members;
      return std::nullopt;
    }
  }

 private:
  char Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  bool Take(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  void SkipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }

  std::optional<uint32_t> Hex4() {
    if (pos_ + 4 > text_.size())
      return std::nullopt;
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_++];
      value <<= 4;
      if (c >= '0' && c <= '9') {
        value |= static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        value |= static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        value |= static_cast<uint32_t>(c - 'A' + 10);
      } else {
        return std::nullopt;
      }
    }
    return value;
  }

  bool Escape(std::string& out) {
    if (pos_ >= text_.size())
      return false;
    const char c = text_[pos_++];
    switch (c) {
      case 'b':
        out.push_back('\b');
        return true;
      case 'f':
        out.push_back('\f');
        return true;
      case 'n':
        out.push_back('\n');
        return true;
      case 'r':
        out.push_back('\r');
        return true;
      case 't':
        out.push_back('\t');
        return true;
      case 'u': {
        std::optional<uint32_t> cp = Hex4();
        if (!cp)
          return false;
        if (*cp >= 0xD800 && *cp < 0xDC00 && pos_ + 6 <= text_.size() && text_[pos_] == '\\' &&
            text_[pos_ + 1] == 'u') {
          const size_t save = pos_;
          pos_ += 2;
          std::optional<uint32_t> low = Hex4();
          if (low && *low >= 0xDC00 && *low < 0xE000) {
            AppendUtf8(out, 0x10000 + ((*cp - 0xD800) << 10) + (*low - 0xDC00));
            return true;
          }
          pos_ = save;
        }
        AppendUtf8(out, *cp);
        return true;
      }
      default:
        out.push_back(c);
        return true;  // \" \\ \/ and anything else as it stands
    }
  }

  std::optional<std::string> String() {
    if (!Take('"'))
      return std::nullopt;
    std::string out;
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"')
        return out;
      if (c == '\\') {
        if (!Escape(out))
          return std::nullopt;
      } else {
        out.push_back(c);
      }
    }
    return std::nullopt;
  }

  // Skips a non-string value: a bare word or number, or a nested object or array.
  bool SkipValue() {
    int depth = 0;
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '"') {
        if (!String())
          return false;
        continue;
      }
      if (c == '{' || c == '[')
        ++depth;
      if (c == '}' || c == ']') {
        if (depth == 0)
          return true;
        --depth;
      }
      if (c == ',' && depth == 0)
        return true;
      ++pos_;
      if (depth == 0 && (c == '}' || c == ']'))
        return true;
    }
    return false;
  }

  std::string_view text_;
  size_t pos_;
};

}  // namespace

std::string JsonEscape(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
          out += escaped;
        } else {
          out.push_back(c);
        }
    }
  }
  return out;
}

std::vector<JsonStringMembers> ReadJsonObjects(std::string_view text) {
  std::vector<JsonStringMembers> objects;
  size_t pos = text.find('{');
  while (pos != std::string_view::npos) {
    Scanner scanner(text, pos);
    if (std::optional<JsonStringMembers> object = scanner.Object()) {
      objects.push_back(std::move(*object));
      pos = text.find('{', scanner.pos());
    } else {
      pos = text.find('{', pos + 1);
    }
  }
  return objects;
}

std::string JsonFindString(std::string_view text, std::string_view key) {
  const std::string quotedKey = "\"" + std::string(key) + "\"";
  const size_t keyAt = text.find(quotedKey);
  if (keyAt == std::string_view::npos)
    return {};
  const size_t colon = text.find(':', keyAt + quotedKey.size());
  if (colon == std::string_view::npos)
    return {};
  const size_t quote = text.find('"', colon + 1);
  if (quote == std::string_view::npos)
    return {};
  Scanner scanner(text, quote);
  return scanner.QuotedString().value_or(std::string{});
}

}  // namespace Sorvane
