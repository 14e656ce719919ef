#include <windows.h>

#include "base/host_kind.h"

namespace Sorvane {

// The classification only looks at ASCII (each UTF-16 unit's low 7 bits), so units are narrowed
// one by one rather than converted to UTF-8.
std::string HostExecutablePath() {
  wchar_t buffer[520];
  const DWORD n = GetModuleFileNameW(nullptr, buffer, 520);
  if (n == 0)
    return {};
  std::string path;
  path.reserve(n);
  for (DWORD i = 0; i < n; ++i) {
    wchar_t unit = buffer[i];
    if (unit >= L'A' && unit <= L'Z')
      unit = static_cast<wchar_t>(unit - L'A' + L'a');
    path.push_back(static_cast<char>(unit & 0x7F));
  }
  return path;
}

}  // namespace Sorvane
