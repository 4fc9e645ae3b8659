// Writes the service's systemd unit into a folder as `CorvaneService
// -install` would write it, for the package: the unit's name and text have
// one definition (platform/ntservice).
//
//   corvane-unit-text PROGRAM HOME USER FOLDER
#include <cstdio>
#include <exception>
#include <filesystem>

#include "platform/atomicfile/atomic_file.h"
#include "platform/ntservice/systemd_service_control.h"
#include "platform/ntservice/unit_file.h"

int main(int argc, char** argv) {
  using namespace corvane;
  if (argc != 5) {
    std::fputs("usage: corvane-unit-text PROGRAM HOME USER FOLDER\n", stderr);
    return 2;
  }
  try {
    const ntservice::SystemdServiceControl control{ntservice::SystemdSettings{}};
    const std::filesystem::path unit = std::filesystem::path(argv[4]) / ntservice::UnitFileName(control.ServiceName());
    files::WriteFileAtomically(unit, ntservice::UnitFileText({control.DisplayName(), argv[1], argv[2], argv[3], true}),
                               {.mode = 0644});
    std::printf("%s\n", unit.c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "corvane-unit-text: %s\n", e.what());
    return 1;
  }
}
