// A log file is rotated once it has reached its size: the full part becomes
// "<file>.1" (replacing an older one) and the text starts a new file.
#include "platform/logfile/log_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace corvane::logfile {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(LogFile, RotatesAtItsSizeKeepingOnePreviousFile) {
  const fs::path dir = fs::temp_directory_path() / ("corvane_logfile_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path log = dir / "CorvaneDLL.log";
  std::ofstream(PreviousLogFile(log)) << "oldest";
  ASSERT_TRUE(AppendToLog(log, "a\n"));
  fs::resize_file(log, kLogRotateBytes - 1);
  ASSERT_TRUE(AppendToLog(log, "b\n"));  // below the size: appended
  EXPECT_EQ(fs::file_size(log), kLogRotateBytes + 1);
  EXPECT_EQ(Read(PreviousLogFile(log)), "oldest");

  ASSERT_TRUE(AppendToLog(log, "c\n"));  // at the size: rotated first
  EXPECT_EQ(Read(log), "c\n");
  EXPECT_EQ(fs::file_size(PreviousLogFile(log)), kLogRotateBytes + 1);
  EXPECT_FALSE(AppendToLog(dir / "missing-folder" / "x.log", "d\n"));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace corvane::logfile
