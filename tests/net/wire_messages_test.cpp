#include "net/wire_messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/control_reader.h"
#include "net/wire_opcodes.h"
#include "sv-receiver/lib/plugin_messages.h"

namespace Sorvane::wire {
namespace {

using receiver::ControlMessageReader;

// What a client reads back from the message on the wire: the framing table must agree with the
// writer to the byte, or the next message would start in the wrong place.
ControlReadResult OverTheWire(const ControlMessage& m) {
  std::vector<uint8_t> bytes = {m.opcode};
  bytes.insert(bytes.end(), m.payload.begin(), m.payload.end());
  bytes.push_back(kHeartbeat);
  BufferByteSource source(bytes.data(), bytes.size());
  ControlMessageReader reader(source);
  ControlReadResult first = reader.Next();
  EXPECT_EQ(first.status, ControlReadStatus::kMessage) << int(m.opcode);
  EXPECT_EQ(first.opcode, m.opcode);
  EXPECT_EQ(first.payload, m.payload);
  EXPECT_EQ(reader.Next().opcode, kHeartbeat) << "framing kept in step after " << int(m.opcode);
  return first;
}

TEST(PluginMessages, FixedMessagesHaveTheirSizesAndFields) {
  const auto info = receiver::DecodeStreamInfo(
      OverTheWire(StreamInfoMessage(1920, 70000, 60, 0x01020304)).payload);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->width, 1920);
  EXPECT_EQ(info->height, 65535) << "clamped";
  EXPECT_EQ(info->fps, 60);
  EXPECT_EQ(info->frameCap, 0x01020304u);
  EXPECT_EQ(StreamInfoMessage(-5, 1, 1, 0).payload[0], 0) << "negative values clamp to 0";

  const ControlMessage source = SourceChangedMessage(3840, 2160, 29.97f);
  EXPECT_EQ(source.payload, std::vector<uint8_t>({0x00, 0x0F, 0x70, 0x08, 0x8F, 0xC2, 0xEF, 0x41}))
      << "u16 LE, u16 LE, IEEE-754 single LE";
  const auto changed = receiver::DecodeSourceChanged(OverTheWire(source).payload);
  ASSERT_TRUE(changed);
  EXPECT_FLOAT_EQ(changed->fps, 29.97f);

  EXPECT_TRUE(OverTheWire(HeartbeatMessage()).payload.empty());
  EXPECT_TRUE(OverTheWire(PairingCodeRequiredMessage()).payload.empty());
  EXPECT_TRUE(OverTheWire(PairingRejectedMessage()).payload.empty());
  EXPECT_EQ(receiver::DecodeByte(OverTheWire(CommandAckMessage(kSetCodec)).payload), kSetCodec);
  EXPECT_EQ(receiver::DecodeByte(OverTheWire(PlaybackStateMessage(true)).payload), 1);
  EXPECT_EQ(receiver::DecodeByte(OverTheWire(TransmitStateMessage(false)).payload), 0);
  const auto platform =
      receiver::DecodeHostPlatform(OverTheWire(HostPlatformMessage(1, 2)).payload);
  ASSERT_TRUE(platform);
  EXPECT_EQ(platform->platform, 1);
  EXPECT_EQ(platform->architecture, 2);
  EXPECT_STREQ(ControlMessageReader::Name(kEncoderInfo), "kEncoderInfo");
  EXPECT_STREQ(ControlMessageReader::Name(0x01), "?");
}

TEST(PluginMessages, TextIsLengthPrefixedAndCut) {
  const std::string token(64, 'a');
  EXPECT_EQ(receiver::DecodeShortString(OverTheWire(PairingAcceptedMessage(token)).payload), token);
  EXPECT_EQ(OverTheWire(PairingAcceptedMessage("")).payload, std::vector<uint8_t>({0}));
  const ControlMessage info = EncoderInfoMessage(std::string(300, 'd'));
  EXPECT_EQ(info.payload.size(), 201u) << "the description is cut to 200 bytes";
  EXPECT_EQ(receiver::DecodeShortString(OverTheWire(info).payload), std::string(200, 'd'));
}

TEST(PluginMessages, EngineListInTwoLevelsOfLength) {
  size_t inner = 0;
  const ControlMessage list =
      EncoderEngineListMessage({{"nvenc", "NVIDIA", "hw"}, {"sw", "Software", ""}}, &inner);
  const std::vector<uint8_t> expected = {30,  2,   5,   'n', 'v', 'e', 'n', 'c', 6,   'N', 'V',
                                         'I', 'D', 'I', 'A', 2,   'h', 'w', 2,   's', 'w', 8,
                                         'S', 'o', 'f', 't', 'w', 'a', 'r', 'e', 0};
  EXPECT_EQ(list.payload, expected);
  EXPECT_EQ(list.payload[0], list.payload.size() - 1);
  EXPECT_EQ(inner, list.payload.size() - 1);
  const auto decoded = receiver::DecodeEngineList(OverTheWire(list).payload);
  ASSERT_TRUE(decoded);
  ASSERT_EQ(decoded->engines.size(), 2u);
  EXPECT_EQ(decoded->engines[1].label, "Software");
  EXPECT_FALSE(decoded->lastEntryCut);
  EXPECT_TRUE(receiver::DecodeEngineList(OverTheWire(EncoderEngineListMessage({})).payload))
      << "no engines: a count of 0";
}

// 256 bytes or more of entries are cut to 255 whatever entry that splits; the count byte stays
// and the client keeps what it has of the last entry.
TEST(PluginMessages, LongEngineListIsCutAndStillReadable) {
  std::vector<std::string> ids;
  std::vector<EngineListEntry> engines;
  for (int i = 0; i < 8; ++i)
    ids.push_back("engine-" + std::to_string(i) + std::string(20, 'x'));
  for (const std::string& id : ids)
    engines.push_back({id, "Label", "note"});
  size_t inner = 0;
  const ControlMessage list = EncoderEngineListMessage(engines, &inner);
  EXPECT_GT(inner, 255u);
  EXPECT_EQ(list.payload.size(), 256u);
  EXPECT_EQ(list.payload[0], 255);
  EXPECT_EQ(list.payload[1], 8) << "the count byte is unchanged";
  const auto decoded = receiver::DecodeEngineList(OverTheWire(list).payload);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->announcedCount, 8);
  EXPECT_LT(decoded->engines.size(), 8u);
  EXPECT_TRUE(decoded->lastEntryCut);
  EXPECT_EQ(decoded->engines[0].id, ids[0]);

  std::vector<EngineListEntry> many(300, EngineListEntry{"a", "", ""});
  EXPECT_EQ(EncoderEngineListMessage(many).payload[1], 255) << "at most 255 entries";
}

TEST(PluginMessages, DecodersRefuseWrongSizes) {
  EXPECT_FALSE(receiver::DecodeStreamInfo(std::vector<uint8_t>(9)));
  EXPECT_FALSE(receiver::DecodeSourceChanged(std::vector<uint8_t>(9)));
  EXPECT_FALSE(receiver::DecodeHostPlatform({1}));
  EXPECT_FALSE(receiver::DecodeByte({}));
  EXPECT_FALSE(receiver::DecodeShortString({3, 'a'}));
  EXPECT_FALSE(receiver::DecodeShortString({}));
  EXPECT_FALSE(receiver::DecodeEngineList({5, 1, 0}));
  const auto lying = receiver::DecodeEngineList({3, 200, 9, 'a'});  // entry claims 9, has 1
  ASSERT_TRUE(lying);
  EXPECT_TRUE(lying->lastEntryCut);
  EXPECT_EQ(lying->engines.at(0).id, "a");
}

}  // namespace
}  // namespace Sorvane::wire
