#include "tests/support/test_postgres.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <fmt/format.h>

#include "tests/support/loopback_port.h"

namespace corvane::testing {
namespace {

// Runs a shell command; its standard output, and whether it succeeded.
bool Shell(const std::string& command, std::string* output = nullptr) {
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return false;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, p) != nullptr)
    if (output != nullptr) *output += buffer;
  const int status = pclose(p);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// pg_ctl of the newest PostgreSQL, run as postgres when we are root.
std::string PgCtl(const std::string& data) {
  return fmt::format("{}\"$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)/pg_ctl\" -D '{}' -s",
                     ::geteuid() == 0 ? "runuser -u postgres -- " : "", data);
}

}  // namespace

std::unique_ptr<TestPostgres> TestPostgres::Start(std::string* error) {
  const char* source = std::getenv("CORVANE_SOURCE_DIR");
  const std::string script =
      fmt::format("{}/scripts/start-test-postgres.sh", source && *source ? source : CORVANE_SOURCE_DIR_DEFAULT);
  char folder[] = "/tmp/corvane-pg-test-XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    *error = "cannot create a temporary folder for PostgreSQL";
    return nullptr;
  }
  std::unique_ptr<TestPostgres> pg(new TestPostgres());
  pg->dir_ = folder;
  ::chmod(folder, 0755);  // the server runs as postgres
  std::string output;
  const bool started = Shell(fmt::format("CORVANE_PG_PORT={} CORVANE_PG_DATA='{}/data' '{}' 2>&1", FreeLoopbackPort(),
                                         pg->dir_, script),
                             &output);
  const std::string marker = "export CORVANE_TEST_PG='";
  const size_t at = output.find(marker);
  if (!started || at == std::string::npos) {
    *error = "PostgreSQL did not start (apt-get install postgresql odbc-postgresql):\n" + output;
    return nullptr;
  }
  pg->connectionString_ = output.substr(at + marker.size(), output.find('\'', at + marker.size()) - at - marker.size());
  return pg;
}

bool TestPostgres::Restart() {
  return Shell(PgCtl(dir_ + "/data") + " -l '" + dir_ + "/data/server.log' -m fast -w restart >/dev/null 2>&1");
}

TestPostgres::~TestPostgres() {
  Shell(PgCtl(dir_ + "/data") + " -m immediate stop >/dev/null 2>&1");
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

}  // namespace corvane::testing
