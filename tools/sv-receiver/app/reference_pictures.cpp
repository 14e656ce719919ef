#include "sv-receiver/app/reference_pictures.h"

namespace Sorvane::receiver {

bool ReferencePictures::Draw(const hostsim::SceneStamp& stamp, int width, int height,
                             uint8_t* bgra) {
  if (failed_)
    return false;
  if (!source_ || source_->info().width != width || source_->info().height != height) {
    std::string error;
    source_ = hostsim::FileSource::Open(path_, width, height, &error);
    nextIndex_ = 0;
    if (!source_) {
      failed_ = true;
      return false;
    }
  }
  if (stamp.frameIndex < nextIndex_)
    return false;
  // The host numbers its frames from 0 and takes one picture per frame.
  for (; nextIndex_ < stamp.frameIndex; ++nextIndex_)
    source_->SkipPicture();
  source_->NextPicture(bgra, width * 4);
  ++nextIndex_;
  hostsim::DrawSceneStamp(bgra, width, height, width * 4, stamp);
  return true;
}

}  // namespace Sorvane::receiver
