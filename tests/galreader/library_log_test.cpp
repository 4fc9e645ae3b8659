// The library log and the five texts of a database error.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "galreader/library_log.h"
#include "platform/logfile/log_file.h"
#include "tests/galreader/log_dir.h"

namespace corvane::galreader {
namespace {

TEST(LibraryLog, OnlyTheExactTextTrueIsQuiet) {
  EXPECT_TRUE(IsQuiet("TRUE"));
  for (const char* other : {"true", "TRUE ", " TRUE", "True", "FALSE", "", "1"}) EXPECT_FALSE(IsQuiet(other)) << other;
  EXPECT_FALSE(IsQuiet(nullptr));
}

TEST(LibraryLog, AppendsEachTextUnchangedToTheFileInTheCurrentDirectory) {
  TempLogDir dir;
  WriteLibraryLog("first");
  WriteLibraryLog(" runs on\n");
  WriteLibraryLog("second\n");
  EXPECT_EQ(dir.Log(), "first runs on\nsecond\n");
  DebugLog(false, "hidden\n");
  DebugLog(true, "shown\n");
  EXPECT_EQ(dir.Log(), "first runs on\nsecond\nshown\n");
  // A full log is kept as CorvaneDLL.log.1 and a new one begins.
  std::filesystem::resize_file(dir.Path() / "CorvaneDLL.log", logfile::kLogRotateBytes);
  WriteLibraryLog("next\n");
  EXPECT_EQ(dir.Log(), "next\n");
  EXPECT_EQ(std::filesystem::file_size(dir.Path() / "CorvaneDLL.log.1"), logfile::kLogRotateBytes);
}

TEST(LibraryLog, SkipsTheFileWhenItCannotBeOpened) {
  TempLogDir dir;
  std::filesystem::create_directory(dir.Path() / "CorvaneDLL.log");  // a directory cannot be opened for append
  testing::internal::CaptureStdout();
  WriteLibraryLog("still on standard output\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "still on standard output\n");
}

TEST(DumpComError, WritesFiveTextsWithTheSystemMessage) {
  TempLogDir dir;
  DumpComError(ado::AdoError(ado::adErrGeneric, "Microsoft OLE DB Provider for ODBC Drivers", "could not connect"));
  EXPECT_EQ(dir.Log(),
            "Error! Description follows: \n"
            "\tCode = 80004005\n"
            "\tCode meaning = Unspecified error\n"
            "\tSource = Microsoft OLE DB Provider for ODBC Drivers\n"
            "\tDescription = could not connect\n");
}

TEST(DumpComError, NumbersInterfaceErrorsAndNamesUnknownOnes) {
  EXPECT_EQ(ComErrorMessage(0x80040E14u), "IDispatch error #3092");
  EXPECT_EQ(ComErrorMessage(0x80040201u), "IDispatch error #1");
  EXPECT_EQ(ComErrorMessage(0x8004FFFFu), "IDispatch error #65023");
  EXPECT_EQ(ComErrorMessage(0x80040200u), "Unknown error 0x80040200");
  EXPECT_EQ(ComErrorMessage(0x800A0E78u), "Unknown error 0x800A0E78");
  EXPECT_EQ(ComErrorMessage(0x1u), "Unknown error 0x1");

  TempLogDir dir;
  DumpComError(ado::AdoError(ado::adErrStatementRefused, "src", "refused"));
  EXPECT_NE(dir.Log().find("\tCode = 80040e14\n\tCode meaning = IDispatch error #3092\n"), std::string::npos);
}

}  // namespace
}  // namespace corvane::galreader
