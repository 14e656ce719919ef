#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace Sorvane::hostsim {

// The pictures and sound of a video file, decoded in order and started over at the end, in the
// forms the host pushes: BGRA pictures and planar float audio at 48 kHz stereo.
class FileSource {
 public:
  struct Info {
    int width = 0;  // of the pictures NextPicture writes
    int height = 0;
    double fps = 0;  // the file's own frame rate
    bool hasAudio = false;
    std::string description;  // container, codecs and native size, for the log
  };

  virtual ~FileSource() = default;

  // Opens the file and decodes its first picture. width/height 0 keep the file's own size.
  // nullptr with `error` set when the file cannot be opened or holds no decodable video.
  static std::unique_ptr<FileSource> Open(const std::string& path, int width, int height,
                                          std::string* error);

  virtual const Info& info() const = 0;
  // Writes the next picture (info().width x info().height) into `bgra`. A picture that fails to
  // decode is replaced by the previous one, so the push rate never stalls.
  virtual void NextPicture(uint8_t* bgra, int rowBytes) = 0;
  // Moves past the next picture without converting it (cheaper than NextPicture).
  virtual void SkipPicture() = 0;
  // The next `frames` samples of both channels; valid until the next call. Silence once the
  // sound cannot be decoded any further.
  virtual float** NextAudio(uint32_t frames) = 0;
  // Pictures that repeated the previous one because decoding failed.
  virtual uint64_t repeatedPictures() const = 0;
};

constexpr uint32_t kSourceSampleRate = 48000;
constexpr uint32_t kSourceChannels = 2;

}  // namespace Sorvane::hostsim
