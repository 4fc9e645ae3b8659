#include "platform/registry/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace corvane::registry {
namespace {

class HiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/corvane-hive-XXXXXX";
    dir_ = mkdtemp(tmpl);
    file_ = dir_ / "registry.hive";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string ReadFile() {
    std::ifstream in(file_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  void WriteFile(const std::string& text) { std::ofstream(file_) << text; }

  std::filesystem::path dir_, file_;
  const std::string key_{kParametersKeyPath};
};

TEST_F(HiveTest, EveryTypeRoundTripsThroughTheFile) {
  Hive hive(file_);
  EXPECT_FALSE(hive.Get(key_, "TableName").has_value());
  hive.Set(key_, "TableName", Value::Sz("GAL"));
  hive.Set(key_, "ConnectionString", Value::ExpandSz("Driver=SQLite3;Database=C:\\x \"q\"\r\nline2\t%PATH%"));
  hive.Set(key_, "TimerInterval", Value::Number(10000));
  hive.Set(key_, "Empty", Value::Sz(""));

  Hive again(file_);
  EXPECT_EQ(again.Get(key_, "TableName"), Value::Sz("GAL"));
  EXPECT_EQ(again.Get(key_, "ConnectionString"), Value::ExpandSz("Driver=SQLite3;Database=C:\\x \"q\"\r\nline2\t%PATH%"));
  EXPECT_EQ(again.Get(key_, "TimerInterval"), Value::Number(10000));
  EXPECT_EQ(again.Get(key_, "TimerInterval")->AsText(), "10000");
  EXPECT_EQ(again.Get(key_, "Empty"), Value::Sz(""));
  EXPECT_EQ(again.List(key_).size(), 4u);
}

TEST_F(HiveTest, NamesCompareWithoutCaseAndKeepTheirFirstSpelling) {
  Hive hive(file_);
  hive.Set(key_, "ConnectionString", Value::ExpandSz("a"));
  hive.Set("system\\currentcontrolset\\services\\corvane service\\PARAMETERS", "connectionstring", Value::Sz("b"));
  auto values = hive.List(key_);
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].name, "ConnectionString");
  EXPECT_EQ(values[0].value, Value::Sz("b"));
  EXPECT_EQ(hive.Keys(), std::vector<std::string>{key_});
}

TEST_F(HiveTest, DeleteValueAndKeyTree) {
  Hive hive(file_);
  hive.Set(key_, "A", Value::Sz("1"));
  hive.Set(std::string(kServiceKeyPath), "B", Value::Sz("2"));
  hive.Set("SOFTWARE\\Other", "C", Value::Sz("3"));
  EXPECT_TRUE(hive.Delete(key_, "a"));
  EXPECT_FALSE(hive.Delete(key_, "a"));
  EXPECT_TRUE(hive.KeyExists(key_));
  EXPECT_TRUE(hive.DeleteKey(kServiceKeyPath));
  EXPECT_EQ(hive.Keys(), std::vector<std::string>{"SOFTWARE\\Other"});
}

TEST_F(HiveTest, FileIsPrivateAndReadableByAPerson) {
  Hive hive(file_);
  hive.Set(key_, "ConnectionString", Value::ExpandSz("PWD=secret"));
  struct stat st{};
  ASSERT_EQ(stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::string text = ReadFile();
  EXPECT_NE(text.find("[SYSTEM\\CurrentControlSet\\Services\\Corvane Service\\Parameters]\n"), std::string::npos);
  EXPECT_NE(text.find("\"ConnectionString\"=expand:\"PWD=secret\"\n"), std::string::npos);
}

// Root writing another user's hive (an administrator's sudo corvane-reg on
// the service's home) leaves it, and its lock, to that user.
TEST_F(HiveTest, RootKeepsTheOwnerOfTheHiveAndItsFolder) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  const uid_t user = 65534;  // nobody
  ASSERT_EQ(::chown(dir_.c_str(), user, user), 0);
  Hive hive(file_);
  hive.Set(key_, "TableName", Value::Sz("GAL"));  // a new hive: the folder's owner
  hive.Set(key_, "TableName", Value::Sz("GAL2"));  // a replaced hive: the hive's owner
  for (const auto& path : {file_, std::filesystem::path(file_.string() + ".lock")}) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
    EXPECT_EQ(st.st_uid, user) << path;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << path;
  }
}

TEST_F(HiveTest, HandEditIsReadBack) {
  WriteFile(
      "; edited by hand\n"
      "\n"
      "[SYSTEM\\CurrentControlSet\\Services\\Corvane Service\\Parameters]\n"
      "  \"DOS\"=\"True\"   \n"
      "\"ToDoCount\"=dword:0000000A\r\n");
  Hive hive(file_);
  EXPECT_EQ(hive.Get(key_, "dos"), Value::Sz("True"));
  EXPECT_EQ(hive.Get(key_, "todocount"), Value::Number(10));
  hive.Set(key_, "NoParse", Value::Sz("1"));  // a write keeps the hand-written values
  EXPECT_EQ(hive.Get(key_, "DOS"), Value::Sz("True"));
}

TEST_F(HiveTest, DamagedFileIsReportedWithItsLineAndNeverReplaced) {
  const std::string damaged =
      "[SYSTEM\\CurrentControlSet\\Services\\Corvane Service\\Parameters]\n"
      "\"TableName\"=\"GAL\"\n"
      "\"TempTableName\"=\"TEMP_GAL\n";
  WriteFile(damaged);
  Hive hive(file_);
  try {
    hive.Get(key_, "TableName");
    FAIL() << "a damaged hive must not read as empty";
  } catch (const RegistryError& e) {
    EXPECT_NE(std::string(e.what()).find(file_.string() + ":3:"), std::string::npos) << e.what();
  }
  EXPECT_THROW(hive.Set(key_, "TableName", Value::Sz("X")), RegistryError);
  EXPECT_EQ(ReadFile(), damaged);

  for (const char* bad : {"\"A\"=\"1\"\n", "[K]\nnonsense\n", "[K]\n\"A\"=dword:12\n", "[K]\n\"A\"=\"1\"\n\"a\"=\"2\"\n",
                          "[K]\n[k]\n", "[K]\n\"A\"=\"x\\q\"\n"}) {
    WriteFile(bad);
    EXPECT_THROW(hive.List("K"), RegistryError) << bad;
  }
}

TEST_F(HiveTest, NamesThatWouldBreakTheFileAreRefusedAndTheHiveStaysReadable) {
  Hive hive(file_);
  hive.Set(key_, "TableName", Value::Sz("GAL"));
  const struct {
    std::string key, name;
  } refused[] = {{"SOFTWARE\\A\nB", "x"}, {key_, "Table\nName"}, {key_, std::string("a\0b", 3)},
                 {key_, "tab\there"},     {"", "x"},               {"SOFTWARE\\\x7f", "x"}};
  for (const auto& r : refused) {
    EXPECT_THROW(hive.Set(r.key, r.name, Value::Sz("v")), RegistryError) << r.key << "|" << r.name;
  }
  EXPECT_THROW(hive.CreateKey("SOFTWARE\\A\rB"), RegistryError);
  EXPECT_EQ(Hive(file_).List(key_).size(), 1u);
  EXPECT_EQ(Hive(file_).Keys(), std::vector<std::string>{key_});
}

TEST_F(HiveTest, AHiveThatIsASymbolicLinkIsWrittenThroughToItsTarget) {
  std::filesystem::create_directories(dir_ / "elsewhere");
  const auto target = dir_ / "elsewhere" / "real.hive";
  std::filesystem::create_symlink("elsewhere/real.hive", file_);  // relative, as ln -s makes it
  Hive hive(file_);
  hive.Set(key_, "TableName", Value::Sz("GAL"));
  hive.Set(key_, "TempTableName", Value::Sz("TEMP_GAL"));
  EXPECT_TRUE(std::filesystem::is_symlink(file_));
  EXPECT_EQ(Hive(target).Get(key_, "TableName"), Value::Sz("GAL"));
  EXPECT_EQ(Hive(target).List(key_).size(), 2u);
}

TEST_F(HiveTest, TemporaryFilesOfKilledWritersAreRemovedByTheNextWriter) {
  pid_t gone = fork();
  ASSERT_GE(gone, 0);
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);  // its pid now names no process
  const auto stale = file_.string() + ".tmp." + std::to_string(gone);
  const auto live = file_.string() + ".tmp." + std::to_string(getppid());
  std::ofstream(stale) << "PWD=secret";
  std::ofstream(live) << "a writer still at work";
  Hive(file_).Set(key_, "TableName", Value::Sz("GAL"));
  EXPECT_FALSE(std::filesystem::exists(stale));
  EXPECT_TRUE(std::filesystem::exists(live));
}

TEST_F(HiveTest, TwoProcessesWritingConcurrentlyLoseNothing) {
  constexpr int kWrites = 150;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      Hive hive(file_);
      for (int i = 0; i < kWrites; ++i) hive.Set(key_, "P" + std::to_string(c) + "_" + std::to_string(i), Value::Sz("v"));
      _exit(0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(Hive(file_).List(key_).size(), 2u * kWrites);
  EXPECT_FALSE(std::filesystem::exists(file_.string() + ".tmp." + std::to_string(getpid())));
}

}  // namespace
}  // namespace corvane::registry
