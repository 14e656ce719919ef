#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "base/thread_annotations.h"
#include "ui/pairing_dialog.h"

namespace Sorvane {

// The pairing code in a small always-on-top window with its own thread and message loop.
class Win32PairingDialog final : public IPairingDialog {
 public:
  Win32PairingDialog();
  ~Win32PairingDialog() override;
  void Show(std::string code, std::string deviceName, std::function<void()> onCancel) override;
  void Close() override;

  // The window while it exists (tests find its controls through it).
  HWND Window() const { return window_.load(); }

 private:
  void UiThread(std::string code, std::string deviceName);
  bool CreateDialogWindow(const std::string& code, const std::string& deviceName);
  void ReportCancel();

  std::thread thread_;
  std::atomic<HWND> window_{nullptr};
  std::atomic<bool> closeRequested_{false};
  std::mutex callbackLock_;
  std::function<void()> onCancel_ GUARDED_BY(callbackLock_);
  std::atomic<bool> cancelReported_{false};
};

}  // namespace Sorvane
