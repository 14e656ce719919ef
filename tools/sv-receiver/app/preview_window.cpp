#include "sv-receiver/app/preview_window.h"

#include <SDL.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sv-receiver/app/bitmap_font.h"

namespace Sorvane::receiver {
namespace {

constexpr int kOverlayScale = 2;
constexpr int kOverlayPadding = 6;
constexpr double kLargestScreenShare = 0.9;

// The largest rectangle of the picture's shape inside `width` × `height`, centred.
SDL_Rect FitInside(int pictureWidth, int pictureHeight, int width, int height) {
  const double scale = std::min(static_cast<double>(width) / pictureWidth,
                                static_cast<double>(height) / pictureHeight);
  const int w = std::max(1, static_cast<int>(pictureWidth * scale + 0.5));
  const int h = std::max(1, static_cast<int>(pictureHeight * scale + 0.5));
  return SDL_Rect{(width - w) / 2, (height - h) / 2, w, h};
}

bool Named(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

// Without a display SDL falls back to drawing off screen, which shows nobody anything; that
// driver counts only when asked for by name.
bool ShowsAnything(const char* driver) {
  return Named("SDL_VIDEODRIVER") || (driver != nullptr && std::strcmp(driver, "offscreen") != 0 &&
                                      std::strcmp(driver, "dummy") != 0);
}

}  // namespace

std::unique_ptr<PreviewWindow> PreviewWindow::Open(std::string* why) {
  if (!Named("DISPLAY") && !Named("WAYLAND_DISPLAY") && !Named("SDL_VIDEODRIVER")) {
    *why = "neither DISPLAY nor WAYLAND_DISPLAY is set";
    return nullptr;
  }
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    *why = SDL_GetError();
    return nullptr;
  }
  if (!ShowsAnything(SDL_GetCurrentVideoDriver())) {
    *why = std::string("only the ") + SDL_GetCurrentVideoDriver() + " video driver is available";
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return nullptr;
  }
  std::unique_ptr<PreviewWindow> preview(new PreviewWindow());
  preview->window_ = SDL_CreateWindow("sv-receiver preview", SDL_WINDOWPOS_CENTERED,
                                      SDL_WINDOWPOS_CENTERED, 960, 540, SDL_WINDOW_RESIZABLE);
  if (preview->window_ != nullptr) {
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
    preview->renderer_ = SDL_CreateRenderer(preview->window_, -1, 0);
    if (preview->renderer_ == nullptr)
      preview->renderer_ = SDL_CreateRenderer(preview->window_, -1, SDL_RENDERER_SOFTWARE);
  }
  if (preview->renderer_ == nullptr) {
    *why = SDL_GetError();
    return nullptr;
  }
  return preview;
}

PreviewWindow::~PreviewWindow() {
  if (texture_ != nullptr)
    SDL_DestroyTexture(texture_);
  if (renderer_ != nullptr)
    SDL_DestroyRenderer(renderer_);
  if (window_ != nullptr)
    SDL_DestroyWindow(window_);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

bool PreviewWindow::HandleEvents() {
  SDL_Event event;
  bool keepGoing = true;
  while (SDL_PollEvent(&event) != 0) {
    switch (event.type) {
      case SDL_QUIT:
        keepGoing = false;
        break;
      case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE)
          keepGoing = false;
        dirty_ = true;  // exposed, resized, shown: draw again
        break;
      case SDL_KEYDOWN:
        if (event.key.keysym.sym == SDLK_ESCAPE) {
          keepGoing = false;
        } else if (event.key.keysym.sym == SDLK_i && event.key.repeat == 0) {
          overlay_ = !overlay_;
          dirty_ = true;
        }
        break;
      default:
        break;
    }
  }
  return keepGoing;
}

void PreviewWindow::Show(const PreviewPicture* picture, const std::string& status) {
  if (picture != nullptr) {
    Upload(*picture);
    dirty_ = true;
  }
  if (status != status_) {
    status_ = status;
    dirty_ = dirty_ || overlay_;
  }
  if (dirty_)
    Draw();
  dirty_ = false;
}

void PreviewWindow::Upload(const PreviewPicture& picture) {
  if (texture_ == nullptr || picture.width != pictureWidth_ || picture.height != pictureHeight_) {
    if (texture_ != nullptr)
      SDL_DestroyTexture(texture_);
    texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_IYUV, SDL_TEXTUREACCESS_STREAMING,
                                 picture.width, picture.height);
    pictureWidth_ = picture.width;
    pictureHeight_ = picture.height;
    if (!sized_)
      FitWindowTo(picture.width, picture.height);
  }
  if (texture_ != nullptr) {
    SDL_UpdateYUVTexture(texture_, nullptr, picture.y.data(), picture.width, picture.u.data(),
                         picture.ChromaWidth(), picture.v.data(), picture.ChromaWidth());
  }
}

// The first picture sets the window's shape: its own size, or less to fit the screen.
void PreviewWindow::FitWindowTo(int width, int height) {
  sized_ = true;
  SDL_Rect screen{0, 0, width, height};
  if (SDL_GetDisplayUsableBounds(std::max(0, SDL_GetWindowDisplayIndex(window_)), &screen) != 0)
    screen = SDL_Rect{0, 0, width, height};
  const SDL_Rect fit =
      FitInside(width, height, std::min(width, static_cast<int>(screen.w * kLargestScreenShare)),
                std::min(height, static_cast<int>(screen.h * kLargestScreenShare)));
  SDL_SetWindowSize(window_, fit.w, fit.h);
  SDL_SetWindowPosition(window_, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
}

void PreviewWindow::Draw() {
  SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
  SDL_RenderClear(renderer_);
  int width = 0, height = 0;
  SDL_GetRendererOutputSize(renderer_, &width, &height);
  if (texture_ != nullptr && width > 0 && height > 0) {
    const SDL_Rect target = FitInside(pictureWidth_, pictureHeight_, width, height);
    SDL_RenderCopy(renderer_, texture_, nullptr, &target);
  }
  if (overlay_)
    DrawOverlay();
  SDL_RenderPresent(renderer_);
}

void PreviewWindow::DrawOverlay() {
  const SDL_Rect bar{0, 0, TextWidth(status_) * kOverlayScale + 2 * kOverlayPadding,
                     kGlyphHeight * kOverlayScale + 2 * kOverlayPadding};
  SDL_SetRenderDrawBlendMode(renderer_, SDL_BLENDMODE_BLEND);
  SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 225);
  SDL_RenderFillRect(renderer_, &bar);
  std::vector<SDL_Rect> pixels;
  ForEachLitPixel(status_, [&pixels](int x, int y) {
    pixels.push_back(SDL_Rect{kOverlayPadding + x * kOverlayScale,
                              kOverlayPadding + y * kOverlayScale, kOverlayScale, kOverlayScale});
  });
  SDL_SetRenderDrawColor(renderer_, 255, 255, 255, 255);
  SDL_RenderFillRects(renderer_, pixels.data(), static_cast<int>(pixels.size()));
  SDL_SetRenderDrawBlendMode(renderer_, SDL_BLENDMODE_NONE);
}

}  // namespace Sorvane::receiver
