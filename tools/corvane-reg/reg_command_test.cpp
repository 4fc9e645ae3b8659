#include "tools/corvane-reg/reg_command.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace corvane::tools {
namespace {

class RegCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/corvane-reg-XXXXXX";
    dir_ = mkdtemp(tmpl);
    hive_ = registry::Hive(dir_ / "registry.hive");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  int Run(std::vector<std::string> args, const std::string& input = "") {
    std::istringstream in(input);
    out_.str("");
    err_.str("");
    return RunRegCommand(args, hive_, in, out_, err_);
  }

  std::filesystem::path dir_;
  registry::Hive hive_{""};
  std::ostringstream out_, err_;
};

TEST_F(RegCommandTest, AddAndQueryRoundTripEveryType) {
  EXPECT_EQ(Run({"add", "/v", "ToDoCount", "/t", "REG_DWORD", "/d", "10"}), 0) << err_.str();
  EXPECT_EQ(Run({"add", "/v", "RunSQLAfterCmd", "/t", "REG_EXPAND_SZ", "/d", "update x set y='%z%'"}), 0);
  EXPECT_EQ(Run({"add", "/v", "DOS", "/d", "True"}), 0);
  EXPECT_EQ(hive_.Get(registry::kParametersKeyPath, "todocount"), registry::Value::Number(10));
  EXPECT_EQ(hive_.Get(registry::kParametersKeyPath, "RunSQLAfterCmd"), registry::Value::ExpandSz("update x set y='%z%'"));
  EXPECT_EQ(hive_.Get(registry::kParametersKeyPath, "DOS"), registry::Value::Sz("True"));

  ASSERT_EQ(Run({"query"}), 0);
  EXPECT_NE(out_.str().find("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Corvane Service\\Parameters\n"),
            std::string::npos);
  EXPECT_NE(out_.str().find("    ToDoCount    REG_DWORD    0xa\n"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("    DOS    REG_SZ    True\n"), std::string::npos);
  ASSERT_EQ(Run({"query", "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Corvane Service\\Parameters", "/v", "dos"}), 0);
  EXPECT_EQ(out_.str().find("ToDoCount"), std::string::npos);
}

TEST_F(RegCommandTest, OverwriteAndDeleteAskUnlessForced) {
  ASSERT_EQ(Run({"add", "/v", "NoParse", "/d", "0"}), 0);
  EXPECT_EQ(Run({"add", "/v", "NoParse", "/d", "1"}, "no\n"), 1);
  EXPECT_EQ(hive_.Get(registry::kParametersKeyPath, "NoParse")->text, "0");
  EXPECT_EQ(Run({"add", "/v", "NoParse", "/d", "1"}, "yes\n"), 0);
  EXPECT_EQ(Run({"add", "/v", "NoParse", "/d", "0", "/f"}), 0);
  EXPECT_EQ(hive_.Get(registry::kParametersKeyPath, "NoParse")->text, "0");
  EXPECT_EQ(Run({"delete", "/v", "NoParse"}, ""), 1);  // no answer: nothing deleted
  EXPECT_TRUE(hive_.Get(registry::kParametersKeyPath, "NoParse"));
  EXPECT_EQ(Run({"delete", "/v", "NoParse", "/f"}), 0);
  EXPECT_FALSE(hive_.Get(registry::kParametersKeyPath, "NoParse"));
  EXPECT_EQ(Run({"delete", "/v", "NoParse", "/f"}), 1);
}

TEST_F(RegCommandTest, WholeKeysAreListedWithSubkeysAndDeletedOnlyWhenNamed) {
  const std::string profile = "SOFTWARE\\Corvane\\MAPI\\Profiles\\TWCorvane";
  hive_.CreateKey(profile);
  hive_.Set(profile + "\\Services\\00AA", "6608001E", registry::Value::Sz("ldap://old"));
  hive_.Set("SOFTWARE\\Corvane\\Other", "Keep", registry::Value::Sz("1"));
  ASSERT_EQ(Run({"query", "HKLM\\" + profile, "/s"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "\nHKEY_LOCAL_MACHINE\\" + profile + "\n\nHKEY_LOCAL_MACHINE\\" + profile +
                            "\\Services\\00AA\n    6608001E    REG_SZ    ldap://old\n\n");
  ASSERT_EQ(Run({"query", "SOFTWARE\\Corvane"}), 0);  // exists through the keys below it
  EXPECT_NE(out_.str().find("\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\MAPI\n"), std::string::npos) << out_.str();

  EXPECT_EQ(Run({"delete", "/f"}), 1);  // no key named: the parameters key is never meant
  EXPECT_EQ(Run({"delete", profile}, "no\n"), 1);
  EXPECT_TRUE(hive_.KeyExists(profile));
  EXPECT_EQ(Run({"delete", "HKLM\\" + profile, "/f"}), 0) << err_.str();
  EXPECT_EQ(hive_.Keys(), std::vector<std::string>{"SOFTWARE\\Corvane\\Other"});
  EXPECT_EQ(Run({"delete", profile, "/f"}), 1);
  EXPECT_NE(err_.str().find("unable to find"), std::string::npos);
}

TEST_F(RegCommandTest, BadInputIsRefusedWithAMessage) {
  EXPECT_EQ(Run({}), 1);
  EXPECT_EQ(Run({"frobnicate"}), 1);
  EXPECT_EQ(Run({"add", "/v", "X"}), 1);
  EXPECT_EQ(Run({"add", "/v", "X", "/t", "REG_BINARY", "/d", "1"}), 1);
  EXPECT_EQ(Run({"add", "/v", "X", "/t", "REG_DWORD", "/d", "ten"}), 1);
  EXPECT_EQ(Run({"add", "/v", "X", "/t", "REG_DWORD", "/d", "-1"}), 1);
  EXPECT_EQ(Run({"query", "SOFTWARE\\Missing"}), 1);
  EXPECT_NE(err_.str().find("unable to find"), std::string::npos);
  EXPECT_EQ(Run({"query", "/x"}), 1);
  EXPECT_EQ(Run({"add", "/v", "Two\nLines", "/d", "x"}), 1);  // would break the file
  EXPECT_NE(err_.str().find("control character"), std::string::npos) << err_.str();
}

// A mistyped or badly written value of the parameters key is still written, with a warning.
TEST_F(RegCommandTest, AddWarnsAboutValuesTheServiceWouldNotRead) {
  EXPECT_EQ(Run({"add", "/v", "DISPLAY_NAM", "/d", "1", "/f"}), 0);
  EXPECT_EQ(err_.str(), "WARNING: DISPLAY_NAM is not a value Corvane reads (did you mean DISPLAY_NAME?)\n");
  EXPECT_TRUE(hive_.Get(registry::kParametersKeyPath, "DISPLAY_NAM"));
  EXPECT_EQ(Run({"add", "/v", "ScheduleType", "/d", "7", "/f"}), 0);
  EXPECT_EQ(err_.str(), "WARNING: ScheduleType: \"7\" is not one of 0, 1, 2, 3, 4, 5, 6, 9\n");
  EXPECT_EQ(Run({"add", "SOFTWARE\\Other", "/v", "DISPLAY_NAM", "/d", "1"}), 0);  // other keys: no opinion
  EXPECT_EQ(err_.str(), "");
}

TEST_F(RegCommandTest, AHandEditedHiveIsReadAndADamagedOneReported) {
  std::ofstream(dir_ / "registry.hive") << "[SYSTEM\\CurrentControlSet\\Services\\Corvane Service\\Parameters]\n"
                                           "\"RunSQLPreParse\"=\"1\"\n";
  ASSERT_EQ(Run({"query", "/v", "RunSQLPreParse"}), 0);
  EXPECT_NE(out_.str().find("RunSQLPreParse    REG_SZ    1"), std::string::npos);
  std::ofstream(dir_ / "registry.hive") << "[K]\nbroken\n";
  EXPECT_EQ(Run({"query"}), 1);
  EXPECT_NE(err_.str().find("registry.hive:2:"), std::string::npos) << err_.str();
}

}  // namespace
}  // namespace corvane::tools
