#include <gtest/gtest.h>

#include <algorithm>
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

// Every fixed-size message cut one byte short, and each variable form cut in its length and in
// its body, names itself with the exact text the read loop logs.
TEST(ControlFraming, TruncationsNameTheMessageAndPart) {
  const std::vector<std::pair<uint8_t, const char*>> fixed = {
      {0x02, "control: truncated SetBitrate"},
      {0x03, "control: truncated ReceiverReport"},
      {0x04, "control: truncated SetGopMode"},
      {0x05, "control: truncated SetCodec"},
      {0x07, "control: truncated SetMaxResolution"},
      {0x08, "control: truncated SetEncoderMode"},
      {0x0A, "control: truncated 0x0A (retired)"},
      {0x0B, "control: truncated SetHardFrameCap"},
      {0x0C, "control: truncated 0x0C (retired)"},
      {0x0E, "control: truncated ReceiverReportV2"},
      {0x10, "control: truncated 0x10 (retired)"},
      {0x11, "control: truncated SetMode"},
      {0x12, "control: truncated SetMaxLatency"},
      {0x14, "control: truncated AppTelemetry"},
      {0x15, "control: truncated SetTransitionMode"},
      {0x19, "control: truncated SetFullQualityWhenPaused"}};
  for (const auto& [opcode, text] : fixed) {
    const size_t size = ClientMessageRule(opcode)->size;
    std::vector<uint8_t> bytes(size, 0x11);  // opcode and one byte short of the payload
    bytes[0] = opcode;
    const ControlReadResult result = ReadClient(bytes);
    EXPECT_EQ(result.status, ControlReadStatus::kTruncated) << text;
    EXPECT_EQ(result.opcode, opcode);
    ASSERT_NE(result.truncatedText, nullptr) << text;
    EXPECT_STREQ(result.truncatedText, text);
  }
  struct Case {
    std::vector<uint8_t> bytes;
    const char* text;
  };
  for (const Case& c :
       {Case{{0x13}, "control: truncated SetEncoderEngine len"},
        Case{{0x13, 4, 'a'}, "control: truncated SetEncoderEngine body"},
        Case{{0x18, 0, 0, 1, 1, 1}, "control: truncated AppSettingsSnapshot head"},
        Case{{0x18, 0, 0, 1, 1, 1, 3, 'a'}, "control: truncated AppSettingsSnapshot tail"},
        Case{{0x40}, "control: truncated TestMarker len"},
        Case{{0x40, 5, 'x'}, "control: truncated TestMarker body"}}) {
    const ControlReadResult result = ReadClient(c.bytes);
    EXPECT_EQ(result.status, ControlReadStatus::kTruncated) << c.text;
    ASSERT_NE(result.truncatedText, nullptr) << c.text;
    EXPECT_STREQ(result.truncatedText, c.text);
  }
  EXPECT_EQ(ReadClient({}).status, ControlReadStatus::kClosed) << "a close between messages";
  EXPECT_EQ(ReadClient({0x01}).status, ControlReadStatus::kMessage) << "nothing to truncate";
}

// The longest payloads: a 255-byte engine id or marker, and a snapshot with a 255-byte engine.
TEST(ControlFraming, LongestVariablePayloads) {
  std::vector<uint8_t> engine(2 + 255, 'e');
  engine[0] = 0x13;
  engine[1] = 255;
  EXPECT_EQ(ReadClient(engine).payload.size(), 256u);
  std::vector<uint8_t> snapshot = {0x18, 0, 0, 1, 1, 1, 255};
  snapshot.resize(7 + 255, 'e');
  EXPECT_EQ(ReadClient(snapshot).payload.size(), 261u);
}

// After pairing the client table knows exactly these opcodes; the handshake's own 0x30 and
// 0x32, and everything else, end the connection.
TEST(ControlFraming, OpcodesOutsideTheTableAreUnknown) {
  const std::vector<int> known = {0x01, 0x02, 0x03, 0x04, 0x05, 0x07, 0x08, 0x0A, 0x0B, 0x0C,
                                  0x0E, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x18, 0x19, 0x20,
                                  0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x40};
  for (int opcode = 0; opcode < 256; ++opcode) {
    const bool isKnown = std::find(known.begin(), known.end(), opcode) != known.end();
    std::vector<uint8_t> bytes(300, 0);
    bytes[0] = static_cast<uint8_t>(opcode);
    const ControlReadResult result = ReadClient(bytes);
    EXPECT_EQ(result.status,
              isKnown ? ControlReadStatus::kMessage : ControlReadStatus::kUnknownOpcode)
        << opcode;
    EXPECT_EQ(result.opcode, opcode);
  }
  BufferByteSource empty(nullptr, 0);
  EXPECT_EQ(ReadPluginMessage(empty).status, ControlReadStatus::kClosed);
  const uint8_t clientOpcode[] = {0x01};
  BufferByteSource source(clientOpcode, 1);
  EXPECT_EQ(ReadPluginMessage(source).status, ControlReadStatus::kUnknownOpcode)
      << "the directions have separate tables";
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
