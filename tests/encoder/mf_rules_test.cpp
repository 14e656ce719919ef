#include <gtest/gtest.h>

#include "encoder/adapter_choice.h"
#include "encoder/mf_codec_properties.h"
#include "encoder/mf_status_text.h"

namespace Sorvane {
namespace {

TEST(StatusText, NamedCodesCarryTheirNumberAndOthersPrintAsLowerCaseHex) {
  EXPECT_EQ(StatusText(0xC00D6D72), "MF_E_TRANSFORM_NEED_MORE_INPUT (0xc00d6d72)");
  EXPECT_EQ(StatusText(0), "S_OK (0x00000000)");
  EXPECT_EQ(StatusText(0x80070057), "E_INVALIDARG (0x80070057)");
  EXPECT_EQ(StatusText(0x887A0005), "0x887a0005");  // device removed has no name here
}

uint64_t ValueOf(const std::vector<CodecPropertyValue>& values, CodecProperty property) {
  for (const CodecPropertyValue& value : values) {
    if (value.property == property)
      return value.value;
  }
  ADD_FAILURE() << "property missing";
  return 0;
}

TEST(InitialCodecProperties, OrderModesPeakAndQuality) {
  RateSettings rates;
  rates.bitrate = 8'000'000;
  rates.gopFrames = 60;
  const auto cbr = InitialCodecProperties(rates);
  ASSERT_EQ(cbr.size(), 8u);
  EXPECT_EQ(cbr.front().property, CodecProperty::LowLatencyMode);
  EXPECT_EQ(cbr.back().property, CodecProperty::BPictureCount);
  EXPECT_EQ(cbr.back().value, 0u);
  EXPECT_EQ(ValueOf(cbr, CodecProperty::RateControlMode), 0u);
  EXPECT_EQ(ValueOf(cbr, CodecProperty::MaxBitRate), 10'400'000u);  // 1.3 × mean
  EXPECT_EQ(ValueOf(cbr, CodecProperty::Quality), 75u);
  EXPECT_EQ(ValueOf(cbr, CodecProperty::GopSize), 60u);

  rates.mode = RateControlMode::VBR;
  rates.peakBitrate = 12'000'000;
  const auto vbr = InitialCodecProperties(rates);
  EXPECT_EQ(ValueOf(vbr, CodecProperty::RateControlMode), 1u);
  EXPECT_EQ(ValueOf(vbr, CodecProperty::MaxBitRate), 12'000'000u);
  rates.peakBitrate = 5'000'000;  // below the mean: not a usable peak
  EXPECT_EQ(ValueOf(InitialCodecProperties(rates), CodecProperty::MaxBitRate), 10'400'000u);

  // The 64-bit intermediate: 4 Gbit/s × 13 would overflow 32 bits.
  rates.mode = RateControlMode::Bitrate;
  rates.bitrate = 4'000'000'000u;
  EXPECT_EQ(ValueOf(InitialCodecProperties(rates), CodecProperty::MaxBitRate),
            static_cast<uint32_t>(4'000'000'000ull * 13 / 10));

  EXPECT_EQ(TransformRateControlMode(RateControlMode::Quality), 3u);
  EXPECT_EQ(TransformRateControlMode(static_cast<RateControlMode>(7)), 0u);
  EXPECT_EQ(QualityPercent(0.999f), 99u);
  EXPECT_EQ(QualityPercent(1.7f), 100u);
  EXPECT_EQ(QualityPercent(-0.5f), 0u);
}

TEST(AdapterChoice, NvidiaFirstThenMostMemoryAndTheFirstOfEquals) {
  EXPECT_EQ(ChooseAdapter({}), -1);
  EXPECT_EQ(ChooseAdapter({{true, true, 0x1414, 0}}), -1);  // software only
  EXPECT_EQ(ChooseAdapter({{true, false, 0x8086, 8u << 30}, {true, false, 0x10DE, 1u << 30}}), 1);
  EXPECT_EQ(ChooseAdapter({{true, false, 0x10DE, 4u << 30}, {true, false, 0x8086, 16u << 30}}), 0);
  EXPECT_EQ(ChooseAdapter({{true, false, 0x1002, 2u << 30}, {true, false, 0x8086, 2u << 30}}), 0);
  EXPECT_EQ(ChooseAdapter({{false, false, 0x10DE, 8u << 30}, {true, false, 0x8086, 1u << 30}}), 1);
  EXPECT_EQ(ChooseAdapter({{true, false, 0x1002, 1u << 30}, {true, false, 0x8086, 2u << 30}}), 1);
}

TEST(VendorFromId, UpperCasedSubstringInTableOrder) {
  EXPECT_EQ(VendorFromId("VEN_10de&DEV_2684"), EncoderVendor::Nvidia);
  EXPECT_EQ(VendorFromId("ven_8086&dev_a780"), EncoderVendor::Intel);
  EXPECT_EQ(VendorFromId("VEN_1002"), EncoderVendor::Amd);
  EXPECT_EQ(VendorFromId("VEN_5143"), EncoderVendor::Other);
  EXPECT_EQ(VendorFromId(""), EncoderVendor::None);
}

}  // namespace
}  // namespace Sorvane
