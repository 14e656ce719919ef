#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "ui/pairing_dialog.h"

namespace Sorvane::test {

// Remembers what the transport showed and lets a test press Cancel.
struct DialogSpy {
  std::mutex lock;
  std::string code, name;
  std::function<void()> onCancel;
  int shown = 0;
  int destroyed = 0;  // dialogs the transport let go of (their windows closed)
};

class SpyDialog final : public IPairingDialog {
 public:
  explicit SpyDialog(DialogSpy& spy) : spy_(spy) {}
  ~SpyDialog() override {
    std::lock_guard<std::mutex> lock(spy_.lock);
    ++spy_.destroyed;
  }
  void Show(std::string code, std::string name, std::function<void()> onCancel) override {
    std::lock_guard<std::mutex> lock(spy_.lock);
    spy_.code = code;
    spy_.name = name;
    spy_.onCancel = std::move(onCancel);
    ++spy_.shown;
  }
  void Close() override {}

 private:
  DialogSpy& spy_;
};

}  // namespace Sorvane::test
