// The library over an LDAP server: the sample directory served by a
// throwaway slapd reaches the table exactly as the rules derive it.
#include <gtest/gtest.h>

#include "tests/galreader/gal_expectation.h"
#include "tests/galreader/library_fixture.h"
#include "tests/support/test_slapd.h"
#include "tools/gen-directory/generate_directory.h"

namespace corvane::galreader::testing {
namespace {

class LdapLibraryTest : public LibraryTest {};

TEST_F(LdapLibraryTest, SampleDirectoryFromSlapdOnSqlite) {
  CORVANE_START_SLAPD(slapd, (SourceDir() / "samples/directory.ldif").string(), corvane::testing::SlapdOptions{});
  const std::string server = slapd->url() + "/" + slapd->base_dn();
  CreateProfileForFile(server, gendir::kServiceAccount);

  const int32_t count = lib.GetGALCount("TWCorvane", "TRUE");
  EXPECT_GT(count, 0);
  EXPECT_EQ(dir.Log(), "");

  auto db = SqliteDatabase(dir.Path());
  db->CreateTempTable();
  lib.ModifyStruct(db->ConnectionString().c_str(), "", db->TableName().c_str(), "TRUE", 0);
  EXPECT_EQ(dir.Log(), "");

  const auto gal = ReadGalValues();
  ASSERT_EQ(gal.size(), static_cast<size_t>(count));
  const auto expected = ExpectedRows(gal, db->TableName(), TableLimits{});
  std::multimap<std::string, Row> actual;
  for (auto& row : db->ReadRows()) actual.emplace(row[0].value_or("<NULL>"), row);
  ASSERT_EQ(actual.size(), expected.size());
  auto a = actual.cbegin();
  for (auto e = expected.cbegin(); e != expected.cend(); ++e, ++a) {
    ASSERT_EQ(a->first, e->first);
    for (size_t i = 0; i < kWrittenColumns.size(); ++i) {
      EXPECT_EQ(a->second[i], e->second[i]) << "entry " << e->first << ", column " << kWrittenColumns[i];
    }
  }
}

}  // namespace
}  // namespace corvane::galreader::testing
