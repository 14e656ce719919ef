#pragma once
#include <memory>
#include <string>

#include "sv-receiver/app/preview_mailbox.h"

struct SDL_Renderer;
struct SDL_Texture;
struct SDL_Window;

namespace Sorvane::receiver {

// The preview's SDL window: the newest picture scaled to fit (aspect kept), and a one-line
// overlay that `i` toggles. Everything here runs on the thread that opened it.
class PreviewWindow {
 public:
  // Null, with the reason in `why`, when there is no display to open a window on.
  static std::unique_ptr<PreviewWindow> Open(std::string* why);
  ~PreviewWindow();
  PreviewWindow(const PreviewWindow&) = delete;
  PreviewWindow& operator=(const PreviewWindow&) = delete;

  // Handles pending input; false once the viewer asked to end (Esc or closing the window).
  bool HandleEvents();
  // Shows `picture` from now on (null keeps the current one) with `status` as the overlay, and
  // redraws when anything changed.
  void Show(const PreviewPicture* picture, const std::string& status);

 private:
  PreviewWindow() = default;
  void Upload(const PreviewPicture& picture);
  void FitWindowTo(int width, int height);
  void Draw();
  void DrawOverlay();

  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  int pictureWidth_ = 0, pictureHeight_ = 0;
  bool sized_ = false;  // the window took the first picture's shape
  bool overlay_ = true;
  bool dirty_ = true;
  std::string status_;
};

}  // namespace Sorvane::receiver
