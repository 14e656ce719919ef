#pragma once
#include <windows.h>

#include <string>

namespace Sorvane::test {

// Saves what the window shows on screen as a PNG under the build's screenshots folder
// (build/windows-cross/screenshots/<name>); false when it could not.
bool SaveWindowScreenshot(HWND window, const std::wstring& name);

}  // namespace Sorvane::test
