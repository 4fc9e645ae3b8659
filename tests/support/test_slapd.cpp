#include "tests/support/test_slapd.h"

#include "tests/support/loopback_port.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include <fmt/format.h>

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSlapd = "/usr/sbin/slapd";
constexpr const char* kSlapadd = "/usr/sbin/slapadd";
constexpr const char* kLdapmodify = "/usr/bin/ldapmodify";
constexpr const char* kRefused = "LDIF refused: ";

}  // namespace

int FreeLoopbackPort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return 0;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  close(s);
  return port;
}

namespace {

bool Accepts(int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(s);
  return ok;
}

// Runs a program with its output in `log`; returns its exit status, or
// starts it in the background (returning its pid) when `background`.
pid_t Spawn(const std::vector<std::string>& args, const std::string& log, bool background, int* status) {
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (!background) waitpid(pid, status, 0);
  return pid;
}

std::string Tail(const std::string& file) {
  std::ifstream in(file);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return all.size() > 1500 ? all.substr(all.size() - 1500) : all;
}

}  // namespace

bool TestSlapd::Required() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

bool TestSlapd::Refused(const std::string& error) { return error.rfind(kRefused, 0) == 0; }

std::string TestSlapd::url() const { return fmt::format("ldap://127.0.0.1:{}", port_); }
std::string TestSlapd::root_dn() const { return "CN=admin," + options_.suffix; }

std::unique_ptr<TestSlapd> TestSlapd::Start(const std::string& ldif_path, const SlapdOptions& options,
                                            std::string* error) {
  auto fail = [error](std::string text) -> std::unique_ptr<TestSlapd> {
    if (error) *error = std::move(text);
    return nullptr;
  };
  if (access(kSlapd, X_OK) != 0 || access(kSlapadd, X_OK) != 0)
    return fail("slapd is not installed (apt-get install slapd ldap-utils)");
  std::unique_ptr<TestSlapd> s(new TestSlapd());
  s->options_ = options;
  std::string schema_dir = options.schema_dir;
  if (schema_dir.empty()) {
    const char* src = std::getenv("CORVANE_SOURCE_DIR");
    schema_dir = fmt::format("{}/samples/slapd", src && *src ? src : CORVANE_SOURCE_DIR_DEFAULT);
  }
  char tmpl[] = "/tmp/corvane-slapd-XXXXXX";
  if (!mkdtemp(tmpl)) return fail("cannot create a temporary folder for slapd");
  s->dir_ = tmpl;
  fs::create_directories(s->dir_ + "/db");
  std::string conf = s->dir_ + "/slapd.conf";
  std::string log = s->dir_ + "/slapd.log";
  {
    std::ofstream c(conf);
    for (const char* schema : {"core", "cosine", "inetorgperson", "nis", "msuser"})
      c << "include /etc/ldap/schema/" << schema << ".schema\n";
    c << "include " << schema_dir << "/corvane.schema\n"
      << "modulepath /usr/lib/ldap\nmoduleload back_mdb\n"
      << "pidfile " << s->dir_ << "/slapd.pid\n"
      << "sizelimit " << options.size_limit << "\n"
      // Large groups: a value added to a sorted attribute is checked
      // against the others by binary search instead of one by one.
      << "sortvals member\n"
      << "database mdb\nmaxsize 4294967296\n"
      << "suffix \"" << options.suffix << "\"\n"
      << "rootdn \"" << s->root_dn() << "\"\n"
      << "rootpw " << options.root_password << "\n"
      << "directory " << s->dir_ << "/db\n"
      << "limits * size.prtotal=unlimited\n";
  }
  {
    // The root password for ldapmodify's -y: the file's whole content.
    int fd = open((s->dir_ + "/rootpw").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || write(fd, options.root_password.data(), options.root_password.size()) < 0)
      return fail("cannot write the root password file for ldapmodify");
    close(fd);
  }
  int status = 0;
  if (!options.load_with_ldapadd) {
    Spawn({kSlapadd, "-q", "-f", conf, "-l", ldif_path}, log, false, &status);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
      return fail(fmt::format("{}slapadd could not load {}:\n{}", kRefused, ldif_path, Tail(log)));
  }
  for (int attempt = 0; attempt < 5; ++attempt) {
    s->port_ = FreeLoopbackPort();
    if (s->Launch()) {
      std::string refused;
      if (options.load_with_ldapadd && !s->Apply(ldif_path, &refused)) return fail(refused);
      return s;
    }
    if (s->pid_ > 0) break;  // running but not answering: give up
  }
  return fail(fmt::format("slapd did not start:\n{}", Tail(log)));
}

bool TestSlapd::Apply(const std::string& ldif_path, std::string* error) const {
  if (access(kLdapmodify, X_OK) != 0) {
    if (error) *error = "ldapmodify is not installed (apt-get install ldap-utils)";
    return false;
  }
  const std::string log = dir_ + "/ldapmodify.log";
  int status = 0;
  Spawn({kLdapmodify, "-a", "-x", "-H", url(), "-D", root_dn(), "-y", dir_ + "/rootpw", "-f", ldif_path}, log, false,
        &status);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  if (error) *error = fmt::format("{}ldapmodify could not apply {}:\n{}", kRefused, ldif_path, Tail(log));
  return false;
}

bool TestSlapd::Launch() {
  const std::string listen = fmt::format("ldap://127.0.0.1:{}/", port_);
  pid_ = Spawn({kSlapd, "-f", dir_ + "/slapd.conf", "-h", listen, "-d", "0"}, dir_ + "/slapd.log", true, nullptr);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    if (Accepts(port_)) return true;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void TestSlapd::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

bool TestSlapd::Restart() { return pid_ <= 0 && Launch(); }

TestSlapd::~TestSlapd() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 250 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (waitpid(pid_, &status, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
  }
  std::error_code ec;
  if (!dir_.empty()) fs::remove_all(dir_, ec);
}

}  // namespace corvane::testing
