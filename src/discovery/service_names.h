#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "discovery/service_advertiser.h"

// How the advertised record turns into DNS-SD names and TXT entries, shared by every platform.
namespace Sorvane::dnssd {

inline constexpr const char* kServiceType = "_sorvane._tcp";
inline constexpr const char* kServiceDomain = "local";
inline constexpr size_t kMaxLabelBytes = 40;
// One TXT string ("key=value") holds at most 255 bytes on the wire.
inline constexpr size_t kMaxTxtEntryBytes = 255;

// The longest prefix of `text` that is at most `maxBytes` long and ends on a whole UTF-8 character.
std::string CutAtCharacter(const std::string& text, size_t maxBytes);

// The instance label: the name cut to 40 bytes at a character boundary; "Sorvane" when empty.
std::string InstanceLabel(const std::string& name);

// `label` with '.' and '\' escaped, as a DNS-SD instance name in presentation form needs.
std::string EscapeLabel(const std::string& label);

// "<escaped label>._sorvane._tcp.local".
std::string FullInstanceName(const std::string& label);

// The mDNS host name: the computer's name lower-cased + ".local", or "localhost.local".
std::string MdnsHostName(const std::optional<std::string>& computerName);

// The TXT entries in advertised order: ver, id, name, transmit. Values that would not fit one TXT
// string are cut at a character boundary.
std::vector<std::pair<std::string, std::string>> TxtEntries(const AdvertisementRecord& record);

// The instance label of a DNS-SD name in presentation form, as browse answers spell it
// ("Edit\.Bay._sorvane._tcp.local."): its first label with the escapes \X and \DDD decoded.
std::string FirstLabel(const std::string& presentationName);

// Whether two presentation-form names name the same instance: their first labels match, ignoring
// ASCII letter case as DNS does. A trailing root dot or a different escape changes nothing.
bool SameInstanceName(const std::string& a, const std::string& b);

}  // namespace Sorvane::dnssd
