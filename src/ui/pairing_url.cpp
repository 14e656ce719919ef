#include "ui/pairing_url.h"

namespace Sorvane {
namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == '~';
}

}  // namespace

std::string PercentEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(text.size() * 3);
  for (unsigned char c : text) {
    if (IsUnreserved(c)) {
      encoded.push_back(static_cast<char>(c));
    } else {
      encoded.push_back('%');
      encoded.push_back(kHex[c >> 4]);
      encoded.push_back(kHex[c & 0xF]);
    }
  }
  return encoded;
}

std::string BuildPairingUrl(const InstallIdentity& identity) {
  return "sorvane://pair?v=3&id=" + PercentEncode(identity.id) +
         "&name=" + PercentEncode(identity.name);
}

}  // namespace Sorvane
