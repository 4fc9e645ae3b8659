// Binding libCorvane.so at run time by file name.
#include "service/export/gal_library.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/export/export_fixture.h"

namespace corvane::service {
namespace {

TEST(DynamicGalLibrary, MissingFileIsFileNotFoundOnEveryCall) {
  DynamicGalLibrary library("/nonexistent-folder", "libCorvaneNotThere.so");
  for (int i = 0; i < 2; ++i) {
    try {
      library.GetGALCount("TWCorvane", "TRUE");
      FAIL() << "no error";
    } catch (const GalLibraryError& e) {
      EXPECT_EQ(e.Number, 53);
      EXPECT_EQ(e.Description.rfind("File not found: libCorvaneNotThere.so", 0), 0u);
    }
  }
}

TEST(DynamicGalLibrary, LibraryWithoutTheExportIsEntryPointNotFound) {
  // Any library on the library path that lacks the exports.
  DynamicGalLibrary library("/nonexistent-folder", "libm.so.6");
  try {
    library.CreateProfileWithIProfAdmin("m", "s", "TRUE");
    FAIL() << "no error";
  } catch (const GalLibraryError& e) {
    EXPECT_EQ(e.Number, 453);
    EXPECT_EQ(e.Description, "Can't find DLL entry point CreateProfileWithIProfAdmin in libm.so.6");
  }
}

TEST(DynamicGalLibrary, BindsTheBuiltLibraryFromItsFolder) {
  auto bin = corvane::testing::BinDir();
  if (!std::filesystem::exists(bin / "libCorvane.so")) GTEST_SKIP() << "libCorvane.so not built";
  auto home = std::filesystem::temp_directory_path() / ("corvane_bind_" + std::to_string(getpid()));
  std::filesystem::create_directories(home);
  setenv("CORVANE_HOME", home.c_str(), 1);
  DynamicGalLibrary library(bin);
  // No profile exists in a fresh home: the count is 0, and the call returned.
  EXPECT_EQ(library.GetGALCount("TWCorvane", "TRUE"), 0);
  std::filesystem::remove_all(home);
}

}  // namespace
}  // namespace corvane::service
