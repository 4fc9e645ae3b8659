// A throwaway slapd for tests: its own configuration and database in a
// temporary directory, a free port on 127.0.0.1, an LDIF loaded before it
// starts, and everything stopped and removed when the object goes away.
//
//   std::string error;
//   auto slapd = corvane::testing::TestSlapd::Start(ldif_path, {}, &error);
//   if (!slapd) { /* slapd missing or broken: see error */ }
//   ... slapd->url() + "/" + slapd->base_dn() ...
//
// In GoogleTest, CORVANE_START_SLAPD(var, ldif, options) does the above and
// skips the test when slapd cannot start, or fails it when the environment
// says CI=true; an LDIF the server refuses fails it always.
//
// The server loads Debian's core, cosine, inetorgperson, nis and msuser
// schemas plus samples/slapd/corvane.schema, serves one mdb database under
// options.suffix with a root account, and caps every plain search at
// options.size_limit entries while paged searches may return any total
// (so readers must page to see everything). The root account writes;
// member values are kept sorted (sortvals), as large groups need.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

namespace corvane::testing {

struct SlapdOptions {
  std::string suffix = "DC=harbourline,DC=example";
  int size_limit = 500;
  std::string root_password = "secret";
  // Folder of corvane.schema; empty means $CORVANE_SOURCE_DIR/samples/slapd
  // (or the source folder this was built from when that is unset).
  std::string schema_dir;
  // Load the LDIF over LDAP with ldapadd, as an administrator would, with
  // every check the server makes on an add; else offline with slapadd -q.
  bool load_with_ldapadd = false;
};

class TestSlapd {
 public:
  // Starts slapd with the LDIF loaded; nullptr with *error set when slapd
  // is not installed, does not come up or refuses the LDIF.
  static std::unique_ptr<TestSlapd> Start(const std::string& ldif_path, const SlapdOptions& options,
                                          std::string* error);
  ~TestSlapd();
  TestSlapd(const TestSlapd&) = delete;
  TestSlapd& operator=(const TestSlapd&) = delete;

  std::string url() const;  // "ldap://127.0.0.1:<port>"
  int port() const { return port_; }
  const std::string& base_dn() const { return options_.suffix; }
  std::string root_dn() const;  // "CN=admin,<suffix>"
  const std::string& root_password() const { return options_.root_password; }
  const std::string& dir() const { return dir_; }  // temporary folder (config, database, log)

  // Applies an LDIF of changes as the root account (ldapmodify -a: entries
  // without a changetype are added); false with *error set when refused.
  bool Apply(const std::string& ldif_path, std::string* error) const;

  // True when a missing slapd must fail the test rather than skip it.
  static bool Required();
  // True when Start's error says the server refused the LDIF (a fault of
  // the data, which fails a test wherever it runs).
  static bool Refused(const std::string& error);

  // Kills the server at once (SIGKILL), as a crash or a lost host would.
  void Kill();
  // Starts it again after Kill, on the same port with the same database.
  bool Restart();

 private:
  TestSlapd() = default;
  bool Launch();  // starts slapd on port_ and waits until it answers
  SlapdOptions options_;
  std::string dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace corvane::testing

#define CORVANE_START_SLAPD(var, ldif, options)                                     \
  std::string var##_error;                                                          \
  auto var = ::corvane::testing::TestSlapd::Start((ldif), (options), &var##_error); \
  if (!var) {                                                                       \
    if (::corvane::testing::TestSlapd::Required() ||                                \
        ::corvane::testing::TestSlapd::Refused(var##_error))                        \
      FAIL() << var##_error;                                                        \
    GTEST_SKIP() << var##_error;                                                    \
  }
