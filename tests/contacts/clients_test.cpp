// corvane-run with both contact jobs on, as a process, and what reads its
// address books: khard lists the public folder, vdirsyncer publishes it to
// a throwaway Radicale server (label "carddav"); and a run killed in the
// middle of the sync, then run again.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "platform/ado/ado.h"
#include "platform/outlook/vcard.h"
#include "platform/outlook/vcard_folder_store.h"
#include "platform/outlook/outlook.h"
#include "platform/registry/registry.h"
#include "tests/export/export_fixture.h"
#include "tools/gen-directory/generate_directory.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;
using outlook::ContactProperty;

struct Output {
  int status = -1;
  std::string text;
};

Output Shell(const std::string& command) {
  Output o;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) o.text.append(buffer, n);
  int status = pclose(p);
  o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return o;
}

std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

int FreePort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

// The vCards of a text that holds several.
std::vector<outlook::ContactRecord> Cards(const std::string& text) {
  std::vector<outlook::ContactRecord> cards;
  size_t pos = 0;
  while ((pos = text.find("BEGIN:VCARD", pos)) != std::string::npos) {
    size_t end = text.find("END:VCARD", pos);
    if (end == std::string::npos) break;
    if (auto r = outlook::ReadVCard(text.substr(pos, end + 9 - pos), "")) cards.push_back(*r);
    pos = end;
  }
  return cards;
}

class ContactsEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(BinDir() / "libCorvane.so")) GTEST_SKIP() << "libCorvane.so not built";
    home = MakeTempDir(std::string("clients_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    oldHome = std::getenv("CORVANE_HOME") ? std::getenv("CORVANE_HOME") : "";
    setenv("CORVANE_HOME", home.c_str(), 1);
    connectionString = "Driver=SQLite3;Database=" + (home / "gal.db").string() + ";JournalMode=WAL;SyncPragma=NORMAL";
    Set("ConnectionString", connectionString);
    Set("Mailbox", "corvane.service");
    Set("Server", (SourceDir() / "samples" / "directory.ldif").string());
    for (const char* box : {"GIVEN_NAME", "SURNAME", "DISPLAY_NAME", "INITIALS", "TITLE", "COMPANY_NAME", "ACCOUNT",
                            "DISPLAY_TYPE", "BUS_ADD_STREET", "BUS_ADD_CITY", "BUS_ADD_COUNTRY", "BUS_TELEPHONE_NUMBER"})
      Set(box, "1");
    Set("chkcontacts0", "1");
    Set("chkcontacts1", "1");
    Set("cmbsubs", "Corvane Contacts");
    Set("localcontactname", "GAL");
  }
  void TearDown() override {
    if (!mounted.empty()) umount(mounted.c_str());
    if (radicale > 0) {
      kill(radicale, SIGTERM);
      waitpid(radicale, nullptr, 0);
    }
    if (oldHome.empty()) unsetenv("CORVANE_HOME");
    else setenv("CORVANE_HOME", oldHome.c_str(), 1);
    if (!home.empty()) fs::remove_all(home);
  }
  void Set(const std::string& name, const std::string& value) {
    registry::Hive(home / "registry.hive").Set(registry::kParametersKeyPath, name, registry::Value::Sz(value));
  }
  std::string RunCommand() const {
    return "cd " + Quote(home) + " && CORVANE_HOME=" + Quote(home) + " " + Quote(BinDir() / "corvane-run") +
           " --quiet-sql";
  }
  fs::path PublicFolder() const { return home / "mailstore" / "Public Folders" / "Corvane Contacts"; }
  std::vector<Row> Table(const std::string& sql) {
    auto c = Connect(connectionString);
    return ReadRows(*c, sql);
  }
  // Every contact file of the folder; each must be a whole vCard.
  std::vector<outlook::ContactRecord> Files(const fs::path& folder) {
    std::vector<outlook::ContactRecord> out;
    for (const auto& e : fs::directory_iterator(folder)) {
      if (e.path().extension() != ".vcf") continue;
      std::ifstream in(e.path(), std::ios::binary);
      std::string text((std::istreambuf_iterator<char>(in)), {});
      auto r = outlook::ReadVCard(text, e.path().stem());
      EXPECT_TRUE(r && text.ends_with("END:VCARD\r\n")) << e.path();
      if (r) out.push_back(*r);
    }
    return out;
  }
  void RequireTools() {
    for (const char* tool : {"khard", "vdirsyncer", "radicale"}) {
      if (Shell(std::string("command -v ") + tool).status == 0) continue;
      if (ServersRequired()) FAIL() << tool << " is not installed";
      GTEST_SKIP() << tool << " is not installed";
    }
  }

  fs::path home, mounted;
  std::string oldHome, connectionString;
  pid_t radicale = -1;
};

TEST_F(ContactsEndToEnd, ClientsReadAndPublishTheAddressBooks) {
  RequireTools();
  if (IsSkipped() || HasFailure()) return;
  Output run = Shell(RunCommand());
  ASSERT_EQ(run.status, 0) << run.text;
  auto gal = Table("select DISPLAY_NAME, TITLE, BUS_ADD_STREET from GAL");
  ASSERT_GT(gal.size(), 100u);
  EXPECT_EQ(Files(home / "mailstore" / "corvane.service" / "Contacts" / "GAL").size(), gal.size());

  // khard reads the public folder as an address book.
  std::ofstream(home / "khard.conf") << "[addressbooks]\n[[corvane]]\npath = " << PublicFolder().string()
                                      << "/\n[general]\neditor = /bin/true\nmerge_editor = /bin/true\n";
  Output list = Shell("khard -c " + Quote(home / "khard.conf") + " list -p");
  ASSERT_EQ(list.status, 0) << list.text;
  EXPECT_EQ(std::count(list.text.begin(), list.text.end(), '\n'), static_cast<long>(gal.size()));
  const Row* ann = nullptr;  // a person with an apostrophe, a title and an address
  for (const auto& row : gal)
    if (row.at("DISPLAY_NAME")->find('\'') != std::string::npos && row.at("TITLE") && row.at("BUS_ADD_STREET")) ann = &row;
  ASSERT_TRUE(ann);
  Output show = Shell("khard -c " + Quote(home / "khard.conf") + " show --format yaml \"" + *ann->at("DISPLAY_NAME") + "\"");
  EXPECT_THAT(show.text, ::testing::HasSubstr("Formatted name: " + *ann->at("DISPLAY_NAME")));
  EXPECT_THAT(show.text, ::testing::HasSubstr("Title: " + *ann->at("TITLE")));
  EXPECT_THAT(show.text, ::testing::HasSubstr(*ann->at("BUS_ADD_STREET")));

  // vdirsyncer publishes the public folders to a CardDAV server.
  const int port = FreePort();
  const fs::path radicaleDir = home / "radicale";
  fs::create_directories(radicaleDir);
  std::ofstream(radicaleDir / "users") << "corvane:secret\n";
  std::ofstream(radicaleDir / "config") << "[server]\nhosts = 127.0.0.1:" << port
                                        << "\n[auth]\ntype = htpasswd\nhtpasswd_filename = " << (radicaleDir / "users").string()
                                        << "\nhtpasswd_encryption = plain\n[storage]\nfilesystem_folder = "
                                        << (radicaleDir / "collections").string() << "\n[logging]\nlevel = warning\n";
  radicale = fork();
  if (radicale == 0) {
    execlp("radicale", "radicale", "--config", (radicaleDir / "config").c_str(), nullptr);
    _exit(127);
  }
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/corvane/";
  for (int i = 0; i < 100 && Shell("/usr/bin/python3 -c \"import socket; socket.create_connection(('127.0.0.1', " +
                                   std::to_string(port) + "))\"").status != 0; ++i)
    usleep(100000);
  std::ofstream(home / "vdirsyncer.conf")
      << "[general]\nstatus_path = \"" << (home / "vdirsyncer-status").string() << "/\"\n"
      << "[pair corvane]\na = \"local\"\nb = \"remote\"\ncollections = [\"from a\"]\n"
      << "[storage local]\ntype = \"filesystem\"\npath = \"" << (home / "mailstore" / "Public Folders").string()
      << "/\"\nfileext = \".vcf\"\n"
      << "[storage remote]\ntype = \"carddav\"\nurl = \"" << url << "\"\nusername = \"corvane\"\npassword = \"secret\"\n";
  const std::string vdirsyncer = "vdirsyncer -c " + Quote(home / "vdirsyncer.conf");
  Output discover = Shell("yes | " + vdirsyncer + " discover corvane");
  ASSERT_EQ(discover.status, 0) << discover.text;
  Output sync = Shell(vdirsyncer + " sync");
  ASSERT_EQ(sync.status, 0) << sync.text;

  // What the server holds, read back over CardDAV, matches the final table.
  Output get = Shell("/usr/bin/python3 -c \"import urllib.request as u, base64, sys; "
                     "r = u.Request('" + url + "Corvane%20Contacts/', headers={'Authorization': 'Basic ' + "
                     "base64.b64encode(b'corvane:secret').decode()}); sys.stdout.write(u.urlopen(r).read().decode())\"");
  ASSERT_EQ(get.status, 0) << get.text;
  std::map<std::string, outlook::ContactRecord> served;
  const auto cards = Cards(get.text);
  EXPECT_EQ(cards.size(), gal.size());
  for (const auto& card : cards) served[card.Get(ContactProperty::FullName)] = card;
  ASSERT_TRUE(served.count(*ann->at("DISPLAY_NAME")));
  EXPECT_EQ(served[*ann->at("DISPLAY_NAME")].Get(ContactProperty::BusinessAddressStreet), *ann->at("BUS_ADD_STREET"));
  EXPECT_EQ(served[*ann->at("DISPLAY_NAME")].Get(ContactProperty::JobTitle), *ann->at("TITLE"));
  int nonLatin = 0;
  for (const auto& row : gal)
    if (static_cast<unsigned char>(row.at("DISPLAY_NAME")->front()) >= 0xD0) nonLatin += served.count(*row.at("DISPLAY_NAME"));
  EXPECT_GT(nonLatin, 0);

  // An unchanged address list: a second run rewrites nothing, the next
  // CardDAV sync sends nothing.
  Output again = Shell(RunCommand());
  ASSERT_EQ(again.status, 0) << again.text;
  Output quiet = Shell(vdirsyncer + " sync");
  EXPECT_EQ(quiet.status, 0) << quiet.text;
  EXPECT_THAT(quiet.text, ::testing::Not(::testing::HasSubstr("Copying"))) << quiet.text;
  EXPECT_THAT(quiet.text, ::testing::Not(::testing::HasSubstr("Updating"))) << quiet.text;
}

TEST_F(ContactsEndToEnd, ARunKilledDuringTheSyncLeavesWholeFilesAndTheNextRunMendsIt) {
  {
    std::ofstream ldif(home / "directory.ldif");
    gendir::WriteDirectory(ldif, {1200, 7});
  }
  Set("Server", (home / "directory.ldif").string());
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    dup2(fds[1], 2);
    execl("/bin/sh", "sh", "-c", RunCommand().c_str(), nullptr);
    _exit(127);
  }
  close(fds[1]);
  FILE* out = fdopen(fds[0], "r");
  char line[4096];
  bool killed = false;
  while (fgets(line, sizeof line, out))
    if (!killed && std::string(line).find("Added contact 400") != std::string::npos) {
      kill(pid, SIGKILL);  // the shell's child is corvane-run itself (exec)
      Shell("pkill -KILL -P " + std::to_string(pid));
      killed = true;
    }
  fclose(out);
  waitpid(pid, nullptr, 0);
  ASSERT_TRUE(killed);
  const size_t before = Files(PublicFolder()).size();  // each one whole
  EXPECT_GE(before, 400u);

  Output rerun = Shell(RunCommand());
  ASSERT_EQ(rerun.status, 0) << rerun.text;
  const size_t rows = Table("select entry_id from GAL").size();
  auto files = Files(PublicFolder());
  EXPECT_EQ(files.size(), rows);
  std::set<std::string> entryIds;
  for (const auto& f : files) entryIds.insert(*f.FindUserProperty("EntryID"));
  EXPECT_EQ(entryIds.size(), rows);  // one contact per GAL row
  auto sync = Table("select PFC_entry_id from GAL_PFC_SyncData");
  EXPECT_EQ(sync.size(), rows);
  outlook::VCardFolderStore store;
  outlook::Namespace ns = outlook::Application(store).GetNamespace("MAPI");
  ns.Logon("TWCorvane");
  for (const auto& row : sync) EXPECT_NO_THROW(ns.GetItemFromID(*row.at("PFC_ENTRY_ID")));
}

// A mail store on a file system that fills up (a small tmpfs; root only):
// the local export fails and leaves no work folder holding the space, the
// sync saves what fits and logs every contact it could not save as such,
// and --status warns, naming both jobs.
TEST_F(ContactsEndToEnd, AFullStoreIsReportedAndLeavesNoWorkFolder) {
  fs::create_directories(home / "mailstore");
  if (mount("tmpfs", (home / "mailstore").c_str(), "tmpfs", 0, "size=400k") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  mounted = home / "mailstore";
  Output run = Shell(RunCommand());
  EXPECT_EQ(run.status, 0) << run.text;
  EXPECT_FALSE(fs::exists(home / "mailstore" / "corvane.service" / "Contacts" / "GAL_TMP"));
  const size_t failed = run.text.find("Contact 250 was not saved: "), added = run.text.find("Added contact 250\n");
  EXPECT_NE(failed, std::string::npos) << run.text;
  EXPECT_LT(failed, added) << run.text;
  EXPECT_LT(Files(PublicFolder()).size(), 250u);

  Output status = Shell("CORVANE_HOME=" + Quote(home) + " " + Quote(BinDir() / "corvane-run") + " --status");
  EXPECT_EQ(status.status, 1) << status.text;
  EXPECT_THAT(status.text, ::testing::HasSubstr("; the local contacts export failed; the public-folder contact sync "
                                                "completed only in part\n"));
  EXPECT_THAT(status.text, ::testing::HasSubstr("No space left on device"));
}

}  // namespace
}  // namespace corvane::testing
