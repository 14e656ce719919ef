#include "ui/pairing_dialog_win.h"

#include <objbase.h>

#include <set>

#include "diag/crash_handler.h"
#include "diag/log.h"
#include "diag/log_channels.h"
#include "diag/thread_guard.h"
#include "ui/fitting_font_win.h"
#include "ui/wide_text.h"

namespace Sorvane {
namespace {

constexpr wchar_t kClassName[] = L"Sorvane.PairingDialog";
constexpr wchar_t kTitle[] = L"Sorvane \u2014 Pair iPhone";
constexpr int kWidth = 420;
constexpr int kHeight = 260;
constexpr wchar_t kHint[] = L"This window closes automatically when pairing completes.";
constexpr int kHeaderId = 1001, kCodeId = 1002, kHintId = 1003, kCancelId = 1004;

constexpr int kTextWidth = 384;
constexpr FontSpec kTextFont = {-16, FW_NORMAL, DEFAULT_PITCH | FF_SWISS, L"Segoe UI"};
constexpr FontSpec kCodeFont = {-56, FW_BOLD, FIXED_PITCH | FF_MODERN, L"Consolas"};

// The window owns the fonts and the parameters that carried them. The header and the hint use
// the text font, or a smaller cut of it where their line would not fit.
struct CreateParams {
  Win32PairingDialog* dialog;
  HFONT codeFont, textFont, headerFont, hintFont;

  ~CreateParams() {
    for (HFONT font : {codeFont, textFont, headerFont, hintFont})
      if (font)
        DeleteObject(font);
  }
};

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: {
      const auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      return 0;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == kCancelId)
        PostMessageW(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_CTLCOLORSTATIC:
      // Labels on the window's own colour rather than the grey of a dialog face.
      SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY: {
      auto* params = reinterpret_cast<CreateParams*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      delete params;
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      PostQuitMessage(0);
      return 0;
    }
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

// Registered once per process; every later dialog sees the same outcome.
bool RegisterDialogClass() {
  static const bool registered = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kClassName;
    if (RegisterClassW(&wc) == 0) {
      Log(channels::kPairDialog, kLogError, "RegisterClassW failed: %lu", GetLastError());
      return false;
    }
    return true;
  }();
  return registered;
}

void AddControl(HWND parent, const wchar_t* cls, int id, int x, int y, int w, int h, DWORD style,
                HFONT font, const std::wstring& text) {
  HWND control = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h,
                                 parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
  if (control != nullptr)
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

// The dialogs that exist now, so that an unload can close them. Never destroyed: a dialog may
// still go away during process exit.
struct OpenDialogs {
  std::mutex lock;
  std::set<Win32PairingDialog*> dialogs;  // guarded by lock
};

OpenDialogs& Open() {
  static OpenDialogs* open = new OpenDialogs;
  return *open;
}

}  // namespace

std::unique_ptr<IPairingDialog> CreatePairingDialog() {
  return std::make_unique<Win32PairingDialog>();
}

void CloseOpenPairingDialogs() {
  OpenDialogs& open = Open();
  std::lock_guard<std::mutex> lock(open.lock);
  for (Win32PairingDialog* dialog : open.dialogs)
    dialog->Close();
}

Win32PairingDialog::Win32PairingDialog() {
  OpenDialogs& open = Open();
  std::lock_guard<std::mutex> lock(open.lock);
  open.dialogs.insert(this);
}

Win32PairingDialog::~Win32PairingDialog() {
  {
    OpenDialogs& open = Open();
    std::lock_guard<std::mutex> lock(open.lock);
    open.dialogs.erase(this);
  }
  Close();
  if (thread_.joinable())
    thread_.join();
}

void Win32PairingDialog::Show(std::string code, std::string deviceName,
                              std::function<void()> onCancel) {
  // A dialog object shows once; a second thread here would end the host process.
  if (thread_.joinable()) {
    Log(channels::kPairDialog, kLogError, "pair dialog: Show called twice — ignored");
    return;
  }
  {
    std::lock_guard<std::mutex> lock(callbackLock_);
    onCancel_ = std::move(onCancel);
  }
  cancelReported_.store(false);
  closeRequested_.store(false);
  thread_ =
      std::thread(&Win32PairingDialog::UiThread, this, std::move(code), std::move(deviceName));
}

void Win32PairingDialog::Close() {
  {
    // Under the callback lock so a user cancel racing this Close either has its callback in hand
    // already or sees the flag and stays silent.
    std::lock_guard<std::mutex> lock(callbackLock_);
    if (closeRequested_.exchange(true))
      return;
  }
  if (HWND window = window_.load())
    PostMessageW(window, WM_CLOSE, 0, 0);
}

bool Win32PairingDialog::CreateDialogWindow(const std::string& code,
                                            const std::string& deviceName) {
  const std::wstring header = ToWide(PairingHeaderText(deviceName));
  auto* params = new CreateParams{this, CreateSpecFont(kCodeFont), CreateSpecFont(kTextFont),
                                  CreateFittingFont(kTextFont, header, kTextWidth, -12),
                                  CreateFittingFont(kTextFont, kHint, kTextWidth, -11)};
  const int x = (GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2;
  HWND window =
      CreateWindowExW(WS_EX_TOPMOST, kClassName, kTitle, WS_CAPTION | WS_SYSMENU, x, y, kWidth,
                      kHeight, nullptr, nullptr, GetModuleHandleW(nullptr), params);
  if (window == nullptr) {
    Log(channels::kPairDialog, kLogError, "CreateWindowExW failed: %lu", GetLastError());
    delete params;
    return false;
  }
  // A name too long even for the smaller font ends in an ellipsis rather than a second line.
  AddControl(window, L"STATIC", kHeaderId, 10, 20, kTextWidth, 24,
             SS_CENTER | SS_ENDELLIPSIS | SS_NOPREFIX, params->headerFont, header);
  AddControl(window, L"STATIC", kCodeId, 10, 60, kTextWidth, 80, SS_CENTER, params->codeFont,
             ToWide(SpacedCode(code)));
  AddControl(window, L"STATIC", kHintId, 10, 155, kTextWidth, 20, SS_CENTER, params->hintFont,
             kHint);
  AddControl(window, L"BUTTON", kCancelId, 160, 185, 100, 30, BS_PUSHBUTTON, params->textFont,
             L"Cancel");
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  window_.store(window);
  // A Close that came before the handle was published found no window to post to.
  if (closeRequested_.load())
    PostMessageW(window, WM_CLOSE, 0, 0);
  return true;
}

void Win32PairingDialog::UiThread(std::string code, std::string deviceName) {
  PrepareThreadForCrashes();
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const bool comStarted = com == S_OK || com == S_FALSE;
  static ThreadGuard guard(channels::kPairDialog, "pairing dialog");
  guard.Run([&] {
    // A phone that answered before the window exists needs no window (and building one, fonts
    // and all, would hold the handshake's wait for this thread).
    if (closeRequested_.load() || !RegisterDialogClass() || !CreateDialogWindow(code, deviceName))
      return;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    window_.store(nullptr);
    if (!closeRequested_.load())
      ReportCancel();
  });
  window_.store(nullptr);
  if (comStarted)
    CoUninitialize();
}

void Win32PairingDialog::ReportCancel() {
  if (cancelReported_.exchange(true))
    return;
  std::function<void()> callback;
  {
    std::lock_guard<std::mutex> lock(callbackLock_);
    if (closeRequested_.load())
      return;
    callback = onCancel_;
  }
  if (callback)
    callback();
}

}  // namespace Sorvane
