#include "platform/utf8/utf8.h"

#include <cstdint>
#include <cstring>

namespace corvane::utf8 {

namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// Length of the well-formed character starting at text[pos], or 0 when the
// byte there does not start one or is a NUL.
size_t CharacterLength(std::string_view text, size_t pos) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(pos);
  if (lead == 0) return 0;
  if (lead < 0x80) return 1;
  size_t length = 0;
  uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (pos + length > text.size()) return 0;
  if (byte(pos + 1) < low || byte(pos + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

}  // namespace

size_t FirstInvalidByte(std::string_view text) {
  size_t pos = 0;
  // Most directory values are plain ASCII: eight bytes at a time while no
  // byte has its high bit set and none is NUL.
  constexpr uint64_t kHigh = 0x8080808080808080ull, kOnes = 0x0101010101010101ull;
  while (pos + 8 <= text.size()) {
    uint64_t v;
    std::memcpy(&v, text.data() + pos, 8);
    if ((v & kHigh) || ((v - kOnes) & ~v & kHigh)) break;
    pos += 8;
  }
  while (pos < text.size()) {
    const size_t length = CharacterLength(text, pos);
    if (length == 0) return pos;
    pos += length;
  }
  return pos;
}

std::string ToValidUtf8(std::string_view text) {
  size_t pos = FirstInvalidByte(text);
  if (pos == text.size()) return std::string(text);
  std::string result(text.substr(0, pos));
  while (pos < text.size()) {
    const size_t length = CharacterLength(text, pos);
    if (length == 0) {
      result += kReplacementCharacter;
      ++pos;
    } else {
      result.append(text.substr(pos, length));
      pos += length;
    }
  }
  return result;
}

size_t CharacterCount(std::string_view text) {
  size_t count = 0;
  for (const char c : text) count += (static_cast<uint8_t>(c) & 0xC0) != 0x80;
  return count;
}

}  // namespace corvane::utf8
