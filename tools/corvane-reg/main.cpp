#include <iostream>

#include "service/host/program_info.h"
#include "tools/corvane-reg/reg_command.h"

int main(int argc, char** argv) {
  if (auto answered = corvane::service::AnswerHelpOrVersion(argc, argv, "corvane-reg", corvane::tools::RegUsage()))
    return *answered;
  std::vector<std::string> args(argv + 1, argv + argc);
  auto hive = corvane::registry::Hive::Machine();
  return corvane::tools::RunRegCommand(args, hive, std::cin, std::cout, std::cerr);
}
