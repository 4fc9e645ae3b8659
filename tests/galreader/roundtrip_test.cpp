// Hostile directory values through ModifyStruct into SQLite, PostgreSQL and MariaDB:
// every column of every row equals what the rules derive from the entry,
// and no value ever ends its literal or splits its statement.
#include <gtest/gtest.h>

#include <algorithm>

#include <fstream>

#include "tests/galreader/gal_expectation.h"
#include "tools/gen-directory/generate_directory.h"
#include "tests/galreader/library_fixture.h"

namespace corvane::galreader::testing {
namespace {

// Values no quoting may let through: quotes of every kind, backslashes,
// statement separators, comment markers, driver escapes and parameter
// markers, control characters, and characters sharing bytes with the
// quotes. (Text that is not UTF-8 reaches the rows with U+FFFD in place
// of its bad bytes; the library tests show it on both databases.)
const std::vector<std::string> kHostile = {
    "O'Brien",
    "D\xE2\x80\x99" "Arcy",
    "\xE2\x80\x98Quoted\xE2\x80\x99",
    "'Quoted'",
    "a''b",
    "`tick` \xC2\xB4" "acute\xC2\xB4",
    "C\xC3\xB4te d'Ivoire",
    "back\\slash\\",
    "\\'; DROP TABLE TEMP_GAL; --",
    "x'); DELETE FROM TEMP_GAL; --",
    "/* open comment",
    "-- dash comment",
    "{fn UCASE('x')} {d '2020-01-01'} {call p} ? ?1 :name $1 $$dollar$$",
    "E'\\x41' U&'\\0041'",
    "tab\tcr\rlf\nbell\x07" "del\x7F",
    "emoji \xF0\x9F\x98\x80 and \xE2\x80\xB9 and \xC2\xB5",
    "'''",
    "\\",
};

std::vector<LdifEntry> HostileDirectory() {
  const char* const attributes[] = {"displayName", "givenName", "sn", "initials", "title", "company", "department",
                                    "physicalDeliveryOfficeName", "l", "st", "postalCode", "postOfficeBox",
                                    "streetAddress", "co", "c", "telephoneNumber", "otherTelephone", "homePhone",
                                    "otherHomePhone", "facsimileTelephoneNumber", "mobile", "pager", "wWWHomePage",
                                    "info", "description", "extensionAttribute1", "extensionAttribute2",
                                    "extensionAttribute3", "extensionAttribute4", "displayNamePrintable",
                                    "telephoneAssistant", "homePostalAddress"};
  std::vector<LdifEntry> entries{Person("owner", "Owner")};
  for (size_t v = 0; v < kHostile.size(); ++v) {
    LdifEntry e = Person("hostile" + std::to_string(v), kHostile[v]);
    for (const char* attribute : attributes) {
      if (std::string(attribute) != "displayName") e.attributes.emplace_back(attribute, kHostile[(v + 1) % kHostile.size()]);
    }
    e.attributes.emplace_back("proxyAddresses", "smtp:" + kHostile[v]);
    e.attributes.emplace_back("proxyAddresses", "X400:c=US;a= ;p=" + kHostile[(v + 2) % kHostile.size()]);
    entries.push_back(std::move(e));
  }
  // Over-long values: refused by a database that enforces varchar(255).
  LdifEntry longValues = Person("longvalues", "Long Values");
  longValues.attributes.emplace_back("title", std::string(300, 't'));
  longValues.attributes.emplace_back("company", "\xC3\xA9" + std::string(254, 'c'));  // 255 characters, 256 bytes
  entries.push_back(std::move(longValues));
  // Twelve values of 200 Cyrillic characters: a statement of some 3,500
  // characters, within its bound, although it takes over 5,800 bytes.
  LdifEntry cyrillic = Person("cyrillic", "Cyrillic Values");
  std::string twoHundred;
  for (int i = 0; i < 200; ++i) twoHundred += "\xD0\x96";  // U+0416
  for (const char* attribute : {"title", "company", "department", "l", "st", "streetAddress", "info",
                                "extensionAttribute1", "extensionAttribute2", "extensionAttribute3",
                                "extensionAttribute4", "homePostalAddress"})
    cyrillic.attributes.emplace_back(attribute, twoHundred);
  entries.push_back(std::move(cyrillic));
  // Many addresses: the joined list stops short of its bound.
  LdifEntry many = Person("manyaddresses", "Many Addresses");
  for (int i = 0; i < 40; ++i) many.attributes.emplace_back("proxyAddresses", "smtp:o'addr" + std::to_string(i) + "@example.org");
  entries.push_back(std::move(many));
  return entries;
}

void ExpectTableMatchesDirectory(TestDatabase& db, const TableLimits& limits) {
  const auto gal = ReadGalValues();
  ASSERT_FALSE(gal.empty());
  const auto expected = ExpectedRows(gal, db.TableName(), limits);

  std::multimap<std::string, Row> actual;
  for (auto& row : db.ReadRows()) actual.emplace(row[0].value_or("<NULL>"), row);
  ASSERT_EQ(actual.size(), expected.size()) << db.Name();
  auto a = actual.cbegin();
  for (auto e = expected.cbegin(); e != expected.cend(); ++e, ++a) {
    ASSERT_EQ(a->first, e->first) << db.Name();
    for (size_t i = 0; i < kWrittenColumns.size(); ++i) {
      EXPECT_EQ(a->second[i], e->second[i]) << db.Name() << ": entry " << e->first << ", column " << kWrittenColumns[i];
    }
  }
}

class RoundTripTest : public LibraryTest {
 protected:
  void Run(TestDatabase& db, const TableLimits& limits) {
    CreateProfileFor(HostileDirectory());
    // The directory reaches the rows untouched: each hostile value is some
    // entry's display name.
    const auto gal = ReadGalValues();
    for (const auto& value : kHostile) {
      EXPECT_TRUE(std::any_of(gal.begin(), gal.end(), [&](const auto& values) { return values[1] == value; }))
          << value;
    }
    Export(db);
    ExpectTableMatchesDirectory(db, limits);
  }

  void Export(TestDatabase& db) {
    db.CreateTempTable();
    lib.ModifyStruct(db.ConnectionString().c_str(), "", db.TableName().c_str(), "TRUE", 0);
  }

  // The shipped sample directory, or one made by the sample generator.
  void UseSampleDirectory() {
    CreateProfileForFile((SourceDir() / "samples/directory.ldif").string(), gendir::kServiceAccount);
  }
  void UseGeneratedDirectory(uint64_t entries, uint64_t seed) {
    const std::filesystem::path path = dir.Path() / "generated.ldif";
    std::ofstream out(path, std::ios::binary);
    gendir::WriteDirectory(out, gendir::Options{entries, seed});
    out.close();
    CreateProfileForFile(path.string(), gendir::kServiceAccount);
  }
};

TEST_F(RoundTripTest, HostileValuesOnSqlite) {
  auto db = SqliteDatabase(dir.Path());
  Run(*db, TableLimits{});
}

TEST_F(RoundTripTest, HostileValuesOnPostgres) {
  auto db = PostgresDatabase();
  CORVANE_REQUIRE_POSTGRES(db);
  Run(*db, TableLimits{255});
}

// MariaDB reads a backslash in a literal as an escape unless told not to:
// the connection tells it, and the values arrive as they were.
TEST_F(RoundTripTest, HostileValuesOnMariadb) {
  auto db = MariadbDatabase();
  CORVANE_REQUIRE_SERVER(db, "CORVANE_TEST_MARIADB");
  Run(*db, TableLimits{255});
}

// A server set to read backslashes in literals as escapes: the library's
// connection reads them as ordinary characters all the same.
TEST_F(RoundTripTest, HostileValuesOnPostgresSetForBackslashEscapes) {
  auto db = PostgresDatabase(";ConnSettings={SET standard_conforming_strings = off}");
  CORVANE_REQUIRE_POSTGRES(db);
  Run(*db, TableLimits{255});
}

// The sample directories hold every apostrophe-like character, other
// scripts, forty addresses, missing properties: every column must match.
TEST_F(RoundTripTest, SampleAndGeneratedDirectoriesOnSqlite) {
  auto db = SqliteDatabase(dir.Path());
  UseSampleDirectory();
  Export(*db);
  ExpectTableMatchesDirectory(*db, TableLimits{});

  TempLogDir other;  // a fresh home for a second profile
  UseGeneratedDirectory(1000, 7);
  Export(*db);
  ExpectTableMatchesDirectory(*db, TableLimits{});
}

TEST_F(RoundTripTest, SampleAndGeneratedDirectoriesOnPostgres) {
  auto db = PostgresDatabase();
  CORVANE_REQUIRE_POSTGRES(db);
  UseSampleDirectory();
  Export(*db);
  ExpectTableMatchesDirectory(*db, TableLimits{255});

  TempLogDir other;
  UseGeneratedDirectory(1000, 7);
  Export(*db);
  ExpectTableMatchesDirectory(*db, TableLimits{255});
}

}  // namespace
}  // namespace corvane::galreader::testing
