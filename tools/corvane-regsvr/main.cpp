// corvane-regsvr [/u] LIBRARY: registers (or with /u unregisters) the
// component library LIBRARY in the Corvane home's registry by calling its
// DllRegisterServer (DllUnregisterServer).
//
// Exit status: 0 done; 1 wrong arguments; 3 the library cannot be loaded;
// 4 it has no such entry point; 5 the entry point failed.
#include <fmt/format.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/com/server.h"
#include "platform/registry/registry.h"
#include "service/host/program_info.h"

namespace {

using namespace corvane;

constexpr const char* kUsage =
    "Usage: corvane-regsvr [/u] LIBRARY\n"
    "Registers the component library LIBRARY in the registry of the Corvane home\n"
    "($CORVANE_HOME, default /var/lib/corvane); /u removes the registration.\n";

}  // namespace

int main(int argc, char** argv) {
  if (auto answered = service::AnswerHelpOrVersion(argc, argv, "corvane-regsvr", kUsage)) return *answered;
  bool unregister = false;
  std::string library;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "/u" || arg == "/U" || arg == "-u") {
      unregister = true;
    } else if (library.empty() && !arg.empty() && arg[0] != '-') {
      library = arg;
    } else {
      library.clear();
      break;
    }
  }
  if (library.empty()) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  std::string error;
  auto server = com::ServerLibrary::Load(library, &error);
  if (!server) {
    fmt::print(stderr, "The module \"{}\" failed to load.\n{}\n", library, error);
    return 3;
  }
  auto function = server->Export<com::DllRegisterServerFunction>(entry);
  if (function == nullptr) {
    fmt::print(stderr, "The module \"{}\" was loaded but the entry-point {} was not found.\n", library, entry);
    return 4;
  }
  int32_t result = function();
  if (result != com::S_OK) {
    fmt::print(stderr, "The module \"{}\" was loaded but the call to {} failed with error code 0x{:08X}.\n", library,
               entry, static_cast<uint32_t>(result));
    fmt::print(stderr, "(the registry of the Corvane home: {})\n", registry::Hive::Machine().file().string());
    return 5;
  }
  fmt::print("{} in {} succeeded ({}).\n", entry, library, registry::Hive::Machine().file().string());
  return 0;
}
