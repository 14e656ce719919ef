#include "ui/gdi_ledger_win.h"

#include <windows.h>

#include <mutex>
#include <unordered_set>

#include "support/import_hook_win.h"

namespace Sorvane::test {
namespace {

std::mutex gLedgerLock;
std::unordered_set<void*> gLive;  // GUARDED_BY(gLedgerLock)

template <typename Handle>
Handle Entered(Handle made) {
  if (made != nullptr) {
    std::lock_guard<std::mutex> lock(gLedgerLock);
    gLive.insert(made);
  }
  return made;
}

template <typename Handle>
void Removed(Handle gone) {
  std::lock_guard<std::mutex> lock(gLedgerLock);
  gLive.erase(gone);
}

// The real functions, read from the import table when the hooks go in.
struct RealGdi {
  decltype(&CreateFontW) createFont;
  decltype(&CreateFontIndirectW) createFontIndirect;
  decltype(&CreateSolidBrush) createSolidBrush;
  decltype(&CreatePen) createPen;
  decltype(&CreateCompatibleBitmap) createCompatibleBitmap;
  decltype(&CreateDIBSection) createDibSection;
  decltype(&CreateCompatibleDC) createCompatibleDc;
  decltype(&DeleteObject) deleteObject;
  decltype(&DeleteDC) deleteDc;
  decltype(&GetDC) getDc;
  decltype(&ReleaseDC) releaseDc;
} gReal{};

HFONT WINAPI LedgerCreateFont(int h, int w, int e, int o, int weight, DWORD italic, DWORD underline,
                              DWORD strike, DWORD charset, DWORD precision, DWORD clip,
                              DWORD quality, DWORD pitch, LPCWSTR face) {
  return Entered(gReal.createFont(h, w, e, o, weight, italic, underline, strike, charset, precision,
                                  clip, quality, pitch, face));
}
HFONT WINAPI LedgerCreateFontIndirect(const LOGFONTW* font) {
  return Entered(gReal.createFontIndirect(font));
}
HBRUSH WINAPI LedgerCreateSolidBrush(COLORREF colour) {
  return Entered(gReal.createSolidBrush(colour));
}
HPEN WINAPI LedgerCreatePen(int style, int width, COLORREF colour) {
  return Entered(gReal.createPen(style, width, colour));
}
HBITMAP WINAPI LedgerCreateCompatibleBitmap(HDC dc, int w, int h) {
  return Entered(gReal.createCompatibleBitmap(dc, w, h));
}
HBITMAP WINAPI LedgerCreateDibSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits,
                                      HANDLE section, DWORD offset) {
  return Entered(gReal.createDibSection(dc, info, usage, bits, section, offset));
}
HDC WINAPI LedgerCreateCompatibleDc(HDC dc) {
  return Entered(gReal.createCompatibleDc(dc));
}
BOOL WINAPI LedgerDeleteObject(HGDIOBJ object) {
  Removed(object);
  return gReal.deleteObject(object);
}
BOOL WINAPI LedgerDeleteDc(HDC dc) {
  Removed(dc);
  return gReal.deleteDc(dc);
}
HDC WINAPI LedgerGetDc(HWND window) {
  return Entered(gReal.getDc(window));
}
int WINAPI LedgerReleaseDc(HWND window, HDC dc) {
  Removed(dc);
  return gReal.releaseDc(window, dc);
}

template <typename Function>
void Hook(const char* library, const char* name, Function* real, Function replacement) {
  void* previous = HookImport(GetModuleHandleW(nullptr), library, name,
                              reinterpret_cast<void*>(replacement));
  if (previous != nullptr)
    *real = reinterpret_cast<Function>(previous);
}

}  // namespace

void InstallGdiLedger() {
  static std::once_flag once;
  std::call_once(once, [] {
    Hook("gdi32.dll", "CreateFontW", &gReal.createFont, &LedgerCreateFont);
    Hook("gdi32.dll", "CreateFontIndirectW", &gReal.createFontIndirect, &LedgerCreateFontIndirect);
    Hook("gdi32.dll", "CreateSolidBrush", &gReal.createSolidBrush, &LedgerCreateSolidBrush);
    Hook("gdi32.dll", "CreatePen", &gReal.createPen, &LedgerCreatePen);
    Hook("gdi32.dll", "CreateCompatibleBitmap", &gReal.createCompatibleBitmap,
         &LedgerCreateCompatibleBitmap);
    Hook("gdi32.dll", "CreateDIBSection", &gReal.createDibSection, &LedgerCreateDibSection);
    Hook("gdi32.dll", "CreateCompatibleDC", &gReal.createCompatibleDc, &LedgerCreateCompatibleDc);
    Hook("gdi32.dll", "DeleteObject", &gReal.deleteObject, &LedgerDeleteObject);
    Hook("gdi32.dll", "DeleteDC", &gReal.deleteDc, &LedgerDeleteDc);
    Hook("user32.dll", "GetDC", &gReal.getDc, &LedgerGetDc);
    Hook("user32.dll", "ReleaseDC", &gReal.releaseDc, &LedgerReleaseDc);
  });
}

long LiveGdiObjects() {
  std::lock_guard<std::mutex> lock(gLedgerLock);
  return static_cast<long>(gLive.size());
}

}  // namespace Sorvane::test
