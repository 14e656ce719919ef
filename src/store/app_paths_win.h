#pragma once
#include <filesystem>
#include <string>

// The Windows halves of the folder and name rules that tests reach without the shell.
namespace Sorvane::pathsdetail {

// The roaming folder when the shell gives none: APPDATA, else USERPROFILE\AppData\Roaming,
// else "C:\".
std::filesystem::path RoamingDirFromEnvironment();

// `length` UTF-16 units as UTF-8; empty when they cannot be converted.
std::string Utf8FromWide(const wchar_t* text, int length);

}  // namespace Sorvane::pathsdetail
