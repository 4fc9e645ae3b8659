// libCorvane.so as the service uses it: opened by file name, its three
// exports called in turn; what they write to the library log and the table.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>

#include "galreader/export_control.h"
#include "tests/galreader/library_fixture.h"

namespace corvane::galreader::testing {
namespace {

const std::string kMarks = std::string(44, 'X') + "y\n";

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + what.size())) ++n;
  return n;
}

std::vector<LdifEntry> People(int count) {
  std::vector<LdifEntry> entries{Person("owner", "Owner")};
  for (int i = 1; i < count; ++i) entries.push_back(Person(fmt::format("user{:03}", i), fmt::format("User {}", i)));
  return entries;
}

class GalReaderTest : public LibraryTest {
 protected:
  // The library's report of its last export, from the home's control file.
  std::optional<ExportReport> Report() const { return ReadExportReport(dir.Path() / kExportControlName); }
};

using State = ExportReport::State;

TEST_F(GalReaderTest, DebugTranscriptOfATwoEntryGal) {
  CreateProfileFor(People(2));
  auto db = SqliteDatabase(dir.Path());
  db->CreateTempTable();
  lib.ModifyStruct(db->ConnectionString().c_str(), "ignored", db->TableName().c_str(), "FALSE", 0);
  EXPECT_EQ(dir.Log(),
            "\n*********************Main DLL entry**********************************\n"
            "Debug-Log Mode - Logging\n"
            "Attempting Database Connect\n"
            "Database Connect End\n"
            "Mapi Init Complete\n"
            "Mapi Logon Complete\n"
            "Address Book Open\n"
            "GAL Found\n"
            "Number of entries reported by contents table in the GAL: 2\n"
            "Evaluating GAL:\n" +
                kMarks + kMarks +
                "Z\n"
                "Start DLL cleanup\n"
                "DLL Finished. EOL\n");
  EXPECT_EQ(db->ReadRows().size(), 2u);
}

TEST_F(GalReaderTest, QuietRunsWriteNothingWhenAllGoesWell) {
  CreateProfileFor(People(3));
  EXPECT_EQ(lib.GetGALCount("TWCorvane", "TRUE"), 3);
  auto db = SqliteDatabase(dir.Path());
  db->CreateTempTable();
  lib.ModifyStruct(db->ConnectionString().c_str(), "TWCorvane", db->TableName().c_str(), "TRUE", 0);
  EXPECT_EQ(dir.Log(), "");
  EXPECT_EQ(db->ReadRows().size(), 3u);
}

TEST_F(GalReaderTest, DebugCountLogsTheGivenNameButLogsOnWithTheFixedProfile) {
  CreateProfileFor(People(2));
  EXPECT_EQ(lib.GetGALCount("Some Other Profile", "true"), 2);  // lower case is not quiet
  EXPECT_EQ(dir.Log(),
            "*********************Gal Count entry**********************************\n"
            "Debug-Log Mode - Logging\n"
            "prof. create"
            "Mapi Init\n"
            "Some Other Profile\n"
            "Mapi Logon\n"
            "Number of entries reported by contents table in the GAL: 2\n");
}

TEST_F(GalReaderTest, FailedLogonWritesItsTwoLinesEvenWhenQuiet) {
  // No profile was created in this Corvane home.
  EXPECT_EQ(lib.GetGALCount("TWCorvane", "TRUE"), 0);
  EXPECT_TRUE(std::regex_match(dir.Log(), std::regex("ERROR: MAPILogonEx call failed with hRes = 0x8[0-9a-f]{7}\n"
                                                     "Exiting...\n")))
      << dir.Log();

  dir.ClearLog();
  auto db = SqliteDatabase(dir.Path());
  db->CreateTempTable();
  lib.ModifyStruct(db->ConnectionString().c_str(), "", db->TableName().c_str(), "FALSE", 0);
  EXPECT_TRUE(std::regex_match(dir.Log(), std::regex("\n\\*+Main DLL entry\\*+\nDebug-Log Mode - Logging\n"
                                                     "Attempting Database Connect\nDatabase Connect End\n"
                                                     "Mapi Init Complete\n"
                                                     "MAPILogonExERROR: MAPILogonEx call failed with hRes = 0x8[0-9a-f]{7}\n"
                                                     "Exiting...\nDLL Finished. EOL\n")))
      << dir.Log();
  EXPECT_TRUE(db->ReadRows().empty());
}

TEST_F(GalReaderTest, SecondProfileCreationFailsAndKeepsTheFirst) {
  CreateProfileFor(People(2));
  const std::string other = WriteDirectory(People(5), "other.ldif");
  EXPECT_EQ(lib.CreateProfileWithIProfAdmin("user001", other.c_str(), "FALSE"), 1);
  EXPECT_EQ(dir.Log(),
            "*********************Create Profile Entry**********************************\n"
            "Debug-Log Mode - Logging\n"
            "Creating Profile\n" +
                other +
                "user001"
                "Error creating profile.\n"
                "Possible profile creation error, or it could be that it already exists.\n");
  dir.ClearLog();
  EXPECT_EQ(lib.CreateProfileWithIProfAdmin("user001", other.c_str(), "TRUE"), 1);
  EXPECT_EQ(dir.Log(), "");
  EXPECT_EQ(lib.GetGALCount("TWCorvane", "TRUE"), 2);  // still the first directory
}

TEST_F(GalReaderTest, WrongConnectionStringEndsBeforeTheGalIsOpened) {
  CreateProfileFor(People(2));
  auto db = SqliteDatabase(dir.Path());
  db->CreateTempTable();
  lib.ModifyStruct("Driver=No Such Driver;Database=x", "", db->TableName().c_str(), "FALSE", 0);
  EXPECT_TRUE(std::regex_match(dir.Log(), std::regex("\n\\*+Main DLL entry\\*+\nDebug-Log Mode - Logging\n"
                                                     "Attempting Database Connect\n"
                                                     "Error! Description follows: \n"
                                                     "\tCode = 80004005\n"
                                                     "\tCode meaning = Unspecified error\n"
                                                     "\tSource = [^\n]+\n"
                                                     "\tDescription = [^\n]+\n"
                                                     "Unrecoverable DB Error Encountered. Function Exit!\n")))
      << dir.Log();
  dir.ClearLog();
  lib.ModifyStruct("Driver=No Such Driver;Database=x", "", db->TableName().c_str(), "TRUE", 0);
  EXPECT_EQ(Count(dir.Log(), "\n"), 5u) << dir.Log();
  EXPECT_TRUE(db->ReadRows().empty());
}

// A wrong password is reported without the password.
TEST_F(GalReaderTest, FailedConnectionNeverLogsThePassword) {
  CreateProfileFor(People(2));
  lib.ModifyStruct("Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=1;Database=x;Uid=u;Pwd=Secret-Pw-42", "", "T",
                   "FALSE", 0);
  EXPECT_NE(dir.Log().find("Unrecoverable DB Error Encountered. Function Exit!\n"), std::string::npos);
  EXPECT_EQ(dir.Log().find("Secret-Pw-42"), std::string::npos) << dir.Log();
}

// Missing texts are empty texts: nothing the caller passes can crash it.
TEST_F(GalReaderTest, NullArgumentsAreEmptyTexts) {
  // The profile is created, with an empty mailbox and server that no
  // logon can use.
  EXPECT_EQ(lib.CreateProfileWithIProfAdmin(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(lib.GetGALCount(nullptr, nullptr), 0);
  lib.ModifyStruct(nullptr, nullptr, nullptr, nullptr, 10);
  EXPECT_NE(dir.Log().find("Unrecoverable DB Error Encountered. Function Exit!\n"), std::string::npos);
}

TEST_F(GalReaderTest, ToDoCountBetweenZeroAndFiftyIsLoggedPerEntryEvenWhenQuiet) {
  CreateProfileFor(People(3));
  auto db = SqliteDatabase(dir.Path());
  db->CreateTempTable();
  lib.ModifyStruct(db->ConnectionString().c_str(), "", db->TableName().c_str(), "TRUE", 10);
  EXPECT_EQ(dir.Log(), "ToDoCount is being Used.\nToDoCount is being Used.\nToDoCount is being Used.\n");
  for (int32_t todo : {0, 50, -1, -32768}) {
    dir.ClearLog();
    lib.ModifyStruct(db->ConnectionString().c_str(), "", db->TableName().c_str(), "TRUE", todo);
    EXPECT_EQ(dir.Log(), "") << todo;
  }
  EXPECT_EQ(db->ReadRows().size(), 15u);  // no key on the table: every run adds its rows
}

// The mailbox's own entry hidden from address lists: a GAL of no entries.
TEST_F(GalReaderTest, EmptyGalCountsZeroWithoutAnErrorAndReadsNoBatch) {
  auto owner = Person("owner", "Owner");
  owner.attributes.emplace_back("msExchHideFromAddressLists", "TRUE");
  CreateProfileFor({owner});
  EXPECT_EQ(lib.GetGALCount("TWCorvane", "TRUE"), 0);
  EXPECT_EQ(dir.Log(), "");

  auto db = SqliteDatabase(dir.Path());
  db->CreateTempTable();
  lib.ModifyStruct(db->ConnectionString().c_str(), "", db->TableName().c_str(), "FALSE", 0);
  const std::string log = dir.Log();
  EXPECT_NE(log.find("Number of entries reported by contents table in the GAL: 0\n"
                     "Evaluating GAL:\n"
                     "Start DLL cleanup\n"
                     "DLL Finished. EOL\n"),
            std::string::npos)
      << log;
  EXPECT_TRUE(db->ReadRows().empty());
}

TEST_F(GalReaderTest, RowsAreReadInBatchesOfFifty) {
  CreateProfileFor(People(120));
  auto db = SqliteDatabase(dir.Path());
  db->CreateTempTable();
  lib.ModifyStruct(db->ConnectionString().c_str(), "", db->TableName().c_str(), "FALSE", 0);
  const std::string log = dir.Log();
  EXPECT_NE(log.find("Number of entries reported by contents table in the GAL: 120\n"), std::string::npos);
  EXPECT_EQ(Count(log, "y\nZ\n"), 3u);
  EXPECT_EQ(Count(log, "Z\n"), 3u);
  EXPECT_EQ(Count(log, kMarks), 120u);
  EXPECT_EQ(db->ReadRows().size(), 120u);
}

// A batch that cannot be read ends the export there, with the error lines
// written whatever the quiet flag says: the table is short, but never
// silently, and no later batch is read past the gap.
TEST_F(GalReaderTest, ABatchThatCannotBeReadEndsTheExportWithItsErrorLines) {
  auto people = People(120);
  people[75].attributes.emplace_back("title", "DAMAGED");
  const std::string path = WriteDirectory(people);
  std::string text;
  {
    std::ifstream in(path, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), {});
  }
  // Only the reading pass decodes the title, so the logon succeeds.
  text.replace(text.find("title: DAMAGED"), 14, "title:: not*base64");
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  CreateProfileForFile(path, "owner");
  auto db = SqliteDatabase(dir.Path());
  db->CreateTempTable();

  lib.ModifyStruct(db->ConnectionString().c_str(), "", db->TableName().c_str(), "TRUE", 0);
  const std::string errorLines = "ERROR: lpContents->QueryRows call failed with hRes = 0x8004011b\nExiting...\n";
  EXPECT_EQ(dir.Log(), errorLines);
  EXPECT_EQ(db->ReadRows().size(), 50u);
  // The report tells the service the export was cut short, and why.
  const auto report = Report();
  ASSERT_TRUE(report);
  EXPECT_EQ(report->state, State::CutShort);
  EXPECT_EQ(report->read, 50);
  EXPECT_EQ(report->count, 120);
  EXPECT_EQ(report->cause.rfind("lpContents->QueryRows call failed with hRes = 0x8004011b: ", 0), 0u) << report->cause;

  dir.ClearLog();
  db->CreateTempTable();
  lib.ModifyStruct(db->ConnectionString().c_str(), "", db->TableName().c_str(), "FALSE", 0);
  std::string batch;
  for (int i = 0; i < 50; ++i) batch += kMarks;
  const std::string log = dir.Log();
  EXPECT_NE(log.find("Evaluating GAL:\n" + batch + "Z\n" + errorLines + "Start DLL cleanup\nDLL Finished. EOL\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(db->ReadRows().size(), 50u);
}

// An entry whose combined insert would pass 4096 bytes is left out; only
// the debug log says so.
TEST_F(GalReaderTest, OverlongStatementIsSkipped) {
  auto people = People(2);
  for (const char* attribute : {"description", "title", "company", "department", "streetAddress", "l", "st",
                                "physicalDeliveryOfficeName", "info", "wWWHomePage", "extensionAttribute1",
                                "extensionAttribute2", "extensionAttribute3", "extensionAttribute4",
                                "homePostalAddress", "givenName", "sn"}) {
    people[1].attributes.emplace_back(attribute, std::string(250, 'w'));
  }
  CreateProfileFor(people);
  auto db = SqliteDatabase(dir.Path());
  db->CreateTempTable();
  lib.ModifyStruct(db->ConnectionString().c_str(), "", db->TableName().c_str(), "TRUE", 0);
  EXPECT_EQ(dir.Log(), "");
  const auto rows = db->ReadRows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][1], "Owner");
  EXPECT_EQ(Report(), (ExportReport{State::Complete, 2, 2, 1, 1, ""}));

  db->CreateTempTable();
  lib.ModifyStruct(db->ConnectionString().c_str(), "", db->TableName().c_str(), "FALSE", 0);
  const std::string log = dir.Log();
  const size_t tooLong = log.find("\nSQL statement is too long:\ninsert into TEMP_GAL (entry_id,");
  ASSERT_NE(tooLong, std::string::npos) << log;
  EXPECT_TRUE(std::regex_search(log.substr(tooLong), std::regex("'\\)\n\nLength: (409[7-9]|4[1-9][0-9]{2}|[5-9][0-9]{3})\ny\n")));
  EXPECT_EQ(db->ReadRows().size(), 1u);
}

// An entry whose proxy addresses do not all fit within the bound is counted
// in the report, and named in the debug log.
TEST_F(GalReaderTest, ProxyListsCutAtTheirBoundAreCountedAndNamed) {
  auto people = People(3);
  for (int i = 0; i < 40; ++i)  // 34 characters each with the separator: 29 fit after the primary
    people[1].attributes.emplace_back("proxyAddresses", fmt::format("smtp:alias{:02}@example.org.xxxxx", i));
  CreateProfileFor(people);
  auto db = SqliteDatabase(dir.Path());
  db->CreateTempTable();
  lib.ModifyStruct(db->ConnectionString().c_str(), "", db->TableName().c_str(), "TRUE", 0);
  EXPECT_EQ(dir.Log(), "");
  EXPECT_EQ(Report(), (ExportReport{State::Complete, 3, 3, 3, 0, "", 1}));

  db->CreateTempTable();
  lib.ModifyStruct(db->ConnectionString().c_str(), "", db->TableName().c_str(), "FALSE", 0);
  const std::string log = dir.Log();
  EXPECT_EQ(Count(log, "Proxy addresses of "), 1u) << log;
  EXPECT_NE(log.find("\nProxy addresses of \"User 1\" (user001@example.org) cut at 1023 characters: 11 left out\n"),
            std::string::npos)
      << log;
}

// A value the database refuses costs its column only: the second attempt
// writes the key and every other column, and the entries before and after
// it in the same batch stay written.
std::vector<LdifEntry> WithTitle(const std::string& title) {
  auto people = People(3);
  people[1].attributes.emplace_back("title", title);
  people[1].attributes.emplace_back("department", "R&D");
  return people;
}

// The profile's directory holds People(3) with `title` and department
// "R&D" added to the second entry.
void ExpectRefusedTitleCostsOneColumn(const CorvaneLibrary& lib, TempLogDir& dir, TestDatabase& db,
                                      const std::string& extraDefinitions, const std::string& title) {
  db.CreateTempTable(extraDefinitions);
  lib.ModifyStruct(db.ConnectionString().c_str(), "", db.TableName().c_str(), "TRUE", 0);
  // Quiet: the two database errors only, five lines each.
  const std::string quietLog = dir.Log();
  EXPECT_EQ(Count(quietLog, "Error! Description follows: \n"), 2u) << quietLog;
  EXPECT_EQ(Count(quietLog, "\n"), 10u) << quietLog;

  const auto report = ReadExportReport(dir.Path() / kExportControlName);
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(FormatExportReport(*report), "complete count=3 read=3 written=3 left-out=0\n");
  auto rows = db.ReadRows();
  ASSERT_EQ(rows.size(), 3u);
  const auto& row = *std::find_if(rows.begin(), rows.end(), [](const auto& r) { return r[1] == "User 1"; });
  EXPECT_FALSE(row[0].value_or("").empty());
  EXPECT_EQ(row[1], "User 1");
  EXPECT_EQ(row[17], std::nullopt);  // title
  EXPECT_EQ(row[12], "R&D");         // department
  EXPECT_EQ(row[36], "SMTP:user001@example.org{;}");
  EXPECT_EQ(row[44], "user001@example.org");

  dir.ClearLog();
  db.CreateTempTable(extraDefinitions);
  lib.ModifyStruct(db.ConnectionString().c_str(), "", db.TableName().c_str(), "FALSE", 0);
  const std::string log = dir.Log();
  const std::string id = *row[0];
  const size_t attempt = log.find("Error:insert into " + db.TableName() + " (entry_id,");
  ASSERT_NE(attempt, std::string::npos) << log;
  const size_t statementEnd = log.find("')\n", attempt);
  const std::string statement = log.substr(attempt + 6, statementEnd + 2 - attempt - 6);
  EXPECT_NE(log.find("Error:" + statement + "\nToo Long! " + statement + " is " + std::to_string(statement.size()) +
                     " characters long.\n\nPerforming 2nd Attempt - line by line\nError! Description follows: \n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("\tDescription = ", attempt), std::string::npos);
  EXPECT_NE(log.find("Error: update " + db.TableName() + " set title ='" + title + "' where entry_id ='" + id + "'\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(Count(log, "Error: "), 1u);
  EXPECT_EQ(Count(log, kMarks), 2u);  // the refused entry has no "y"
}

TEST_F(GalReaderTest, RefusedValueCostsOneColumnOnSqlite) {
  CreateProfileFor(WithTitle("Chief Executive Officer"));
  auto db = SqliteDatabase(dir.Path());
  ExpectRefusedTitleCostsOneColumn(lib, dir, *db, "CHECK (length(title) < 10)", "Chief Executive Officer");
}

TEST_F(GalReaderTest, RefusedValueCostsOneColumnOnPostgres) {
  auto db = PostgresDatabase();
  CORVANE_REQUIRE_POSTGRES(db);
  const std::string title(256, 'T');
  CreateProfileFor(WithTitle(title));
  ExpectRefusedTitleCostsOneColumn(lib, dir, *db, "", title);
}

// A connection lost in the middle of a batch takes the batch's uncommitted
// rows with it: the report counts only the rows that stayed in the table
// (the server ends the library's session itself, at the third entry).
TEST_F(GalReaderTest, ALostConnectionLeavesAReportOfTheRowsThatStayedOnPostgres) {
  auto db = PostgresDatabase();
  CORVANE_REQUIRE_POSTGRES(db);
  CreateProfileFor(People(3));
  db->CreateTempTable();
  db->Execute(
      "create or replace function corvane_test_lose_link() returns trigger as $$ begin "
      "if new.display_name = 'User 2' then perform pg_terminate_backend(pg_backend_pid()); end if; "
      "return new; end $$ language plpgsql");
  db->Execute("create trigger lose_link before insert on " + db->TableName() +
              " for each row execute function corvane_test_lose_link()");
  lib.ModifyStruct(db->ConnectionString().c_str(), "", db->TableName().c_str(), "TRUE", 0);
  const auto report = Report();
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(report->state, State::CutShort);
  EXPECT_EQ(report->written, static_cast<long>(db->ReadRows().size()));
  EXPECT_EQ(report->read, 0);
  EXPECT_NE(dir.Log().find("ERROR: the database connection was lost\n"), std::string::npos) << dir.Log();
}

TEST_F(GalReaderTest, RefusedValueCostsOneColumnOnMariadb) {
  auto db = MariadbDatabase();
  CORVANE_REQUIRE_SERVER(db, "CORVANE_TEST_MARIADB");
  const std::string title(256, 'T');
  CreateProfileFor(WithTitle(title));
  ExpectRefusedTitleCostsOneColumn(lib, dir, *db, "", title);
}

// A directory value that is not UTF-8 (a Windows-1252 name, binary data)
// costs only its bad bytes: the count and the table hold every entry, and
// nothing in the library log speaks of a failure.
void ExpectDamagedTextCostsOnlyItsBadBytes(const CorvaneLibrary& lib, TempLogDir& dir, TestDatabase& db) {
  EXPECT_EQ(lib.GetGALCount("TWCorvane", "TRUE"), 3);
  db.CreateTempTable();
  lib.ModifyStruct(db.ConnectionString().c_str(), "", db.TableName().c_str(), "TRUE", 0);
  EXPECT_EQ(dir.Log(), "");
  const auto rows = db.ReadRows();
  ASSERT_EQ(rows.size(), 3u);
  const std::string fffd = "\xEF\xBF\xBD";
  bool found = false;
  for (const auto& row : rows) {
    if (row[37] != "user001") continue;  // account
    found = true;
    EXPECT_EQ(row[1], "Ren" + fffd + " Pi" + fffd);  // 0x92 is no apostrophe here: it was never text
    EXPECT_EQ(row[17], "A" + fffd + "B");
    EXPECT_EQ(row[36], "SMTP:ren" + fffd + "@example.org{;}");
    EXPECT_EQ(row[44], "ren" + fffd + "@example.org");
  }
  EXPECT_TRUE(found);
}

std::vector<LdifEntry> WithDamagedText() {
  auto people = People(3);
  for (auto& [name, value] : people[1].attributes) {
    if (name == "displayName") value = "Ren\xE9 Pi\x92";
    if (name == "proxyAddresses") value = "SMTP:ren\xE9@example.org";
  }
  people[1].attributes.emplace_back("title", std::string("A\0B", 3));
  return people;
}

TEST_F(GalReaderTest, DamagedTextCostsOnlyItsBadBytesOnSqlite) {
  CreateProfileFor(WithDamagedText());
  auto db = SqliteDatabase(dir.Path());
  ExpectDamagedTextCostsOnlyItsBadBytes(lib, dir, *db);
}

TEST_F(GalReaderTest, DamagedTextCostsOnlyItsBadBytesOnPostgres) {
  auto db = PostgresDatabase();
  CORVANE_REQUIRE_POSTGRES(db);
  CreateProfileFor(WithDamagedText());
  ExpectDamagedTextCostsOnlyItsBadBytes(lib, dir, *db);
}

}  // namespace
}  // namespace corvane::galreader::testing
