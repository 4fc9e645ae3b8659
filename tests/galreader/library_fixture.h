// What the tests of libCorvane.so share: the library opened by file name
// as the service opens it, a temporary current directory and Corvane home,
// LDIF directories written on the fly, and temporary tables on SQLite and
// PostgreSQL read back through the database layer.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "galreader/corvane_exports.h"
#include "platform/ado/ado.h"
#include "tests/galreader/log_dir.h"

namespace corvane::galreader::testing {

// The three exports, bound by name from the built library.
struct CorvaneLibrary {
  CreateProfileWithIProfAdminFn CreateProfileWithIProfAdmin = nullptr;
  GetGALCountFn GetGALCount = nullptr;
  ModifyStructFn ModifyStruct = nullptr;

  static const CorvaneLibrary& Get() {
    static const CorvaneLibrary library = Load();
    return library;
  }

 private:
  static CorvaneLibrary Load() {
    // ctest names the folder; run by hand, the library lies in ../bin.
    const char* bin = std::getenv("CORVANE_BIN_DIR");
    const std::filesystem::path folder =
        bin != nullptr ? std::filesystem::path(bin)
                       : std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "bin";
    const std::string path = (folder / "libCorvane.so").string();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      ADD_FAILURE() << "cannot open " << path << ": " << dlerror();
      return {};
    }
    CorvaneLibrary l;
    l.CreateProfileWithIProfAdmin =
        reinterpret_cast<CreateProfileWithIProfAdminFn>(dlsym(handle, "CreateProfileWithIProfAdmin"));
    l.GetGALCount = reinterpret_cast<GetGALCountFn>(dlsym(handle, "GetGALCount"));
    l.ModifyStruct = reinterpret_cast<ModifyStructFn>(dlsym(handle, "ModifyStruct"));
    return l;
  }
};

// The source tree: CORVANE_SOURCE_DIR, else the tree this test was built from.
inline std::filesystem::path SourceDir() {
  const char* source = std::getenv("CORVANE_SOURCE_DIR");
  return source != nullptr ? source : CORVANE_BUILT_FROM_SOURCE_DIR;
}

// One directory entry for an LDIF file: attribute name and value pairs
// (binary or odd values are written base64-encoded).
struct LdifEntry {
  std::string dn;
  std::vector<std::pair<std::string, std::string>> attributes;
};

std::string LdifText(const std::vector<LdifEntry>& entries);

// A person with a mailbox: the entry the profile's mailbox resolves to.
LdifEntry Person(const std::string& account, const std::string& displayName);

// The statement that creates the temporary table, as the service writes it
// for databases other than SQL Server and Oracle.
std::string CreateTempTableStatement(const std::string& tableName, const std::string& longTextType);

// The 45 columns the library writes, in record order.
extern const std::vector<std::string> kWrittenColumns;

using Row = std::vector<std::optional<std::string>>;

// A database the library writes into, with one temporary table.
class TestDatabase {
 public:
  virtual ~TestDatabase() = default;
  virtual std::string ConnectionString() const = 0;
  virtual std::string Name() const = 0;
  const std::string& TableName() const { return table_; }
  // Creates the temporary table (dropping an old one).
  void CreateTempTable(const std::string& extraDefinitions = "");
  // Every row of the table, the 45 written columns in record order.
  std::vector<Row> ReadRows();
  void Execute(const std::string& statement);

 protected:
  std::string table_ = "TEMP_GAL";
  std::unique_ptr<ado::Connection> Connect();
};

// A SQLite file in `dir`, with the connection string the README recommends.
std::unique_ptr<TestDatabase> SqliteDatabase(const std::filesystem::path& dir);
// The test server from CORVANE_TEST_PG (with `extra` appended to its
// connection string), or nullptr when none is set.
std::unique_ptr<TestDatabase> PostgresDatabase(const std::string& extra = "");
// The test server from CORVANE_TEST_MARIADB, or nullptr when none is set.
std::unique_ptr<TestDatabase> MariadbDatabase();
// Skip (or, under CI, fail) when the server is missing.
#define CORVANE_REQUIRE_SERVER(db, variable)                                   \
  do {                                                                         \
    if (!(db)) {                                                               \
      const char* ci = std::getenv("CI");                                      \
      if (ci != nullptr && std::string(ci) == "true") FAIL() << variable;      \
      GTEST_SKIP() << variable << " is not set";                               \
    }                                                                          \
  } while (0)
#define CORVANE_REQUIRE_POSTGRES(db) CORVANE_REQUIRE_SERVER(db, "CORVANE_TEST_PG")

// A temporary directory with an LDIF directory and the profile "TWCorvane"
// configured for it.
class LibraryTest : public ::testing::Test {
 protected:
  const CorvaneLibrary& lib = CorvaneLibrary::Get();
  TempLogDir dir;

  std::string WriteDirectory(const std::vector<LdifEntry>& entries, const std::string& name = "directory.ldif");
  // Writes the directory and creates the profile quietly; clears the log.
  void CreateProfileFor(const std::vector<LdifEntry>& entries, const std::string& mailbox = "owner");
  void CreateProfileForFile(const std::string& server, const std::string& mailbox);
};

}  // namespace corvane::galreader::testing
