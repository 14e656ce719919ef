#include <gtest/gtest.h>

#include <string>

#include "store/json_text.h"

namespace Sorvane {
namespace {

TEST(JsonEscape, EscapesOnlyQuotesBackslashesAndControlBytes) {
  EXPECT_EQ(JsonEscape("a\"b\\c/d"), "a\\\"b\\\\c/d");
  EXPECT_EQ(JsonEscape("\b\f\n\r\t"), "\\b\\f\\n\\r\\t");
  EXPECT_EQ(JsonEscape(std::string("\x00\x01\x1f", 3)), "\\u0000\\u0001\\u001f");
  EXPECT_EQ(JsonEscape("\x7f \xC3\xA9 \xE2\x80\x94 \xFF"), "\x7f \xC3\xA9 \xE2\x80\x94 \xFF");
  EXPECT_EQ(JsonEscape(""), "");
}

TEST(ReadJsonObjects, DecodesEveryEscape) {
  const auto objects = ReadJsonObjects(
      R"({"s":"\"\\\/\b\f\n\r\t","u":"\u0041\u00e9\u20AC\ud83d\ude00","z":"\u0000x"})");
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0].at("s"), "\"\\/\b\f\n\r\t");
  EXPECT_EQ(objects[0].at("u"), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(objects[0].at("z"), std::string("\0x", 2));
  // Every byte the writer can be given comes back.
  std::string all;
  for (int b = 1; b < 256; ++b)
    all.push_back(static_cast<char>(b));
  const auto round = ReadJsonObjects("{\"k\":\"" + JsonEscape(all) + "\"}");
  ASSERT_EQ(round.size(), 1u);
  EXPECT_EQ(round[0].at("k"), all);
}

TEST(ReadJsonObjects, StructureSkippedAndOrderKept) {
  const auto objects = ReadJsonObjects(
      " [[{\"a\":\"1\", \"n\": -2.5e3, \"b\": true, \"o\": {\"a\": \"inner\", \"x\": [\"]}\"]},"
      " \"z\": null}], [{}, {\"a\":\"}{\" , \"a\":\"second\"}]]\n");
  ASSERT_EQ(objects.size(), 3u) << "a nested object is a member, not an object of its own";
  EXPECT_EQ(objects[0], (JsonStringMembers{{"a", "1"}}));
  EXPECT_TRUE(objects[1].empty());
  EXPECT_EQ(objects[2], (JsonStringMembers{{"a", "}{"}})) << "the first of two equal keys wins";
}

TEST(ReadJsonObjects, NotJsonYieldsNothingAndBrokenObjectsAreSkipped) {
  for (const char* text :
       {"", "plain text", "}{", "{", "{\"a\"", "{\"a\":\"open", "{\"a\" \"b\"}",
        "{\"a\":\"b\" \"c\":\"d\"}", "{\"a\":\"\\u12G4\"}", "{'a':'b'}", "{\"a\":\"b\\"}) {
    EXPECT_TRUE(ReadJsonObjects(text).empty()) << text;
  }
  // An object that breaks off is dropped; the next complete one is still found.
  const auto objects = ReadJsonObjects("{\"a\":\"b\",{\"c\":\"d\"}");
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0], (JsonStringMembers{{"c", "d"}}));
}

TEST(JsonFindString, ScansKeyColonAndQuoteWithoutNeedingWellFormedText) {
  const std::string text = R"({"id":"a\"b\\c\u0041" "name" : "x",,"id":"second")";
  EXPECT_EQ(JsonFindString(text, "id"), "a\"b\\cA") << "first occurrence, escapes decoded";
  EXPECT_EQ(JsonFindString(text, "name"), "x");
  EXPECT_EQ(JsonFindString(text, "missing"), "");
  EXPECT_EQ(JsonFindString(R"({"id" "x"})", "id"), "") << "no colon after the key";
  EXPECT_EQ(JsonFindString(R"({"id": 5})", "id"), "") << "no quote after the colon";
  EXPECT_EQ(JsonFindString(R"({"id":"never ends)", "id"), "");
  EXPECT_EQ(JsonFindString(R"({"id":"ends in an escape\)", "id"), "");
}

}  // namespace
}  // namespace Sorvane
