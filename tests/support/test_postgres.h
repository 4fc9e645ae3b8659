// A private PostgreSQL cluster for tests that stop or restart the server,
// which the shared test server (CORVANE_TEST_PG) must never see: made by
// scripts/start-test-postgres.sh in a temporary folder on a free loopback
// port, stopped and removed when the object goes away.
//
// In GoogleTest, CORVANE_START_POSTGRES(var) starts one, and skips the test
// when PostgreSQL is not installed, or fails it when CI=true.
#pragma once

#include <memory>
#include <string>

#include "tests/support/test_slapd.h"  // TestSlapd::Required

namespace corvane::testing {

class TestPostgres {
 public:
  // nullptr with *error set when the cluster does not come up.
  static std::unique_ptr<TestPostgres> Start(std::string* error);
  ~TestPostgres();
  TestPostgres(const TestPostgres&) = delete;
  TestPostgres& operator=(const TestPostgres&) = delete;

  // An ODBC connection string for the cluster's database "corvane".
  const std::string& connectionString() const { return connectionString_; }
  // Restarts the server (fast shutdown: every session is ended at once) and
  // waits until it accepts connections again.
  bool Restart();

 private:
  TestPostgres() = default;
  std::string dir_;
  std::string connectionString_;
};

}  // namespace corvane::testing

#define CORVANE_START_POSTGRES(var)                                             \
  std::string var##_error;                                                      \
  auto var = ::corvane::testing::TestPostgres::Start(&var##_error);             \
  if (!var) {                                                                   \
    if (::corvane::testing::TestSlapd::Required()) FAIL() << var##_error;       \
    GTEST_SKIP() << var##_error;                                                \
  }
