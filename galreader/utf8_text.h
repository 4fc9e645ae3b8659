// UTF-8 helpers of the row export: directory values are text, and every
// rule of the row writer works on whole characters.
#pragma once

#include <string>
#include <string_view>

namespace corvane::galreader {

// Returns `text` with every byte that is not part of a well-formed UTF-8
// character replaced by U+FFFD, so no statement ever carries text that a
// database would reject or read differently from the rest of the row.
// Well-formed text comes back unchanged.
std::string ToValidUtf8(std::string_view text);

// The number of characters of well-formed UTF-8 text (bytes that do not
// continue a character). Every length rule of the row export counts these.
size_t CharacterCount(std::string_view text);

}  // namespace corvane::galreader
