#include "base/host_kind.h"

namespace Sorvane {

HostKind ClassifyHostExecutable(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  for (char& c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 'A' && u <= 'Z')
      u = static_cast<unsigned char>(u - 'A' + 'a');
    c = static_cast<char>(u & 0x7F);
  }
  if (name.find("afterfx") != std::string::npos)
    return HostKind::AfterEffects;
  if (name.find("media encoder") != std::string::npos)
    return HostKind::MediaEncoder;
  if (name.find("ame") != std::string::npos)
    return HostKind::MediaEncoder;
  if (name.find("premiere") != std::string::npos)
    return HostKind::PremierePro;
  return HostKind::Unknown;
}

HostKind DetectHost() {
  static const HostKind kind = ClassifyHostExecutable(HostExecutablePath());
  return kind;
}

const char* HostDisplayName(HostKind kind) {
  switch (kind) {
    case HostKind::PremierePro:
      return "Premiere Pro";
    case HostKind::AfterEffects:
      return "After Effects";
    case HostKind::MediaEncoder:
      return "Media Encoder";
    default:
      return "Unknown Host";
  }
}

uint16_t ControlPortForHost(HostKind kind) {
  switch (kind) {
    case HostKind::PremierePro:
      return 47100;
    case HostKind::AfterEffects:
      return 47110;
    case HostKind::MediaEncoder:
      return 47120;
    default:
      return 47130;
  }
}

std::string HostFileSuffix(HostKind kind) {
  switch (kind) {
    case HostKind::PremierePro:
      return "";
    case HostKind::AfterEffects:
      return "ae";
    case HostKind::MediaEncoder:
      return "ame";
    default:
      return "x";
  }
}

}  // namespace Sorvane
