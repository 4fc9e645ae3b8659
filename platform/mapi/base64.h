#pragma once

#include <string>
#include <string_view>

namespace corvane::mapi {

// Strict decoding (padding required, no stray characters); false on
// malformed input.
bool DecodeBase64(std::string_view in, std::string& out);
std::string EncodeBase64(std::string_view in);

}  // namespace corvane::mapi
