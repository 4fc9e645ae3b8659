// The distribution-list import after a real update run: the import file
// byte for byte, the tool's command line and arguments, its events, and
// the ways it ends early.
#include "service/export/import_dl.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tests/export/export_fixture.h"

namespace corvane::testing {
namespace {

using ntservice::EVENTLOG_INFORMATION_TYPE;

const std::string kFolder = "/opt/corvane/bin";

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class ImportDL : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    auto db = OpenTestDatabase(GetParam(), "importdl");
    CORVANE_REQUIRE_DATABASE(db);
    h = std::make_unique<Harness>(*db);
    h->ConfigureDefaults();
    h->library.entries = {
        Entry("00A1", "Ann", "O'Hara", "SMTP:ann.o'hara@example.org{;},smtp:ann@example.org{;},X400:c=US;a= ;p=Org{;}"),
        Entry("00A2", "Bob", "Roe", std::nullopt), Entry("00A3", "Cy", "Low", ""),
        Entry("00A4", "Dee", "Zhang", "smtp:dee@x.org{;},SMTP:Dee.Zhang@x.org{;}")};
    file = h->db.dir / "dl list.csv";
    auto& s = h->control.settings;
    s["EMS_AB_PROXY_ADDRESSES"] = "1";
    s["DistListFile"] = file.string();
    s["DistListName"] = "All \"Staff\"; O'Hara";
    s["DistListServer"] = "ldap://dc1.example.org";
    s["DistListOrg"] = "DC=example,DC=org";
    s["DistListCon"] = "Users";
    h->w.DistList = true;
    h->hooks.ImportDL = [this](service::ExportContext& w) { service::ImportDL(w, h->shell, kFolder); };
  }
  void TearDown() override {
    if (!h) return;
    auto c = h->Db();
    Quietly(*c, "drop table " + h->w.TableName);
    Quietly(*c, "drop table " + h->w.TempTableName);
  }
  std::vector<std::string> Started() const {
    return {kFolder + "/dsimport", "/FILE=" + file.string(), "/DSA=ldap://dc1.example.org",
            "/BASEPOINT=DC=example,DC=org", "/CONTAINER=Users"};
  }
  std::vector<std::string> ListEvents() const {
    std::vector<std::string> texts;
    for (const auto& e : h->EventTexts(EVENTLOG_INFORMATION_TYPE, 110))
      if (e.rfind("Distribution list", 0) == 0 || e.rfind("No Distribution list", 0) == 0) texts.push_back(e);
    return texts;
  }
  std::unique_ptr<Harness> h;
  fs::path file;
};

TEST_P(ImportDL, WritesEveryProxyListAsAMemberAndStartsTheTool) {
  ASSERT_EQ(h->Run(), true);
  // The member lines follow the rows in the order the database returns them.
  std::string expected = "Obj-Class, Directory Name, members\r\n";
  auto c = h->Db();
  for (auto& row : ReadRows(*c, "Select EMS_AB_PROXY_ADDRESSES from " + h->w.TableName)) {
    auto& v = row["EMS_AB_PROXY_ADDRESSES"];
    if (v && !v->empty()) expected += "DL,All \"Staff\"; O'Hara," + *v + "\r\n";
  }
  EXPECT_EQ(ReadFile(file), expected);
  EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);  // whatever the umask
  EXPECT_NE(expected.find("DL,All \"Staff\"; O'Hara,SMTP:ann.o'hara@example.org{;},smtp:ann@example.org{;},"
                          "X400:c=US;a= ;p=Org{;}\r\n"),
            std::string::npos);
  EXPECT_EQ(h->shell.started, std::vector<std::vector<std::string>>{Started()});
  EXPECT_TRUE(h->Logged(kFolder + "/dsimport /FILE=\"" + file.string() +
                        "\" /DSA=\"ldap://dc1.example.org\" /BASEPOINT=\"DC=example,DC=org\" /CONTAINER=\"Users\""))
      << h->LogText();
  EXPECT_TRUE(h->Logged("importdl About to open ADO Objects"));
  EXPECT_TRUE(h->Logged("importdl Opened ADO Objects"));
  EXPECT_EQ(ListEvents(), std::vector<std::string>{"Distribution list creation started with 2 entries.\r\n"});
  EXPECT_FALSE(h->w.ServiceConnection);

  // Quiet events: the file and the tool, no event. Rows without addresses
  // leave the header alone, and the tool still starts.
  h->w.NoExtraEvents = 1;
  c->Execute("update " + h->w.TableName + " set EMS_AB_PROXY_ADDRESSES = NULL");
  service::ImportDL(h->w, h->shell, kFolder);
  EXPECT_EQ(ReadFile(file), "Obj-Class, Directory Name, members\r\n");
  EXPECT_EQ(h->shell.started.size(), 2u);
  EXPECT_EQ(ListEvents().size(), 1u);
}

TEST_P(ImportDL, TheListIsReplacedWholeSoAnImportReadingTheOldOneReadsItWhole) {
  pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  waitpid(child, nullptr, 0);
  const fs::path dead = file.string() + ".importdl." + std::to_string(child);
  std::ofstream(dead) << "DL,half a list";
  const std::string old_list = "Obj-Class, Directory Name, members\r\nDL,Old,SMTP:old@example.org{;}\r\n";
  std::ofstream(file, std::ios::binary) << old_list;
  std::ifstream reading(file, std::ios::binary);  // dsimport, still reading the last run's list
  ASSERT_EQ(h->Run(), true);
  std::stringstream seen;
  seen << reading.rdbuf();
  EXPECT_EQ(seen.str(), old_list);
  EXPECT_NE(ReadFile(file).find("DL,All \"Staff\"; O'Hara,SMTP:ann.o'hara@example.org{;}"), std::string::npos);
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(file.parent_path()))
    if (e.path().filename().string().rfind(file.filename().string(), 0) == 0) names.push_back(e.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{file.filename().string()});  // no temporary file, none left by the dead
}

TEST_P(ImportDL, MissingFileNameSwitchesTheImportOffForTheProcess) {
  h->control.settings["DistListFile"] = "";
  ASSERT_EQ(h->Run(), true);
  ASSERT_EQ(h->Run(), true);
  EXPECT_EQ(ListEvents(), std::vector<std::string>{"No Distribution list created since temporary filename was invalid.\r\n"});
  EXPECT_FALSE(h->w.DistList);
  EXPECT_TRUE(h->shell.started.empty());
  EXPECT_FALSE(fs::exists(file));
}

TEST_P(ImportDL, FinalTableWithoutTheProxyColumnGivesTheHeaderAndNoTool) {
  h->control.settings["EMS_AB_PROXY_ADDRESSES"] = "0";
  ASSERT_EQ(h->Run(), true);
  EXPECT_EQ(ReadFile(file), "Obj-Class, Directory Name, members\r\n");
  EXPECT_TRUE(h->shell.started.empty());
  EXPECT_TRUE(ListEvents().empty());
  EXPECT_FALSE(h->w.ServiceConnection);
}

INSTANTIATE_TEST_SUITE_P(Databases, ImportDL, ::testing::Values("sqlite", "postgres"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace corvane::testing
