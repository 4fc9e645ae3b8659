// The databases the database tests run against: a SQLite file, the
// PostgreSQL server named by CORVANE_TEST_PG and the MariaDB server named by
// CORVANE_TEST_MARIADB. The same test bodies run on each; the build binds
// them to one per executable.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/ado/ado.h"

namespace corvane::testing {

inline std::string SqliteConnectionString(const std::filesystem::path& file) {
  return "Driver=SQLite3;Database=" + file.string() + ";JournalMode=WAL;SyncPragma=NORMAL";
}

// The PostgreSQL connection string, or empty when no server is configured.
inline std::string PostgresConnectionString() {
  const char* pg = std::getenv("CORVANE_TEST_PG");
  return pg ? pg : "";
}

// The server's connection string for a kind ("postgres", "mariadb") and the
// variable that holds it.
inline const char* ServerVariable(const std::string& kind) {
  return kind == "mariadb" ? "CORVANE_TEST_MARIADB" : "CORVANE_TEST_PG";
}
inline std::string ServerConnectionString(const std::string& kind) {
  const char* cs = std::getenv(ServerVariable(kind));
  return cs ? cs : "";
}

inline bool UnderCi() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

// A fixture parameterised by the database kind ("sqlite", "postgres" or "mariadb").
// Each test gets a connection string and table names no other test uses.
class DatabaseTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (Kind() == "sqlite") {
      char pattern[] = "/tmp/corvane-ado-XXXXXX";
      ASSERT_NE(mkdtemp(pattern), nullptr);
      dir_ = pattern;
      connectionString_ = SqliteConnectionString(dir_ / "test.db");
    } else {
      connectionString_ = ServerConnectionString(Kind());
      if (connectionString_.empty()) {
        if (UnderCi()) FAIL() << ServerVariable(Kind()) << " is not set";
        GTEST_SKIP() << "no " << Kind() << " server (set " << ServerVariable(Kind()) << ")";
      }
      auto probe = ado::CreateConnection();
      try {
        probe->Open(connectionString_);
      } catch (const ado::AdoError& e) {
        if (UnderCi()) FAIL() << Kind() << " unreachable: " << e.Description;
        GTEST_SKIP() << Kind() << " unreachable: " << e.Description;
      }
    }
  }
  void TearDown() override {
    if (!tables_.empty() && !connectionString_.empty()) {
      try {
        auto c = Connect();
        for (const auto& t : tables_) {
          try {
            c->Execute("drop table " + t);
          } catch (...) {
            // Already gone.
          }
        }
      } catch (...) {
      }
    }
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  std::string Kind() const { return GetParam(); }
  bool Postgres() const { return Kind() == "postgres"; }
  bool MariaDB() const { return Kind() == "mariadb"; }
  const std::string& ConnectionString() const { return connectionString_; }

  // A table name unique to this process and `tag`, so tests running side
  // by side on one server never meet.
  std::string Table(const std::string& tag) const { return "t" + std::to_string(getpid()) + "_" + tag; }

  std::unique_ptr<ado::Connection> Connect() const {
    auto c = ado::CreateConnection();
    c->Open(connectionString_);
    return c;
  }

  // Drops `table` when the test ends, whatever happened.
  void DropLater(const std::string& table) { tables_.push_back(table); }

 private:
  std::filesystem::path dir_;
  std::string connectionString_;
  std::vector<std::string> tables_;
};

}  // namespace corvane::testing

// Binds a fixture's test bodies to the database this executable was built
// for (CORVANE_TEST_DATABASE, see database_tests.cmake).
#define CORVANE_INSTANTIATE_DATABASE_TESTS_(prefix, fixture) \
  INSTANTIATE_TEST_SUITE_P(prefix, fixture, ::testing::Values(std::string(CORVANE_TEST_DATABASE)))
#define CORVANE_DATABASE_TESTS(fixture) CORVANE_INSTANTIATE_DATABASE_TESTS_(CORVANE_TEST_DATABASE_NAME, fixture)
