// The distribution list of a 50,000-entry directory on a local slapd:
// dsimport (the built program, as the service starts it) creates the
// group from the list file, then imports the same file again, which must
// change nothing. Prints members per second for the create and seconds
// for the unchanged re-import, each the best of three runs (the group is
// deleted before each create), since the machine is shared.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/mapi/gal_entry.h"
#include "platform/mapi/last_error.h"
#include "platform/mapi/ldap_connection.h"
#include "platform/mapi/ldif_reader.h"
#include "tests/support/test_slapd.h"
#include "tools/gen-directory/generate_directory.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Writes the list file the service would write for every recipient with
// an address; returns the number of member lines.
size_t WriteList(const std::string& ldif, const std::string& csv) {
  std::unique_ptr<corvane::mapi::LdifReader> reader;
  if (FAILED(corvane::mapi::OpenLdifReader(ldif, {"objectClass", "proxyAddresses", "mail"}, reader))) return 0;
  std::ofstream out(csv, std::ios::binary);
  out << "Obj-Class, Directory Name, members\r\n";
  size_t members = 0;
  corvane::mapi::DirEntry e;
  for (bool end = false; SUCCEEDED(reader->Next(e, end)) && !end;) {
    if (!corvane::mapi::IsRecipient(e)) continue;
    std::string text;
    if (const auto* proxies = e.Get("proxyaddresses")) {
      for (const auto& p : *proxies) text += (text.empty() ? "" : ",") + p + "{;}";
    } else if (const auto* mail = e.First("mail")) {
      text = "SMTP:" + *mail + "{;}";
    }
    if (text.empty()) continue;
    out << "DL,All Harbourline," << text << "\r\n";
    ++members;
  }
  return members;
}

// Runs dsimport; its seconds, or a negative number when it failed.
double TimeImport(const std::vector<std::string>& args, const std::string& log) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  int status = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

void DeleteGroup(const std::string& url, const std::string& dn) {
  std::shared_ptr<corvane::mapi::LdapConnection> conn;
  corvane::mapi::LdapTarget target;
  if (SUCCEEDED(corvane::mapi::ConnectLdap(url, conn, target)))
    ldap_delete_ext_s(conn->get(), dn.c_str(), nullptr, nullptr);
}

}  // namespace

// Option: --entries N (default 50000).
int main(int argc, char** argv) {
  uint64_t entries = 50000;
  if (argc == 3 && std::string(argv[1]) == "--entries") entries = std::strtoull(argv[2], nullptr, 10);
  char tmpl[] = "/tmp/corvane-bench-distlist-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  fs::path dir = tmpl;
  if (!std::getenv("CORVANE_SOURCE_DIR")) setenv("CORVANE_SOURCE_DIR", CORVANE_SOURCE_DIR_DEFAULT, 0);
  setenv("CORVANE_HOME", dir.c_str(), 1);
  fs::path dsimport = fs::canonical("/proc/self/exe").parent_path().parent_path() / "bin" / "dsimport";
  std::string ldif = (dir / "directory.ldif").string(), csv = (dir / "dl.csv").string();
  {
    std::ofstream out(ldif);
    corvane::gendir::WriteDirectory(out, {entries, 42});
  }
  size_t members = WriteList(ldif, csv);
  int failures = 0;
  std::string error;
  auto slapd = corvane::testing::TestSlapd::Start(ldif, {}, &error);
  if (!slapd) {
    std::fprintf(stderr, "bench_distlist: no slapd: %s\n", error.c_str());
    failures = 1;
  } else {
    fs::path password = dir / "ldap.password";
    std::ofstream(password) << slapd->root_password() << "\n";
    chmod(password.c_str(), 0600);
    setenv("CORVANE_LDAP_BINDDN", slapd->root_dn().c_str(), 1);
    setenv("CORVANE_LDAP_PASSWORD_FILE", password.c_str(), 1);
    std::string group = "CN=All Harbourline,OU=Groups," + slapd->base_dn();
    std::vector<std::string> args = {dsimport.string(), "/FILE=" + csv, "/DSA=" + slapd->url(),
                                     "/BASEPOINT=" + slapd->base_dn(), "/CONTAINER=Groups"};
    std::string log = (dir / "dsimport.out").string();
    double create = 1e9, unchanged = 1e9;
    corvane::mapi::EchoFailures(false);
    for (int run = 0; run < 3 && !failures; ++run) {
      DeleteGroup(slapd->url(), group);
      double c = TimeImport(args, log), u = c < 0 ? -1 : TimeImport(args, log);
      if (c < 0 || u < 0) {
        std::fprintf(stderr, "bench_distlist: dsimport failed; see %s\n", log.c_str());
        failures = 1;
        break;
      }
      create = std::min(create, c);
      unchanged = std::min(unchanged, u);
    }
    if (!failures) {
      std::printf("distlist_members: %zu members\n", members);
      std::printf("distlist_create_members_per_s: %.0f members/s\n", members / create);
      std::printf("distlist_unchanged_reimport: %.2f s\n", unchanged);
    }
  }
  slapd.reset();
  if (!failures) {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  return failures;
}
