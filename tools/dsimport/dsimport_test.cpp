// dsimport without a server: the list file and the settings it refuses,
// a group kept in an LDIF file, the requests a change is cut into, and
// what a refusal half way reports.
#include "tools/dsimport/dsimport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include "tools/dsimport/group_changes.h"
#include "tools/dsimport/test_support.h"

namespace corvane::dsimport {
namespace {

namespace fs = std::filesystem;
using dirgroup::ChangeRecord;
using testing::ReadFile;

constexpr const char* kBase = "DC=harbourline,DC=example";
constexpr const char* kHeader = "Obj-Class, Directory Name, members\r\n";

class DsImport : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("dsimport_test_" + std::to_string(getpid()));
    fs::create_directories(dir);
    directory = dir / "directory.ldif";
    fs::copy_file(fs::path(std::getenv("CORVANE_SOURCE_DIR")) / "samples" / "directory.ldif", directory);
    options = {(dir / "dl.csv").string(), directory.string(), kBase, "Groups", false};
  }
  void TearDown() override { fs::remove_all(dir); }

  void WriteList(const std::string& text) { std::ofstream(options.file, std::ios::binary) << text; }
  std::string Import() { return testing::ImportReport(options); }

  fs::path dir, directory;
  ImportOptions options;
};

TEST_F(DsImport, RefusesBadListsAndSettingsAndChangesNothing) {
  const std::string member = "DL,Fleet,SMTP:sobrien@harbourline.example{;}\r\n";
  struct Case {
    std::string list;
    std::function<void(ImportOptions&)> change;
    std::string message;
  } cases[] = {
      {"", {}, "the file is empty"},
      {"Class,Name,Members\r\n" + member, {}, "dl.csv, line 1: expected the header"},
      {kHeader + std::string("DL,Fleet, London,SMTP:a@x.org{;}\r\n"), {}, "line 2: the members column \" London,SMTP"},
      {kHeader + member + "\r\nDL,Other,SMTP:a@x.org{;}\r\n", {}, "line 4: names the list \"Other\", but line 2"},
      {kHeader + std::string("XL,Fleet,SMTP:a@x.org{;}\r\n"), {}, "line 2: the first column is \"XL\""},
      {kHeader + std::string("DL,,SMTP:a@x.org{;}\r\n"), {}, "line 2: the list name is empty"},
      {kHeader + std::string("DL,Fleet,SMTP:nobody@nowhere.example{;}\r\n"), {}, "none of the 1 members was found"},
      {kHeader + member, [](ImportOptions& o) { o.container = "Nope"; }, "no container CN=Nope or OU=Nope directly"},
      {kHeader + member, [](ImportOptions& o) { o.base_point = "DC=elsewhere"; }, "base point \"DC=elsewhere\" does"},
      {kHeader + member, [](ImportOptions& o) { o.base_point = "not a DN"; }, "\"not a DN\" is not a valid"},
      {kHeader + member, [](ImportOptions& o) { o.dsa.clear(); }, "/DSA= is empty (the service takes it from the "
                                                                   "parameter \"DistListServer\")"},
      {kHeader + member, [this](ImportOptions& o) { o.dsa = (dir / "none.ldif").string(); }, "cannot open LDIF file"},
      {kHeader + member, [](ImportOptions& o) { o.dsa = "ldap://127.0.0.1:1"; }, "Can't contact LDAP server"},
  };
  const std::string before = ReadFile(directory);
  for (const auto& c : cases) {
    ImportOptions saved = options;
    WriteList(c.list);
    if (c.change) c.change(options);
    std::string result = Import();
    EXPECT_EQ(result.rfind("error: ", 0), 0u) << c.message << "\n" << result;
    EXPECT_NE(result.find(c.message), std::string::npos) << result;
    options = saved;
  }
  EXPECT_EQ(ReadFile(directory), before);
}

TEST_F(DsImport, GroupInAnLdifFileIsRewrittenInPlaceAndTheRestKeptByteForByte) {
  // dl15 stands in the middle of the file with members of its own.
  const std::string before = ReadFile(directory);
  const size_t at = before.find("dn: CN=dl15,OU=Groups,");
  const size_t end = before.find("\n\n", at) + 1;
  WriteList(kHeader + std::string("DL,dl15,SMTP:sobrien@harbourline.example{;}\r\n") +
            "DL,dl15,smtp:old@harbourline.example{;},SMTP:jdarcy@harbourline.example{;}\r\n"
            "DL,dl15,SMTP:gone@harbourline.example{;}\r\n");
  std::string report = Import();
  EXPECT_NE(report.find("updated: CN=dl15,OU=Groups,DC=harbourline,DC=example: 2 members; added 1, removed 4, "
                        "unchanged 1, unresolved 1"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("unresolved: line 4: SMTP:gone@harbourline.example: no entry"), std::string::npos) << report;
  std::string after = ReadFile(directory);
  std::string entry = before.substr(at, end - at);
  size_t first_member = entry.find("member: ");
  std::string rewritten = entry.substr(0, first_member) + "member: CN=jdarcy,OU=Staff,DC=harbourline,DC=example\n" +
                          "member: CN=sobrien,OU=Staff,DC=harbourline,DC=example\n";
  EXPECT_EQ(after, before.substr(0, at) + rewritten + before.substr(end));

  // The same list again changes nothing; a dry run prints and changes nothing.
  EXPECT_NE(Import().find("unchanged: CN=dl15"), std::string::npos);
  EXPECT_EQ(ReadFile(directory), after);
  options.dry_run = true;
  WriteList(kHeader + std::string("DL,New List,SMTP:sobrien@harbourline.example{;}\r\n"));
  report = Import();
  EXPECT_NE(report.find("dn: CN=New List,OU=Groups,DC=harbourline,DC=example\nchangetype: add\nobjectClass: top\n"
                        "objectClass: group\ncn: New List\ngroupType: 8\nmember: CN=sobrien,OU=Staff,"),
            std::string::npos)
      << report;
  EXPECT_EQ(ReadFile(directory), after);
}

TEST_F(DsImport, WithoutDirectoryGroupsANewGroupIsAGroupOfNamesAtTheEnd) {
  const std::string before = std::string("dn: ") + kBase + "\r\nobjectClass: domain\r\n\r\n" +
                             "dn: OU=Lists," + kBase + "\r\nobjectClass: organizationalUnit\r\n\r\n" +
                             "dn: uid=ann," + kBase + "\r\nobjectClass: inetOrgPerson\r\ncn: Ann\r\nsn: A\r\n" +
                             "mail: ann@x.org\r\n";  // no blank line at the end
  std::ofstream(directory, std::ios::binary | std::ios::trunc) << before;
  options.container = "Lists";
  WriteList(kHeader + std::string("DL,Ann's list,SMTP:ANN@x.org{;}\r\n"));
  EXPECT_NE(Import().find("created: "), std::string::npos);
  EXPECT_EQ(ReadFile(directory), before + "\r\ndn: CN=Ann's list,OU=Lists," + kBase +
                                     "\r\nobjectClass: top\r\nobjectClass: groupOfNames\r\ncn: Ann's list\r\n" +
                                     "member: uid=ann," + kBase + "\r\n");
}

TEST_F(DsImport, APrimaryAddressWinsAndAnAmbiguousLineKeepsItsMember) {
  // anna holds ann's primary address as a secondary one; dup1 and dup2
  // share a primary address; all but dup2 are members now.
  auto person = [](const std::string& uid, const std::string& proxies) {
    std::string text = "dn: uid=" + uid + "," + kBase + "\nobjectClass: inetOrgPerson\ncn: " + uid + "\nsn: " + uid + "\n";
    for (size_t at = 0; at < proxies.size();) {
      size_t end = std::min(proxies.find(' ', at), proxies.size());
      text += "proxyAddresses: " + proxies.substr(at, end - at) + "\n";
      at = end + 1;
    }
    return text + "\n";
  };
  std::ofstream(directory, std::ios::binary | std::ios::trunc)
      << "dn: " << kBase << "\nobjectClass: domain\n\ndn: OU=Lists," << kBase << "\nobjectClass: organizationalUnit\n\n"
      << person("ann", "SMTP:ann@x.org smtp:a@x.org") << person("anna", "SMTP:anna@x.org smtp:ann@x.org")
      << person("dup1", "SMTP:dup@x.org") << person("dup2", "SMTP:dup@x.org smtp:dup2@x.org")
      << person("eve", "SMTP:eve@x.org") << "dn: CN=Team,OU=Lists," << kBase
      << "\nobjectClass: groupOfNames\ncn: Team\nmember: uid=ann," << kBase << "\nmember: uid=dup1," << kBase
      << "\nmember: uid=eve," << kBase << "\n";
  options.container = "Lists";
  WriteList(kHeader + std::string("DL,Team,SMTP:ann@x.org{;},smtp:a@x.org{;}\r\n") + "DL,Team,SMTP:dup@x.org{;}\r\n" +
            "DL,Team,SMTP:dup@x.org{;},smtp:dup2@x.org{;}\r\n");
  const std::string report = Import();
  EXPECT_NE(report.find(std::string("unresolved: line 3: SMTP:dup@x.org: its address \"SMTP:dup@x.org\" belongs to 2 "
                                    "entries; kept the member uid=dup1,") + kBase + "\n"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("updated: CN=Team,OU=Lists," + std::string(kBase) + ": 3 members; added 1, removed 1, "
                        "unchanged 2, unresolved 1 (1 kept as members though their lines are ambiguous)"),
            std::string::npos)
      << report;
  const std::string after = ReadFile(directory);
  const std::string group = after.substr(after.find("dn: CN=Team"));
  EXPECT_EQ(group, "dn: CN=Team,OU=Lists," + std::string(kBase) + "\nobjectClass: groupOfNames\ncn: Team\nmember: uid=ann," +
                       kBase + "\nmember: uid=dup1," + kBase + "\nmember: uid=dup2," + kBase + "\n");
}

TEST_F(DsImport, RewritingAnLdifFileRemovesWhatAKilledImportLeftThere) {
  pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  waitpid(child, nullptr, 0);  // its process id is now free: a dead writer's
  const fs::path dead = directory.string() + ".dsimport." + std::to_string(child);
  const fs::path live = directory.string() + ".dsimport.1";  // init runs for as long as the machine
  std::ofstream(dead) << "half a directory";
  std::ofstream(live) << "another writer's";
  WriteList(kHeader + std::string("DL,dl15,SMTP:sobrien@harbourline.example{;}\r\n"));
  EXPECT_NE(Import().find("updated: "), std::string::npos);
  EXPECT_FALSE(fs::exists(dead));
  EXPECT_TRUE(fs::exists(live));
}

// Stands for a server that refuses one request.
class RefusingDirectory : public dirgroup::GroupDirectory {
 public:
  explicit RefusingDirectory(size_t refuse) : refuse_(refuse) {}
  std::string Describe() const override { return "test directory"; }
  std::string FindContainer(const std::string&, const std::string&) override { return {}; }
  dirgroup::GroupEntry ReadGroup(const std::string&) override { return {}; }
  dirgroup::GroupKind NewGroupKind() override { return dirgroup::GroupKind::GroupOfNames; }
  void ScanAddresses(const std::function<void(const mapi::DirEntry&)>&) override {}
  void Apply(const std::vector<ChangeRecord>& records, const std::function<void(size_t)>& applied) override {
    for (size_t i = 0; i < records.size(); ++i) {
      if (i == refuse_) throw dirgroup::DirectoryError("Constraint violation");
      sent.push_back(records[i]);
      applied(i);
    }
  }
  std::vector<ChangeRecord> sent;

 private:
  size_t refuse_;
};

TEST(GroupChanges, ChunksAddsBeforeRemovalsAndAHalfWayRefusalSaysWhatTookEffect) {
  dirgroup::GroupEntry current{true, dirgroup::GroupKind::GroupOfNames, {"cn=a", "cn=b", "cn=c", "cn=Old1", "cn=old2"}};
  std::vector<std::string> wanted = {"CN=A", "cn=b", "cn=c", "cn=n1", "cn=n2", "cn=n3", "cn=n4", "cn=n5"};
  GroupChanges g = PlanGroupChanges("cn=g", "g", dirgroup::GroupKind::GroupOfNames, current, wanted, 2);
  EXPECT_EQ(g.added, (std::vector<std::string>{"cn=n1", "cn=n2", "cn=n3", "cn=n4", "cn=n5"}));
  EXPECT_EQ(g.removed, (std::vector<std::string>{"cn=Old1", "cn=old2"}));
  EXPECT_EQ(g.unchanged, 3u);
  EXPECT_EQ(g.steps, (std::vector<std::string>{"add members 1-2 of 5", "add members 3-4 of 5", "add members 5-5 of 5",
                                               "remove members 1-2 of 2"}));
  for (const auto& r : g.records) EXPECT_LE(r.changes[0].values.size(), 2u);

  RefusingDirectory dir(1);
  try {
    ApplyGroupChanges(dir, g);
    FAIL() << "the refusal was not reported";
  } catch (const dirgroup::DirectoryError& e) {
    EXPECT_STREQ(e.what(), "request 2 of 4 (add members 3-4 of 5) failed: Constraint violation; the group was changed "
                           "in part: request 1 of 4 took effect (add members 1-2 of 5); requests 3 to 4 were not "
                           "sent");
  }
  EXPECT_EQ(dir.sent.size(), 1u);
  // Nothing to change: no request at all.
  EXPECT_TRUE(PlanGroupChanges("cn=g", "g", dirgroup::GroupKind::GroupOfNames, current, {"cn=a", "CN=B", "cn=c",
                                                                                          "cn=old1", "cn=old2"})
                  .records.empty());
}

TEST(Arguments, FourOptionsInAnyOrderAndCaseEachOnce) {
  bool help = false;
  std::string error;
  auto o = ParseArguments({"/container=Users", "--dry-run", "/DSA=ldap://h", "/BasePoint=DC=x", "/FILE=a b"}, help, error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(std::tie(o->file, o->dsa, o->base_point, o->container, o->dry_run),
            std::make_tuple("a b", "ldap://h", "DC=x", "Users", true));
  EXPECT_FALSE(ParseArguments({"/FILE=a", "/file=b", "/DSA=b", "/BASEPOINT=c", "/CONTAINER=d"}, help, error));
  EXPECT_EQ(error, "/FILE= is given twice");
  EXPECT_FALSE(ParseArguments({"/FILE=a", "/DSA=b", "/BASEPOINT=c"}, help, error));
  EXPECT_EQ(error, "/CONTAINER= is missing");
}

}  // namespace
}  // namespace corvane::dsimport
