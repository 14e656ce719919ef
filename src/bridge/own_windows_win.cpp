#include "bridge/own_windows_win.h"

#include <cwchar>

namespace Sorvane {

// The dialogs register their classes under this prefix ("Sorvane.SetupDialog", …). Reading a
// class name never sends a message, so this is safe for windows of hung threads too.
bool IsPluginDialogWindow(HWND window) {
  HWND root = window != nullptr ? GetAncestor(window, GA_ROOTOWNER) : nullptr;
  if (root == nullptr)
    root = window;
  wchar_t name[64] = {};
  if (root == nullptr || GetClassNameW(root, name, 64) == 0)
    return false;
  static constexpr wchar_t kPrefix[] = L"Sorvane.";
  return std::wcsncmp(name, kPrefix, (sizeof kPrefix / sizeof kPrefix[0]) - 1) == 0;
}

}  // namespace Sorvane
