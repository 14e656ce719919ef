#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "base/thread_annotations.h"
#include "sv-receiver/app/video_decoder.h"

struct SwsContext;

namespace Sorvane::receiver {

// A decoded picture copied out of the decoder: planar 4:2:0, rows packed (luma stride = width,
// chroma stride = (width + 1) / 2).
struct PreviewPicture {
  int width = 0;
  int height = 0;
  bool hevc = false;
  std::vector<uint8_t> y, u, v;
  int ChromaWidth() const { return (width + 1) / 2; }
  int ChromaHeight() const { return (height + 1) / 2; }
};

// Hands the newest decoded picture from the decoding thread to the window's thread. The decoding
// thread copies into a buffer of its own and only swaps buffers under the lock, so it never waits
// for drawing; pictures the window has not taken yet are replaced by newer ones.
class PreviewMailbox {
 public:
  PreviewMailbox();
  ~PreviewMailbox();
  PreviewMailbox(const PreviewMailbox&) = delete;
  PreviewMailbox& operator=(const PreviewMailbox&) = delete;

  // Decoding thread. False when the picture could not be copied (unknown format).
  bool Offer(const DecodedPicture& picture);
  // Window thread: the newest picture not taken yet, or null. Valid until the next call.
  const PreviewPicture* TakeNewest();

 private:
  bool CopyInto(const DecodedPicture& picture, PreviewPicture& into);

  std::unique_ptr<PreviewPicture> back_;  // owned by the decoding thread
  SwsContext* converter_ = nullptr;       // owned by the decoding thread (non-4:2:0 pictures)
  std::mutex slotLock_;                   // guards only the hand-over slot
  std::unique_ptr<PreviewPicture> slot_ GUARDED_BY(slotLock_);
  bool fresh_ GUARDED_BY(slotLock_) = false;
  std::unique_ptr<PreviewPicture> front_;  // owned by the window thread
};

}  // namespace Sorvane::receiver
