// The row writer against a connection that records what it is given: which
// statements run, in which order, and what the library log says about them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "galreader/row_statements.h"
#include "tests/support/recording_connection.h"
#include "tests/galreader/log_dir.h"

namespace corvane::galreader {
namespace {

const std::string kInsertPrefix = "insert into T (entry_id,";

GalRecord NumberedRecord() {
  GalRecord record;
  for (size_t i = 0; i < kGalValueCount; ++i) record[i] = "v" + std::to_string(i + 1);
  return record;
}

// A record whose combined insert into table "T" is exactly `length`
// characters, twelve of its values Cyrillic text of 200 characters (400
// bytes each), so the statement is far longer in bytes than in characters.
GalRecord RecordOfCharacters(size_t length) {
  GalRecord record = NumberedRecord();
  std::string cyrillic;
  for (int i = 0; i < 200; ++i) cyrillic += "\xD0\x94";  // U+0414
  for (size_t i = 1; i <= 12; ++i) record[i] = cyrillic;
  size_t base = 0;
  for (const char c : BuildCombinedInsert("T", record, false)) base += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  record[13] += std::string(length - base, 'n');
  return record;
}

TEST(WriteGalRow, ACombinedInsertOf4096CharactersRunsAndOneCharacterMoreDoesNot) {
  TempLogDir dir;
  auto database = std::make_shared<ado::RecordingDatabase>();
  ado::RecordingConnection connection(database);
  connection.Open("recording");

  WriteGalRow(connection, "T", RecordOfCharacters(4096), false);
  ASSERT_EQ(database->statements.size(), 1u);
  EXPECT_EQ(database->statements[0].size(), 4096u + 12 * 200);  // bytes

  WriteGalRow(connection, "T", RecordOfCharacters(4097), true);
  EXPECT_EQ(database->statements.size(), 1u);  // neither run nor retried
  const std::string statement = BuildCombinedInsert("T", RecordOfCharacters(4097), false);
  EXPECT_EQ(dir.Log(), std::string(44, 'X') + "\nSQL statement is too long:\n" + statement + "\n\nLength: 4097\ny\n");

  // A refused statement's length is told in characters too.
  database->WhenPrefix(kInsertPrefix, ado::ScriptedAnswer::Fail(ado::adErrStatementRefused, "refused"));
  WriteGalRow(connection, "T", RecordOfCharacters(4096), true);
  EXPECT_NE(dir.Log().find(" is 4096 characters long.\n\n"), std::string::npos);
}

TEST(WriteGalRow, ARefusedInsertIsWrittenAgainColumnByColumnInOrder) {
  TempLogDir dir;
  auto database = std::make_shared<ado::RecordingDatabase>();
  database->WhenPrefix(kInsertPrefix, ado::ScriptedAnswer::Fail(ado::adErrStatementRefused, "value too long"));
  database->WhenPrefix("update T set title ", ado::ScriptedAnswer::Fail(ado::adErrStatementRefused, "title refused"));
  ado::RecordingConnection connection(database);
  connection.Open("recording");

  WriteGalRow(connection, "T", NumberedRecord(), true);

  const auto& s = database->statements;
  ASSERT_EQ(s.size(), 1u + kRetryStatementCount);
  const std::string insert = s[0];
  EXPECT_EQ(insert.rfind(kInsertPrefix, 0), 0u);
  EXPECT_EQ(s[1], "insert into T(entry_id) values ('v1')");
  EXPECT_EQ(s[2], "update T set display_name ='v2' where entry_id ='v1'");
  EXPECT_EQ(s[18], "update T set title ='v18' where entry_id ='v1'");  // refused; the rest still run
  EXPECT_EQ(s[36], "update T set display_type ='v36' where entry_id ='v1'");
  EXPECT_EQ(s[37], "update T set EMS_AB_PROXY_ADDRESSES ='v37' where entry_id ='v1'");
  EXPECT_EQ(s[42], "update T set ext4 ='v42' where entry_id ='v1'");
  EXPECT_EQ(s[43], "update T set php ='v44' where entry_id ='v1'");  // the personal home page first
  EXPECT_EQ(s[44], "update T set com ='v43' where entry_id ='v1'");
  EXPECT_EQ(s[45], "update T set DefSMTP ='v45' where entry_id ='v1'");

  const std::string log = dir.Log();
  const std::string expectedStart = std::string(44, 'X') + "Error! Description follows: \n";
  EXPECT_EQ(log.rfind(expectedStart, 0), 0u) << log;
  EXPECT_NE(log.find("\tDescription = value too long\nError:" + insert + "\nToo Long! " + insert + " is " +
                     std::to_string(insert.size()) + " characters long.\n\nPerforming 2nd Attempt - line by line\n"
                     "Error! Description follows: \n"),
            std::string::npos)
      << log;
  EXPECT_TRUE(log.ends_with("\tDescription = title refused\nError: " + s[18] + "\n")) << log;
  EXPECT_EQ(log.find("y\n"), std::string::npos);  // a retried entry gets no "y"
}

TEST(WriteGalRow, QuietRetryWritesOnlyTheDatabaseErrors) {
  TempLogDir dir;
  auto database = std::make_shared<ado::RecordingDatabase>();
  database->WhenPrefix(kInsertPrefix, ado::ScriptedAnswer::Fail(ado::adErrStatementRefused, "refused"));
  ado::RecordingConnection connection(database);
  connection.Open("recording");
  WriteGalRow(connection, "T", NumberedRecord(), false);
  EXPECT_EQ(database->statements.size(), 1u + kRetryStatementCount);
  const std::string log = dir.Log();
  EXPECT_EQ(log.rfind("Error! Description follows: \n\tCode = 80040e14\n", 0), 0u) << log;
  EXPECT_TRUE(log.ends_with("\tDescription = refused\n")) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 5) << log;
}

}  // namespace
}  // namespace corvane::galreader
