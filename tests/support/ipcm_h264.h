#pragma once
// A lossless H.264 stream for tests: every macroblock is I_PCM (its samples stored raw), baseline
// profile, CAVLC, one slice a picture. Any conforming decoder rebuilds exactly the NV12 picture
// that was written, so a test can check an encoder path bit for bit.
//
//   IpcmH264Writer writer(480, 270);
//   std::vector<uint8_t> au = writer.EncodePicture(Nv12View::Of(image), /*idr=*/true);
//   IpcmH264Reader reader;
//   std::optional<Nv12Image> back = reader.DecodeAccessUnit(au.data(), au.size());
//
// Sizes that are not a multiple of 16 are cropped in the SPS. 4:2:0 crops in steps of two, so an
// odd width or height is written one sample larger (the last column or row repeated) and reads
// back at that even size.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Sorvane::test {

// NV12 with the chroma plane sized for odd dimensions: ceil(H/2) rows of 2 × ceil(W/2) bytes.
struct Nv12Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> y;   // width × height
  std::vector<uint8_t> uv;  // ChromaRowBytes() × ChromaRows()

  Nv12Image() = default;
  Nv12Image(int w, int h);
  int ChromaRowBytes() const { return 2 * ((width + 1) / 2); }
  int ChromaRows() const { return (height + 1) / 2; }
  bool operator==(const Nv12Image&) const = default;
};

// A picture somewhere in memory, with any row pitches.
struct Nv12View {
  int width = 0;
  int height = 0;
  const uint8_t* y = nullptr;
  int yPitch = 0;
  const uint8_t* uv = nullptr;
  int uvPitch = 0;

  static Nv12View Of(const Nv12Image& image);
};

class IpcmH264Writer {
 public:
  IpcmH264Writer(int width, int height);

  int Width() const { return width_; }
  int Height() const { return height_; }

  // SPS and PPS NAL units without start codes (what an avcC record carries).
  const std::vector<uint8_t>& Sps() const { return sps_; }
  const std::vector<uint8_t>& Pps() const { return pps_; }
  // The AVC decoder configuration record: what MF_MT_MPEG_SEQUENCE_HEADER holds.
  std::vector<uint8_t> DecoderConfigurationRecord() const;
  // 00 00 00 01 SPS 00 00 00 01 PPS.
  std::vector<uint8_t> AnnexBParameterSets() const;

  // One access unit in Annex B form. An IDR picture carries SPS and PPS in front and restarts
  // frame numbering; otherwise a non-IDR intra slice follows the previous picture.
  std::vector<uint8_t> EncodePicture(const Nv12View& picture, bool idr);

 private:
  std::vector<uint8_t> SliceNal(const Nv12View& picture, bool idr);

  int width_;
  int height_;
  int mbCols_;
  int mbRows_;
  std::vector<uint8_t> sps_;
  std::vector<uint8_t> pps_;
  unsigned frameNum_ = 0;
  unsigned idrPicId_ = 0;
  bool started_ = false;
};

// What the reader learned about one access unit besides its picture.
struct IpcmPictureInfo {
  bool idr = false;
  bool hadParameterSets = false;
  unsigned frameNum = 0;
};

// Reads the streams IpcmH264Writer produces (and nothing wider: it refuses other syntax with a
// reason instead of guessing).
class IpcmH264Reader {
 public:
  // The picture of one Annex B access unit; nullopt with Error() set when the unit is not one.
  std::optional<Nv12Image> DecodeAccessUnit(const uint8_t* data, size_t size,
                                            IpcmPictureInfo* info = nullptr);
  const std::string& Error() const { return error_; }

 private:
  struct SequenceInfo {
    int mbCols = 0;
    int mbRows = 0;
    int cropRight = 0;   // in luma samples
    int cropBottom = 0;  // in luma samples
    int log2MaxFrameNum = 4;
  };
  bool ReadSps(const std::vector<uint8_t>& rbsp);
  bool ReadPps(const std::vector<uint8_t>& rbsp);
  std::optional<Nv12Image> ReadSlice(const std::vector<uint8_t>& rbsp, bool idr,
                                     IpcmPictureInfo* info);
  bool Fail(const std::string& why);

  std::optional<SequenceInfo> sps_;
  bool havePps_ = false;
  std::string error_;
};

// Splits Annex B bytes into NAL units (start codes removed, emulation bytes kept).
std::vector<std::vector<uint8_t>> SplitAnnexB(const uint8_t* data, size_t size);

}  // namespace Sorvane::test
