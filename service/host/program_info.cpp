#include "service/host/program_info.h"

#include <cstdio>

#include <fmt/format.h>

#include "service/host/service_host.h"

namespace corvane::service {

// The build's version (the package's) and the one the service shows in its
// start-up line are one.
static_assert(CORVANE_VERSION_MAJOR == kVersionMajor && CORVANE_VERSION_MINOR == kVersionMinor,
              "the project version in CMakeLists.txt and the service's version differ");

std::string VersionText() { return fmt::format("{}.{}", kVersionMajor, kVersionMinor); }

std::optional<int> AnswerHelpOrVersion(int argc, char** argv, std::string_view program, std::string_view usage) {
  if (argc != 2) return std::nullopt;
  const std::string_view arg = argv[1];
  if (arg == "--help") {
    std::fwrite(usage.data(), 1, usage.size(), stdout);
  } else if (arg == "--version") {
    fmt::print("{} (Corvane) {}\n", program, VersionText());
  } else {
    return std::nullopt;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace corvane::service
