#include "platform/mapi/last_error.h"

#include <fmt/format.h>

#include <atomic>
#include <cstdio>

namespace corvane::mapi {
namespace {
thread_local std::string last_error;
std::atomic<bool> echo{true};
}

void EchoFailures(bool on) { echo = on; }

HRESULT Fail(HRESULT hr, const std::string& text) {
  last_error = fmt::format("{} (0x{:08X})", text, static_cast<uint32_t>(hr));
  if (echo) std::fprintf(stderr, "corvane-mapi: %s\n", last_error.c_str());
  return hr;
}

void Warn(const std::string& text) { std::fprintf(stderr, "corvane-mapi: warning: %s\n", text.c_str()); }

}  // namespace corvane::mapi

const char* MAPIGetLastErrorText() { return corvane::mapi::last_error.c_str(); }
