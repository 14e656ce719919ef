#include <algorithm>

#include "support/h264_bits.h"
#include "support/ipcm_h264.h"

namespace Sorvane::test {
namespace {

constexpr int kLog2MaxFrameNum = 8;
constexpr uint32_t kIpcmMbType = 25;  // I_PCM in an I slice
constexpr uint8_t kNalSps = 0x67;     // nal_ref_idc 3, type 7
constexpr uint8_t kNalPps = 0x68;     // nal_ref_idc 3, type 8
constexpr uint8_t kNalIdr = 0x65;     // nal_ref_idc 3, type 5
constexpr uint8_t kNalSlice = 0x41;   // nal_ref_idc 2, type 1

std::vector<uint8_t> Nal(uint8_t header, const std::vector<uint8_t>& rbsp) {
  std::vector<uint8_t> nal{header};
  const std::vector<uint8_t> payload = AddEmulationPrevention(rbsp);
  nal.insert(nal.end(), payload.begin(), payload.end());
  return nal;
}

void AppendWithStartCode(std::vector<uint8_t>* out, const std::vector<uint8_t>& nal) {
  static const uint8_t kStart[] = {0, 0, 0, 1};
  out->insert(out->end(), kStart, kStart + 4);
  out->insert(out->end(), nal.begin(), nal.end());
}

// BT.709 limited range, as the other encoders signal, and a stream that never reorders.
void WriteVui(BitWriter& bits) {
  bits.Bit(false);  // aspect_ratio_info_present_flag
  bits.Bit(false);  // overscan_info_present_flag
  bits.Bit(true);   // video_signal_type_present_flag
  bits.Bits(5, 3);  // video_format: unspecified
  bits.Bit(false);  // video_full_range_flag
  bits.Bit(true);   // colour_description_present_flag
  bits.Bits(1, 8);  // colour_primaries BT.709
  bits.Bits(1, 8);  // transfer_characteristics BT.709
  bits.Bits(1, 8);  // matrix_coefficients BT.709
  bits.Bit(false);  // chroma_loc_info_present_flag
  bits.Bit(false);  // timing_info_present_flag
  bits.Bit(false);  // nal_hrd_parameters_present_flag
  bits.Bit(false);  // vcl_hrd_parameters_present_flag
  bits.Bit(false);  // pic_struct_present_flag
  bits.Bit(true);   // bitstream_restriction_flag
  bits.Bit(true);   // motion_vectors_over_pic_boundaries_flag
  bits.Ue(0);       // max_bytes_per_pic_denom
  bits.Ue(0);       // max_bits_per_mb_denom
  bits.Ue(16);      // log2_max_mv_length_horizontal
  bits.Ue(16);      // log2_max_mv_length_vertical
  bits.Ue(0);       // max_num_reorder_frames
  bits.Ue(1);       // max_dec_frame_buffering
}

std::vector<uint8_t> BuildSps(int width, int height, int mbCols, int mbRows) {
  BitWriter bits;
  bits.Bits(66, 8);    // profile_idc: baseline
  bits.Bits(0xC0, 8);  // constraint_set0 and set1 (constrained baseline), reserved zeros
  bits.Bits(51, 8);    // level_idc 5.1: raw macroblocks need the bitrate
  bits.Ue(0);          // seq_parameter_set_id
  bits.Ue(kLog2MaxFrameNum - 4);
  bits.Ue(2);       // pic_order_cnt_type 2: output order is decode order
  bits.Ue(1);       // max_num_ref_frames
  bits.Bit(false);  // gaps_in_frame_num_value_allowed_flag
  bits.Ue(static_cast<uint32_t>(mbCols - 1));
  bits.Ue(static_cast<uint32_t>(mbRows - 1));
  bits.Bit(true);  // frame_mbs_only_flag
  bits.Bit(true);  // direct_8x8_inference_flag
  // Crop offsets count chroma samples (two luma samples each in 4:2:0).
  const int cropRight = (mbCols * 16 - width) / 2;
  const int cropBottom = (mbRows * 16 - height) / 2;
  const bool crop = cropRight > 0 || cropBottom > 0;
  bits.Bit(crop);
  if (crop) {
    bits.Ue(0);
    bits.Ue(static_cast<uint32_t>(cropRight));
    bits.Ue(0);
    bits.Ue(static_cast<uint32_t>(cropBottom));
  }
  bits.Bit(true);  // vui_parameters_present_flag
  WriteVui(bits);
  bits.TrailingBits();
  return Nal(kNalSps, bits.Bytes());
}

std::vector<uint8_t> BuildPps() {
  BitWriter bits;
  bits.Ue(0);       // pic_parameter_set_id
  bits.Ue(0);       // seq_parameter_set_id
  bits.Bit(false);  // entropy_coding_mode_flag: CAVLC
  bits.Bit(false);  // bottom_field_pic_order_in_frame_present_flag
  bits.Ue(0);       // num_slice_groups_minus1
  bits.Ue(0);       // num_ref_idx_l0_default_active_minus1
  bits.Ue(0);       // num_ref_idx_l1_default_active_minus1
  bits.Bit(false);  // weighted_pred_flag
  bits.Bits(0, 2);  // weighted_bipred_idc
  bits.Se(0);       // pic_init_qp_minus26
  bits.Se(0);       // pic_init_qs_minus26
  bits.Se(0);       // chroma_qp_index_offset
  bits.Bit(true);   // deblocking_filter_control_present_flag
  bits.Bit(false);  // constrained_intra_pred_flag
  bits.Bit(false);  // redundant_pic_cnt_present_flag
  bits.TrailingBits();
  return Nal(kNalPps, bits.Bytes());
}

// Sample (x, y) of a plane, with the last column and row repeated beyond the picture.
uint8_t LumaAt(const Nv12View& p, int x, int y) {
  x = std::min(x, p.width - 1);
  y = std::min(y, p.height - 1);
  return p.y[static_cast<size_t>(y) * p.yPitch + x];
}

uint8_t ChromaAt(const Nv12View& p, int cx, int cy, int component) {
  cx = std::min(cx, (p.width + 1) / 2 - 1);
  cy = std::min(cy, (p.height + 1) / 2 - 1);
  return p.uv[static_cast<size_t>(cy) * p.uvPitch + 2 * cx + component];
}

void WriteMacroblock(BitWriter& bits, const Nv12View& p, int mbX, int mbY) {
  bits.Ue(kIpcmMbType);
  bits.AlignWithZeros();  // pcm_alignment_zero_bit
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      bits.Byte(LumaAt(p, mbX * 16 + x, mbY * 16 + y));
  for (int component = 0; component < 2; ++component)
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x)
        bits.Byte(ChromaAt(p, mbX * 8 + x, mbY * 8 + y, component));
}

}  // namespace

Nv12Image::Nv12Image(int w, int h)
    : width(w),
      height(h),
      y(static_cast<size_t>(w) * h),
      uv(static_cast<size_t>(2 * ((w + 1) / 2)) * ((h + 1) / 2)) {}

Nv12View Nv12View::Of(const Nv12Image& image) {
  return Nv12View{image.width, image.height,    image.y.data(),
                  image.width, image.uv.data(), image.ChromaRowBytes()};
}

IpcmH264Writer::IpcmH264Writer(int width, int height)
    : width_(std::max(width, 1)),
      height_(std::max(height, 1)),
      mbCols_((width_ + 15) / 16),
      mbRows_((height_ + 15) / 16),
      sps_(BuildSps((width_ + 1) & ~1, (height_ + 1) & ~1, mbCols_, mbRows_)),
      pps_(BuildPps()) {}

std::vector<uint8_t> IpcmH264Writer::DecoderConfigurationRecord() const {
  std::vector<uint8_t> record{1,   sps_[1], sps_[2], sps_[3], 0xFF /* 4-byte lengths */,
                              0xE1 /* one SPS */};
  auto appendUnit = [&record](const std::vector<uint8_t>& unit) {
    record.push_back(static_cast<uint8_t>(unit.size() >> 8));
    record.push_back(static_cast<uint8_t>(unit.size()));
    record.insert(record.end(), unit.begin(), unit.end());
  };
  appendUnit(sps_);
  record.push_back(1);  // one PPS
  appendUnit(pps_);
  return record;
}

std::vector<uint8_t> IpcmH264Writer::AnnexBParameterSets() const {
  std::vector<uint8_t> out;
  AppendWithStartCode(&out, sps_);
  AppendWithStartCode(&out, pps_);
  return out;
}

std::vector<uint8_t> IpcmH264Writer::EncodePicture(const Nv12View& picture, bool idr) {
  // Without an IDR to start from, a decoder has nothing to refer the first picture to.
  idr = idr || !started_;
  std::vector<uint8_t> out;
  if (idr) {
    AppendWithStartCode(&out, sps_);
    AppendWithStartCode(&out, pps_);
  }
  AppendWithStartCode(&out, SliceNal(picture, idr));
  started_ = true;
  return out;
}

std::vector<uint8_t> IpcmH264Writer::SliceNal(const Nv12View& picture, bool idr) {
  if (idr)
    frameNum_ = 0;
  BitWriter bits;
  bits.Ue(0);  // first_mb_in_slice
  bits.Ue(7);  // slice_type: I, and every slice of the picture is I
  bits.Ue(0);  // pic_parameter_set_id
  bits.Bits(frameNum_, kLog2MaxFrameNum);
  if (idr) {
    bits.Ue(idrPicId_);
    idrPicId_ = (idrPicId_ + 1) % 2;  // consecutive IDR pictures differ
    bits.Bit(false);                  // no_output_of_prior_pics_flag
    bits.Bit(false);                  // long_term_reference_flag
  } else {
    bits.Bit(false);  // adaptive_ref_pic_marking_mode_flag
  }
  bits.Se(0);  // slice_qp_delta
  bits.Ue(1);  // disable_deblocking_filter_idc: raw samples stay untouched
  for (int mbY = 0; mbY < mbRows_; ++mbY)
    for (int mbX = 0; mbX < mbCols_; ++mbX)
      WriteMacroblock(bits, picture, mbX, mbY);
  bits.TrailingBits();
  frameNum_ = (frameNum_ + 1) % (1u << kLog2MaxFrameNum);
  return Nal(idr ? kNalIdr : kNalSlice, bits.Bytes());
}

}  // namespace Sorvane::test
