// corvane-gen-directory: writes a sample directory as LDIF to standard
// output, e.g. `corvane-gen-directory --entries 10000 --seed 7 > dir.ldif`.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include <fmt/format.h>

#include "service/host/program_info.h"
#include "tools/gen-directory/generate_directory.h"

namespace {

std::string UsageText() {
  return fmt::format(
      "usage: corvane-gen-directory [--entries N] [--seed S]\n"
      "Writes a sample directory of N address-list entries (default 300, seed 1) as LDIF\n"
      "to standard output. Entry 0 is the mailbox \"{}\".\n",
      corvane::gendir::kServiceAccount);
}

bool ParseNumber(const char* text, uint64_t& out) {
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text, &end, 10);
  if (!*text || *end || text[0] == '-' || errno == ERANGE) return false;
  out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string usage = UsageText();
  if (auto answered = corvane::service::AnswerHelpOrVersion(argc, argv, "corvane-gen-directory", usage)) return *answered;
  corvane::gendir::Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if ((arg == "--entries" || arg == "--seed") && i + 1 < argc) {
      uint64_t& target = arg == "--entries" ? options.entries : options.seed;
      if (!ParseNumber(argv[++i], target)) {
        std::fprintf(stderr, "corvane-gen-directory: %s needs a whole number, not \"%s\"\n", arg.c_str(), argv[i]);
        return 2;
      }
    } else {
      std::fputs(usage.c_str(), stderr);
      return 2;
    }
  }
  if (const std::string error = corvane::gendir::CheckOptions(options); !error.empty()) {
    std::fprintf(stderr, "corvane-gen-directory: %s\n", error.c_str());
    return 2;
  }
  std::ios::sync_with_stdio(false);
  corvane::gendir::WriteDirectory(std::cout, options);
  std::cout.flush();
  return std::cout ? 0 : 1;
}
