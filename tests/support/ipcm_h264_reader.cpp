#include <algorithm>

#include "support/h264_bits.h"
#include "support/ipcm_h264.h"

namespace Sorvane::test {
namespace {

constexpr uint32_t kIpcmMbType = 25;

bool SkipVui(BitReader& bits) {
  uint32_t flag = 0, value = 0;
  bits.Bits(1, &flag);  // aspect_ratio_info_present_flag
  if (flag) {
    bits.Bits(8, &value);
    if (value == 255)
      bits.Bits(32, &value);  // sar width and height
  }
  bits.Bits(1, &flag);  // overscan_info_present_flag
  if (flag)
    bits.Bits(1, &value);
  bits.Bits(1, &flag);  // video_signal_type_present_flag
  if (flag) {
    bits.Bits(4, &value);
    bits.Bits(1, &flag);
    if (flag)
      bits.Bits(24, &value);
  }
  bits.Bits(1, &flag);  // chroma_loc_info_present_flag
  if (flag) {
    bits.Ue(&value);
    bits.Ue(&value);
  }
  bits.Bits(1, &flag);  // timing_info_present_flag
  if (flag) {
    bits.Bits(32, &value);
    bits.Bits(32, &value);
    bits.Bits(1, &value);
  }
  uint32_t nalHrd = 0, vclHrd = 0;
  bits.Bits(1, &nalHrd);
  bits.Bits(1, &vclHrd);
  // The writer never emits HRD parameters; a stream that has them is not ours.
  return nalHrd == 0 && vclHrd == 0;
}

}  // namespace

std::vector<std::vector<uint8_t>> SplitAnnexB(const uint8_t* data, size_t size) {
  std::vector<std::vector<uint8_t>> units;
  size_t i = 0;
  size_t unitStart = SIZE_MAX;
  auto close = [&](size_t end) {
    if (unitStart == SIZE_MAX)
      return;
    // Trailing zeros belong to the next start code.
    while (end > unitStart && data[end - 1] == 0)
      --end;
    if (end > unitStart)
      units.emplace_back(data + unitStart, data + end);
  };
  while (i + 3 <= size) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
      close(i);
      i += 3;
      unitStart = i;
    } else {
      ++i;
    }
  }
  close(size);
  return units;
}

bool IpcmH264Reader::Fail(const std::string& why) {
  error_ = why;
  return false;
}

bool IpcmH264Reader::ReadSps(const std::vector<uint8_t>& rbsp) {
  BitReader bits(rbsp.data(), rbsp.size());
  uint32_t profile = 0, constraints = 0, level = 0, id = 0, log2FrameNum = 0, pocType = 0;
  bits.Bits(8, &profile);
  bits.Bits(8, &constraints);
  bits.Bits(8, &level);
  bits.Ue(&id);
  if (profile != 66)
    return Fail("SPS: profile " + std::to_string(profile) + " is not baseline");
  bits.Ue(&log2FrameNum);
  bits.Ue(&pocType);
  if (pocType != 2)
    return Fail("SPS: pic_order_cnt_type " + std::to_string(pocType));
  uint32_t refFrames = 0, gaps = 0, widthMbs = 0, heightMaps = 0, frameMbsOnly = 0, direct = 0;
  bits.Ue(&refFrames);
  bits.Bits(1, &gaps);
  bits.Ue(&widthMbs);
  bits.Ue(&heightMaps);
  bits.Bits(1, &frameMbsOnly);
  bits.Bits(1, &direct);
  if (!frameMbsOnly)
    return Fail("SPS: interlaced coding");
  if (widthMbs >= 1024 || heightMaps >= 1024)
    return Fail("SPS: picture larger than 16384 samples");
  SequenceInfo info;
  info.mbCols = static_cast<int>(widthMbs) + 1;
  info.mbRows = static_cast<int>(heightMaps) + 1;
  info.log2MaxFrameNum = static_cast<int>(log2FrameNum) + 4;
  uint32_t crop = 0;
  bits.Bits(1, &crop);
  if (crop) {
    uint32_t left = 0, right = 0, top = 0, bottom = 0;
    bits.Ue(&left);
    bits.Ue(&right);
    bits.Ue(&top);
    if (!bits.Ue(&bottom))
      return Fail("SPS: truncated");
    if (left != 0 || top != 0)
      return Fail("SPS: cropping on the left or top");
    info.cropRight = static_cast<int>(2 * right);
    info.cropBottom = static_cast<int>(2 * bottom);
    if (info.cropRight >= info.mbCols * 16 || info.cropBottom >= info.mbRows * 16)
      return Fail("SPS: cropping removes the whole picture");
  }
  uint32_t vui = 0;
  bits.Bits(1, &vui);
  if (vui && !SkipVui(bits))
    return Fail("SPS: HRD parameters");
  if (bits.BitsLeft() == 0)
    return Fail("SPS: truncated");
  sps_ = info;
  return true;
}

bool IpcmH264Reader::ReadPps(const std::vector<uint8_t>& rbsp) {
  BitReader bits(rbsp.data(), rbsp.size());
  uint32_t ppsId = 0, spsId = 0, cabac = 0, bottomField = 0, sliceGroups = 0;
  bits.Ue(&ppsId);
  bits.Ue(&spsId);
  bits.Bits(1, &cabac);
  bits.Bits(1, &bottomField);
  if (!bits.Ue(&sliceGroups))
    return Fail("PPS: truncated");
  if (cabac)
    return Fail("PPS: CABAC");
  if (sliceGroups != 0)
    return Fail("PPS: slice groups");
  uint32_t value = 0;
  int32_t signedValue = 0;
  bits.Ue(&value);
  bits.Ue(&value);
  bits.Bits(1, &value);
  bits.Bits(2, &value);
  bits.Se(&signedValue);
  bits.Se(&signedValue);
  bits.Se(&signedValue);
  uint32_t deblockingControl = 0, constrainedIntra = 0, redundant = 0;
  bits.Bits(1, &deblockingControl);
  bits.Bits(1, &constrainedIntra);
  if (!bits.Bits(1, &redundant))
    return Fail("PPS: truncated");
  if (!deblockingControl || redundant)
    return Fail("PPS: deblocking not controllable or redundant pictures");
  havePps_ = true;
  return true;
}

std::optional<Nv12Image> IpcmH264Reader::ReadSlice(const std::vector<uint8_t>& rbsp, bool idr,
                                                   IpcmPictureInfo* info) {
  if (!sps_ || !havePps_) {
    Fail("slice before SPS and PPS");
    return std::nullopt;
  }
  const SequenceInfo& seq = *sps_;
  BitReader bits(rbsp.data(), rbsp.size());
  uint32_t firstMb = 0, sliceType = 0, ppsId = 0, frameNum = 0, value = 0;
  bits.Ue(&firstMb);
  bits.Ue(&sliceType);
  bits.Ue(&ppsId);
  bits.Bits(seq.log2MaxFrameNum, &frameNum);
  if (firstMb != 0 || (sliceType % 5) != 2) {
    Fail("slice: not one intra slice for the whole picture");
    return std::nullopt;
  }
  if (idr) {
    bits.Ue(&value);       // idr_pic_id
    bits.Bits(2, &value);  // no_output_of_prior_pics_flag, long_term_reference_flag
  } else {
    bits.Bits(1, &value);  // adaptive_ref_pic_marking_mode_flag
    if (value) {
      Fail("slice: adaptive reference marking");
      return std::nullopt;
    }
  }
  int32_t qpDelta = 0;
  uint32_t deblocking = 0;
  bits.Se(&qpDelta);
  bits.Ue(&deblocking);
  if (deblocking != 1) {
    Fail("slice: deblocking enabled");
    return std::nullopt;
  }
  const int codedW = seq.mbCols * 16;
  const int codedH = seq.mbRows * 16;
  std::vector<uint8_t> luma(static_cast<size_t>(codedW) * codedH);
  std::vector<uint8_t> chroma(static_cast<size_t>(codedW) * codedH / 2);  // NV12, pitch codedW
  for (int mbY = 0; mbY < seq.mbRows; ++mbY) {
    for (int mbX = 0; mbX < seq.mbCols; ++mbX) {
      uint32_t mbType = 0;
      if (!bits.Ue(&mbType) || mbType != kIpcmMbType) {
        Fail("macroblock " + std::to_string(mbY * seq.mbCols + mbX) + ": not I_PCM");
        return std::nullopt;
      }
      if (!bits.SkipToByteBoundary() || bits.BitsLeft() < 384 * 8) {
        Fail("macroblock " + std::to_string(mbY * seq.mbCols + mbX) + ": truncated");
        return std::nullopt;
      }
      const uint8_t* samples = rbsp.data() + bits.BytePosition();
      for (int y = 0; y < 16; ++y)
        std::copy_n(samples + 16 * y, 16,
                    &luma[static_cast<size_t>(mbY * 16 + y) * codedW + mbX * 16]);
      for (int component = 0; component < 2; ++component)
        for (int y = 0; y < 8; ++y)
          for (int x = 0; x < 8; ++x)
            chroma[static_cast<size_t>(mbY * 8 + y) * codedW + 2 * (mbX * 8 + x) + component] =
                samples[256 + component * 64 + 8 * y + x];
      uint32_t skip = 0;
      for (int n = 0; n < 384; ++n)
        bits.Bits(8, &skip);
    }
  }
  if (!bits.AtTrailingBits()) {
    Fail("slice: data after the last macroblock");
    return std::nullopt;
  }
  Nv12Image image(codedW - seq.cropRight, codedH - seq.cropBottom);
  for (int y = 0; y < image.height; ++y)
    std::copy_n(&luma[static_cast<size_t>(y) * codedW], image.width,
                &image.y[static_cast<size_t>(y) * image.width]);
  for (int y = 0; y < image.ChromaRows(); ++y)
    std::copy_n(&chroma[static_cast<size_t>(y) * codedW], image.ChromaRowBytes(),
                &image.uv[static_cast<size_t>(y) * image.ChromaRowBytes()]);
  if (info) {
    info->idr = idr;
    info->frameNum = frameNum;
  }
  return image;
}

std::optional<Nv12Image> IpcmH264Reader::DecodeAccessUnit(const uint8_t* data, size_t size,
                                                          IpcmPictureInfo* info) {
  error_.clear();
  IpcmPictureInfo local;
  std::optional<Nv12Image> picture;
  for (const std::vector<uint8_t>& nal : SplitAnnexB(data, size)) {
    const int type = nal[0] & 0x1F;
    const std::vector<uint8_t> rbsp = RemoveEmulationPrevention(nal.data() + 1, nal.size() - 1);
    if (type == 7) {
      if (!ReadSps(rbsp))
        return std::nullopt;
      local.hadParameterSets = true;
    } else if (type == 8) {
      if (!ReadPps(rbsp))
        return std::nullopt;
    } else if (type == 5 || type == 1) {
      if (picture) {
        Fail("more than one picture in the access unit");
        return std::nullopt;
      }
      picture = ReadSlice(rbsp, type == 5, &local);
      if (!picture)
        return std::nullopt;
    } else if (type != 9 && type != 6) {  // access unit delimiters and SEI are harmless
      Fail("unexpected NAL unit type " + std::to_string(type));
      return std::nullopt;
    }
  }
  if (!picture) {
    Fail("no picture in the access unit");
    return std::nullopt;
  }
  if (info)
    *info = local;
  return picture;
}

}  // namespace Sorvane::test
