#include "discovery/service_names.h"

namespace Sorvane::dnssd {
namespace {

bool IsContinuationByte(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The byte a "\DDD" escape names, reading the three digits at `at` (just after the backslash);
// -1 when they are not three decimal digits up to 255.
int DecimalEscape(const std::string& text, size_t at) {
  if (at + 3 > text.size())
    return -1;
  int value = 0;
  for (size_t i = at; i < at + 3; ++i) {
    if (text[i] < '0' || text[i] > '9')
      return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value <= 255 ? value : -1;
}

}  // namespace

std::string CutAtCharacter(const std::string& text, size_t maxBytes) {
  if (text.size() <= maxBytes)
    return text;
  size_t end = maxBytes;
  // Back up to the start of the character that straddles the limit, then keep it only if whole.
  while (end > 0 && IsContinuationByte(static_cast<unsigned char>(text[end])))
    --end;
  return text.substr(0, end);
}

std::string InstanceLabel(const std::string& name) {
  const std::string label = CutAtCharacter(name, kMaxLabelBytes);
  return label.empty() ? "Sorvane" : label;
}

std::string EscapeLabel(const std::string& label) {
  std::string out;
  out.reserve(label.size());
  for (char c : label) {
    if (c == '.' || c == '\\')
      out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

std::string FullInstanceName(const std::string& label) {
  return EscapeLabel(label) + "." + kServiceType + "." + kServiceDomain;
}

std::string MdnsHostName(const std::optional<std::string>& computerName) {
  if (!computerName || computerName->empty())
    return "localhost.local";
  std::string host;
  for (char c : *computerName)
    host.push_back(LowerAscii(c));
  return host + ".local";
}

std::vector<std::pair<std::string, std::string>> TxtEntries(const AdvertisementRecord& record) {
  auto entry = [](const char* key, const std::string& value) {
    const size_t room = kMaxTxtEntryBytes - std::char_traits<char>::length(key) - 1;
    return std::make_pair(std::string(key), CutAtCharacter(value, room));
  };
  return {entry("ver", "4"), entry("id", record.id), entry("name", record.name),
          entry("transmit", record.transmit ? "1" : "0")};
}

std::string FirstLabel(const std::string& presentationName) {
  std::string label;
  const std::string& n = presentationName;
  for (size_t i = 0; i < n.size() && n[i] != '.'; ++i) {
    if (n[i] != '\\' || i + 1 == n.size()) {
      label.push_back(n[i]);
    } else if (const int byte = DecimalEscape(n, i + 1); byte >= 0) {
      label.push_back(static_cast<char>(byte));
      i += 3;
    } else {
      label.push_back(n[++i]);
    }
  }
  return label;
}

bool SameInstanceName(const std::string& a, const std::string& b) {
  const std::string left = FirstLabel(a);
  const std::string right = FirstLabel(b);
  if (left.size() != right.size())
    return false;
  for (size_t i = 0; i < left.size(); ++i) {
    if (LowerAscii(left[i]) != LowerAscii(right[i]))
      return false;
  }
  return true;
}

}  // namespace Sorvane::dnssd
