#include "platform/utf8/utf8.h"

#include <gtest/gtest.h>

namespace corvane::utf8 {
namespace {

using namespace std::string_literals;

TEST(ToValidUtf8, ReplacesEachInvalidByteAndNulAndKeepsWellFormedText) {
  const std::string fffd = "\xEF\xBF\xBD";
  const struct {
    std::string text, expected;
  } cases[] = {
      {"plain \xC3\xB4 \xF0\x9F\x98\x80", "plain \xC3\xB4 \xF0\x9F\x98\x80"},
      {"a long plain ASCII value", "a long plain ASCII value"},
      {"a\xB4z", "a" + fffd + "z"},                       // lone continuation byte
      {"\x92quote", fffd + "quote"},                      // a Windows-1252 quote byte
      {"\xC3", fffd},                                     // cut-off character
      {"\xC0\xAF", fffd + fffd},                          // overlong
      {"\xED\xA0\x80", fffd + fffd + fffd},               // surrogate
      {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},    // above U+10FFFF
      {"x\xE2\x80'", "x" + fffd + fffd + "'"},
      {"Hauptstrasse 1\0Hinterhaus"s, "Hauptstrasse 1" + fffd + "Hinterhaus"},  // NUL, past the fast path
      {"a\0b"s, "a" + fffd + "b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToValidUtf8(c.text), c.expected) << c.text;
    EXPECT_EQ(FirstInvalidByte(c.text) == c.text.size(), c.text == c.expected) << c.text;
  }
  EXPECT_EQ(CharacterCount("plain \xC3\xB4 \xF0\x9F\x98\x80"), 9u);
}

}  // namespace
}  // namespace corvane::utf8
