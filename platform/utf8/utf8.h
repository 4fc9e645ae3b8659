// UTF-8 text as every layer of the system takes it: well-formed (RFC 3629:
// no overlong forms, no surrogates, nothing above U+10FFFF) and without NUL.
// A NUL is no character of a text value: text properties and SQL
// statements are C strings, so a NUL would silently cut the value short
// there; it is replaced like any byte that is not part of a character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvane::utf8 {

// Where the first byte stands that is not part of a well-formed character,
// or is a NUL; text.size() when there is none.
size_t FirstInvalidByte(std::string_view text);

// `text` with each byte that is not part of a well-formed character (or is
// a NUL) replaced by U+FFFD, so one damaged byte costs that byte, not the
// value. Well-formed text comes back unchanged.
std::string ToValidUtf8(std::string_view text);

// The number of characters of well-formed UTF-8 text (bytes that do not
// continue a character).
size_t CharacterCount(std::string_view text);

}  // namespace corvane::utf8
