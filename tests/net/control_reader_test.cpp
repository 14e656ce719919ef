#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/control_reader.h"
#include "net/wire_opcodes.h"

namespace Sorvane::wire {
namespace {

ControlReadResult ReadClient(const std::vector<uint8_t>& bytes) {
  BufferByteSource source(bytes.data(), bytes.size());
  return ReadClientMessage(source);
}

TEST(ControlFraming, FixedPayloadsHaveTheTableSizes) {
  const std::vector<std::pair<uint8_t, size_t>> sizes = {
      {0x01, 0},  {0x02, 4}, {0x03, 24}, {0x04, 1},  {0x05, 1}, {0x07, 2}, {0x08, 2},
      {0x0A, 4},  {0x0B, 4}, {0x0C, 1},  {0x0E, 32}, {0x10, 1}, {0x11, 1}, {0x12, 2},
      {0x14, 10}, {0x15, 1}, {0x19, 1},  {0x20, 0},  {0x29, 0}};
  for (const auto& [opcode, size] : sizes) {
    std::vector<uint8_t> bytes(1 + size + 3, 0xEE);
    bytes[0] = opcode;
    BufferByteSource source(bytes.data(), bytes.size());
    const ControlReadResult result = ReadClientMessage(source);
    ASSERT_EQ(result.status, ControlReadStatus::kMessage) << int(opcode);
    EXPECT_EQ(result.payload.size(), size) << int(opcode);
    EXPECT_EQ(source.remaining(), 3u) << "the next message starts right after";
  }
}

TEST(ControlFraming, VariableFormsIncludeTheirLengthBytes) {
  // SetEncoderEngine with n = 0 is the two-byte legacy form.
  auto legacy = ReadClient({0x13, 0x00});
  ASSERT_EQ(legacy.status, ControlReadStatus::kMessage);
  EXPECT_EQ(legacy.payload, std::vector<uint8_t>({0x00}));

  auto engine = ReadClient({0x13, 3, 'a', 'm', 'd'});
  EXPECT_EQ(engine.payload, std::vector<uint8_t>({3, 'a', 'm', 'd'}));

  // AppSettingsSnapshot with n = 0 is exactly 7 bytes on the wire.
  std::vector<uint8_t> snapshot = {0x18, 0xE0, 0x01, 1, 1, 1, 0};
  snapshot.push_back(0x01);  // next message
  BufferByteSource source(snapshot.data(), snapshot.size());
  auto result = ReadClientMessage(source);
  ASSERT_EQ(result.status, ControlReadStatus::kMessage);
  EXPECT_EQ(result.payload.size(), 6u);
  EXPECT_EQ(source.remaining(), 1u);

  auto withEngine = ReadClient({0x18, 0, 0, 1, 1, 1, 2, 'h', 'w'});
  EXPECT_EQ(withEngine.payload.size(), 8u);

  auto marker = ReadClient({0x40, 2, 'h', 'i'});
  EXPECT_EQ(marker.payload, std::vector<uint8_t>({2, 'h', 'i'}));
}

TEST(ControlFraming, TruncationsNameTheMessageAndPart) {
  struct Case {
    std::vector<uint8_t> bytes;
    const char* text;
  };
  for (const Case& c :
       {Case{{0x02, 1, 2}, "control: truncated SetBitrate"},
        Case{{0x03}, "control: truncated ReceiverReport"},
        Case{{0x0A, 0}, "control: truncated 0x0A (retired)"},
        Case{{0x0C}, "control: truncated 0x0C (retired)"},
        Case{{0x10}, "control: truncated 0x10 (retired)"},
        Case{{0x13}, "control: truncated SetEncoderEngine len"},
        Case{{0x13, 4, 'a'}, "control: truncated SetEncoderEngine body"},
        Case{{0x18, 0, 0, 1}, "control: truncated AppSettingsSnapshot head"},
        Case{{0x18, 0, 0, 1, 1, 1, 3, 'a'}, "control: truncated AppSettingsSnapshot tail"},
        Case{{0x40}, "control: truncated TestMarker len"},
        Case{{0x40, 5, 'x'}, "control: truncated TestMarker body"},
        Case{{0x19}, "control: truncated SetFullQualityWhenPaused"}}) {
    const ControlReadResult result = ReadClient(c.bytes);
    EXPECT_EQ(result.status, ControlReadStatus::kTruncated) << c.text;
    ASSERT_NE(result.truncatedText, nullptr) << c.text;
    EXPECT_STREQ(result.truncatedText, c.text);
  }
  EXPECT_EQ(ReadClient({}).status, ControlReadStatus::kClosed);
}

TEST(ControlFraming, OpcodesOutsideTheTableAreUnknown) {
  for (int opcode :
       {0x00, 0x06, 0x09, 0x0D, 0x0F, 0x16, 0x17, 0x1A, 0x1F, 0x2A, 0x30, 0x32, 0x3F, 0x41, 0xFF}) {
    EXPECT_EQ(ReadClient({static_cast<uint8_t>(opcode), 0, 0}).status,
              ControlReadStatus::kUnknownOpcode)
        << opcode;
  }
}

TEST(ControlFraming, ClientReadsEveryPluginMessage) {
  std::vector<uint8_t> stream = {0x09, 0x0F, 0x04, 0x06, 1,    2, 3,   4,   5,   6,    7, 8,    9,
                                 10,   0x36, 1,    2,    0x37, 3, 'a', 'b', 'c', 0x33, 0, 0x35, 1};
  BufferByteSource source(stream.data(), stream.size());
  std::vector<uint8_t> opcodes;
  for (;;) {
    const ControlReadResult r = ReadPluginMessage(source);
    if (r.status != ControlReadStatus::kMessage) {
      EXPECT_EQ(r.status, ControlReadStatus::kClosed);
      break;
    }
    opcodes.push_back(r.opcode);
  }
  EXPECT_EQ(opcodes, std::vector<uint8_t>({0x09, 0x0F, 0x06, 0x36, 0x37, 0x33, 0x35}));
}

TEST(ControlFraming, ShortStringsAreCutAt255Bytes) {
  EXPECT_EQ(ShortStringPayload("ab"), std::vector<uint8_t>({2, 'a', 'b'}));
  EXPECT_EQ(ShortStringPayload(std::string(300, 'x')).size(), 256u);
  EXPECT_EQ(ShortStringPayload(std::string(300, 'x'))[0], 255);
}

}  // namespace
}  // namespace Sorvane::wire
