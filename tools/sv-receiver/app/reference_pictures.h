#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "sv-host/file_source.h"
#include "sv-host/test_scene.h"

namespace Sorvane::receiver {

// The pictures the host pushed from a video file, rebuilt on the receiving side: the same file
// read in the same order gives frame N as the N-th picture (with the stamp strip drawn over it).
// Frames only move forward; an index already passed cannot be rebuilt.
class ReferencePictures {
 public:
  explicit ReferencePictures(std::string path) : path_(std::move(path)) {}
  // Writes the picture of `stamp`'s frame at width x height (tightly packed BGRA); false when the
  // file cannot be read at that size or the frame has gone by.
  bool Draw(const hostsim::SceneStamp& stamp, int width, int height, uint8_t* bgra);

 private:
  std::string path_;
  std::unique_ptr<hostsim::FileSource> source_;
  bool failed_ = false;
  uint32_t nextIndex_ = 0;
};

}  // namespace Sorvane::receiver
