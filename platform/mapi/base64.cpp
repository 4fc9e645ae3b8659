#include "platform/mapi/base64.h"

namespace corvane::mapi {
namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
int Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}
}  // namespace

bool DecodeBase64(std::string_view in, std::string& out) {
  out.clear();
  while (!in.empty() && (in.back() == ' ')) in.remove_suffix(1);
  if (in.size() % 4 != 0) return false;
  for (size_t i = 0; i < in.size(); i += 4) {
    int d[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      char c = in[i + k];
      if (c == '=' && i + 4 == in.size() && k >= 2) {
        d[k] = 0;
        ++pad;
      } else {
        if (pad) return false;
        d[k] = Digit(c);
        if (d[k] < 0) return false;
      }
    }
    unsigned v = (d[0] << 18) | (d[1] << 12) | (d[2] << 6) | d[3];
    out.push_back(static_cast<char>(v >> 16));
    if (pad < 2) out.push_back(static_cast<char>((v >> 8) & 0xFF));
    if (pad < 1) out.push_back(static_cast<char>(v & 0xFF));
  }
  return true;
}

std::string EncodeBase64(std::string_view in) {
  std::string out;
  out.reserve((in.size() + 2) / 3 * 4);
  for (size_t i = 0; i < in.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(in[i]) << 16;
    if (i + 1 < in.size()) v |= static_cast<unsigned char>(in[i + 1]) << 8;
    if (i + 2 < in.size()) v |= static_cast<unsigned char>(in[i + 2]);
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(i + 1 < in.size() ? kAlphabet[(v >> 6) & 63] : '=');
    out.push_back(i + 2 < in.size() ? kAlphabet[v & 63] : '=');
  }
  return out;
}

}  // namespace corvane::mapi
