// The whole export with the real GAL reader library: the bundled sample
// directory read through libCorvane.so into SQLite and PostgreSQL, with the
// final table checked against the temporary table by rules written here.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "service/export/gal_library.h"
#include "service/export/update_run.h"
#include "tests/export/export_fixture.h"

namespace corvane::testing {
namespace {

using ntservice::EVENTLOG_INFORMATION_TYPE;

// What the address columns should hold, derived from the proxy text.
struct Expected {
  std::vector<std::optional<std::string>> addr = std::vector<std::optional<std::string>>(5);
  std::optional<std::string> smtp;  // NULL when there is none: empty values are not copied
};

Expected Derive(const std::optional<std::string>& proxies) {
  Expected e;
  if (!proxies || proxies->empty()) return e;
  std::string text = std::regex_replace(*proxies, std::regex("(\\{;\\})+$"), "");
  std::vector<std::string> items;
  std::string rest = text;
  for (;;) {
    auto cut = rest.find("{;},");
    items.push_back(rest.substr(0, cut));
    if (cut == std::string::npos) break;
    rest = rest.substr(cut + 4);
  }
  for (size_t i = 0; i < 5 && i < items.size(); ++i) e.addr[i] = items[i];
  std::smatch m;
  if (std::regex_search(text, m, std::regex("SMTP:(.*?)(\\{;\\}|$)")) && !m[1].str().empty()) e.smtp = m[1].str();
  return e;
}

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class EndToEnd : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (!fs::exists(BinDir() / "libCorvane.so")) GTEST_SKIP() << "libCorvane.so not built";
    auto db = OpenTestDatabase(GetParam(), "e2e");
    CORVANE_REQUIRE_DATABASE(db);
    // The library keeps its profile under the Corvane home and its log in
    // the current directory.
    home = db->dir / "home";
    fs::create_directories(home);
    setenv("CORVANE_HOME", home.c_str(), 1);
    oldDir = fs::current_path();
    fs::current_path(db->dir);
    h = std::make_unique<Harness>(*db);
    h->ConfigureDefaults();
    h->control.settings["Mailbox"] = "corvane.service";
    h->control.settings["Server"] = (SourceDir() / "samples" / "directory.ldif").string();
    library = std::make_unique<service::DynamicGalLibrary>(BinDir());
    h->hooks.library = library.get();
  }
  void TearDown() override {
    if (!h) return;
    auto c = h->Db();
    Quietly(*c, "drop table " + h->w.TableName);
    Quietly(*c, "drop table " + h->w.TempTableName);
    fs::current_path(oldDir);
  }
  int Find(const std::string& prefix) {
    for (int i = 0; i < static_cast<int>(h->entries.size()); ++i)
      if (h->entries[i].rfind(prefix, 0) == 0) return i;
    return -1;
  }
  fs::path home, oldDir;
  std::unique_ptr<Harness> h;
  std::unique_ptr<service::DynamicGalLibrary> library;
};

TEST_P(EndToEnd, SampleDirectoryIntoTheFinalTable) {
  // With the log file on: the library gets "FALSE" and logs everything.
  ASSERT_TRUE(h->log.OpenFile(h->db.dir / "corvane.log"));
  h->w.FileLogging = true;
  ASSERT_EQ(h->Run(), true) << h->LogText();
  EXPECT_GE(Find("Profile: 0"), 0) << h->LogText();
  int countLine = Find("Total GAL entries: ");
  ASSERT_GE(countLine, 0);
  long galCount = std::stol(h->entries[countLine].substr(19));
  EXPECT_GT(galCount, 250);
  EXPECT_GE(Find("Review corvaneDLL.Log"), 0);

  auto c = h->Db();
  auto temp = ReadRows(*c, "select * from " + h->w.TempTableName);
  auto final = ReadRows(*c, "select * from " + h->w.TableName);
  EXPECT_EQ(static_cast<long>(final.size()), galCount);
  EXPECT_EQ(final.size(), temp.size());
  std::map<std::string, Row> byId;
  for (auto& r : temp) byId[*r["ENTRY_ID"]] = r;
  int withSmtp = 0, withFive = 0;
  for (auto& f : final) {
    ASSERT_TRUE(f["ENTRY_ID"].has_value());
    auto t = byId.find(*f["ENTRY_ID"]);
    ASSERT_NE(t, byId.end()) << *f["ENTRY_ID"];
    Expected e = Derive(t->second["EMS_AB_PROXY_ADDRESSES"]);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(f["ADDR" + std::to_string(i + 1)], e.addr[i]) << *f["ENTRY_ID"];
    EXPECT_EQ(f["SMTP"], e.smtp) << *f["ENTRY_ID"];
    withSmtp += e.smtp.has_value();
    withFive += e.addr[4].has_value();
    // Selected columns are copied unchanged, quotes and all.
    for (const char* column : {"SURNAME", "DISPLAY_NAME", "ACCOUNT", "DEFSMTP"}) {
      auto v = t->second[column];
      EXPECT_EQ(f[column], v && v->empty() ? std::nullopt : v) << column << " of " << *f["ENTRY_ID"];
    }
  }
  EXPECT_GT(withSmtp, 200);
  EXPECT_GT(withFive, 0);

  EXPECT_EQ(h->control.settings["LastSuccessfulRun"], "1-1-2027 0:5:30 AM");
  auto info = h->EventTexts(EVENTLOG_INFORMATION_TYPE, 110);
  ASSERT_EQ(info.size(), 2u);
  EXPECT_TRUE(h->EventTexts(1, 109).empty());

  // No password anywhere: run log, log file, events, library log.
  std::string password = GetParam() == "postgres" ? "corvane-test" : "";
  if (!password.empty()) {
    h->log.CloseFile();
    EXPECT_EQ(h->LogText().find(password), std::string::npos);
    EXPECT_EQ(ReadFile(h->db.dir / "corvane.log").find(password), std::string::npos);
    for (const auto& e : h->control.events) EXPECT_EQ(e.text.find(password), std::string::npos);
    std::string libraryLog = ReadFile(h->db.dir / "CorvaneDLL.log");
    EXPECT_FALSE(libraryLog.empty());
    EXPECT_EQ(libraryLog.find(password), std::string::npos);
  }

  // The profile exists now: the next run gets 1 and still exports.
  h->entries.clear();
  h->w.FileLogging = false;
  ASSERT_EQ(h->Run(), true);
  EXPECT_GE(Find("Profile: 1"), 0);
  EXPECT_EQ(static_cast<long>(ReadRows(*c, "select entry_id from " + h->w.TableName).size()), galCount);
}

TEST_P(EndToEnd, MailboxThatIsNotInTheDirectoryStopsTheService) {
  h->control.settings["Mailbox"] = "nobody.here";
  EXPECT_EQ(h->Run(), std::nullopt);
  EXPECT_GE(Find("Total GAL entries: 0"), 0);
  EXPECT_TRUE(h->control.stopRequested);
  EXPECT_FALSE(h->run.RunInProgress);
}

INSTANTIATE_TEST_SUITE_P(Databases, EndToEnd, ::testing::Values("sqlite", "postgres", "mariadb"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace corvane::testing
