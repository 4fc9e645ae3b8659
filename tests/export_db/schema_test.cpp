#include "service/export/schema.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "service/export/connection_string.h"
#include "service/export/database_dialect.h"

namespace corvane::service {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
  return n;
}

TEST(TempTableColumnList, OracleHasItsTypesAndThePrimaryKeyNamedAfterTheFinalTable) {
  const std::string list = TempTableColumnList("ORACLE", "GAL");
  EXPECT_THAT(list, StartsWith(" (ENTRY_ID varchar(1024), DISPLAY_NAME  varchar(255), BUS_ADD_CITY varchar(255),"));
  EXPECT_THAT(list, HasSubstr("BUS_ADD_FAX_NUMBER varchar(255), BUS_HOME_PAGE varchar(255), BUS_TELEPHONE_NUMBER"));
  EXPECT_THAT(list, HasSubstr("EMS_AB_PROXY_ADDRESSES varchar(1024), ADDR1 varchar(255)"));
  EXPECT_THAT(list,
              EndsWith("php varchar(255), DefSMTP varchar(255), CONSTRAINT GAL_ENTRY_ID PRIMARY KEY (entry_id))"));
  EXPECT_EQ(Count(list, "varchar("), 51u);
  EXPECT_THAT(list, Not(HasSubstr("_number")));
}

TEST(TempTableColumnList, MssqlAndOtherWriteTheirNamesAndTypes) {
  const std::string mssql = TempTableColumnList("MSSQL", "GAL");
  EXPECT_THAT(mssql, StartsWith(" (ENTRY_ID VARCHAR(1024), DISPLAY_NAME  varchar(255),"));
  EXPECT_THAT(mssql, HasSubstr("BUS_ADD_FAX_Number varchar(255)"));
  EXPECT_THAT(mssql, HasSubstr("PAGER_TELEPHONE_number varchar(255), DISPLAY_TYPE varchar(255), "
                               "EMS_AB_PROXY_ADDRESSES varchar(1024),"));
  EXPECT_THAT(mssql, EndsWith("DefSMTP varchar(255) )"));
  EXPECT_EQ(Count(mssql, "_number"), 10u);  // all ten telephone and fax columns
  EXPECT_EQ(Count(mssql, "_Number"), 1u);

  const std::string other = TempTableColumnList("OTHER", "GAL");
  EXPECT_THAT(other, StartsWith(" (ENTRY_ID memo, DISPLAY_NAME  varchar(255),"));
  EXPECT_THAT(other, HasSubstr("EMS_AB_PROXY_ADDRESSES memo, ADDR1"));
  EXPECT_THAT(other, EndsWith("DefSMTP varchar(255) )"));
  EXPECT_EQ(TempTableColumnList("", "GAL"), other);  // before the first run's probe
  EXPECT_THAT(TempTableColumnList("OTHER", "GAL", "text"), StartsWith(" (ENTRY_ID text, "));
  EXPECT_EQ(TempTableColumnNames().size(), 51u);
}

TEST(LongTextType, MemoOnlyWhereTheDatabaseHasIt) {
  EXPECT_EQ(LongTextTypeFor("ACCESS"), "memo");
  EXPECT_EQ(LongTextTypeFor("MS Jet"), "memo");
  EXPECT_EQ(LongTextTypeFor("SQLite"), "text");
  EXPECT_EQ(LongTextTypeFor("PostgreSQL"), "text");
}

parameters::ColumnSelection Boxes(std::initializer_list<int> selected) {
  parameters::ColumnSelection boxes{};
  for (int i : selected) boxes[static_cast<size_t>(i)] = 1;
  return boxes;
}

TEST(FinalTableLists, SelectedBoxesThenTheAddressColumnsBySwitch) {
  const auto boxes = Boxes({0, 2});  // GIVEN_NAME, SURNAME
  auto lists = BuildFinalTableLists(boxes, 0, 0);
  EXPECT_EQ(lists.selectList, " entry_id, GIVEN_NAME,SURNAME,ADDR1, ADDR2 , ADDR3, ADDR4, ADDR5, SMTP, DEFSMTP");
  EXPECT_EQ(lists.definitionList,
            "entry_id memo, GIVEN_NAME varchar(255),SURNAME varchar(255),ADDR1 varchar(255), ADDR2 varchar(255), "
            "ADDR3 varchar(255), ADDR4 varchar(255), ADDR5 varchar(255), SMTP varchar(255), DEFSMTP varchar(255)");

  lists = BuildFinalTableLists(boxes, 0, 1);
  EXPECT_EQ(lists.selectList, " entry_id, GIVEN_NAME,SURNAME,ADDR1, ADDR2, ADDR3, ADDR4, ADDR5, DEFSMTP");
  EXPECT_THAT(lists.definitionList,
              EndsWith("SURNAME varchar(255),ADDR1 varchar(255), ADDR2 varchar(255), ADDR3 "
                       "varchar(255), ADDR4 varchar(255), ADDR5 varchar(255), DEFSMTP varchar(255)"));

  lists = BuildFinalTableLists(boxes, 1, 1);  // NoParse wins
  EXPECT_EQ(lists.selectList, " entry_id, GIVEN_NAME,SURNAME, DEFSMTP");
  EXPECT_EQ(lists.definitionList, "entry_id memo, GIVEN_NAME varchar(255),SURNAME varchar(255), DEFSMTP varchar(255)");
}

TEST(FinalTableLists, EntryIdBoxAddsNothingAndCaptionsNameTheColumns) {
  auto lists = BuildFinalTableLists(Boxes({5, 17, 38, 43}), 1, 0, "text");
  EXPECT_EQ(lists.selectList, " entry_id, EMS_AB_PROXY_ADDRESSES,EXT1,PHP, DEFSMTP");
  EXPECT_EQ(lists.definitionList,
            "entry_id text, EMS_AB_PROXY_ADDRESSES text,EXT1 varchar(255),PHP varchar(255), DEFSMTP varchar(255)");
  // A value other than 1 does not select.
  auto boxes = Boxes({});
  boxes[0] = 2;
  boxes[1] = -1;
  lists = BuildFinalTableLists(boxes, 1, 0);
  EXPECT_EQ(lists.selectList, " entry_id, DEFSMTP");
}

TEST(FinalTableLists, NoSelectedBoxStillGivesWellFormedLists) {
  for (const auto& boxes : {Boxes({}), Boxes({5})}) {
    auto lists = BuildFinalTableLists(boxes, 0, 0);
    EXPECT_EQ(lists.selectList, " entry_id,ADDR1, ADDR2 , ADDR3, ADDR4, ADDR5, SMTP, DEFSMTP");
    EXPECT_THAT(lists.definitionList, StartsWith("entry_id memo,ADDR1 varchar(255), "));
    EXPECT_THAT(lists.selectList + lists.definitionList, Not(HasSubstr(",,")));
  }
}

TEST(PasswordFreeConnectionString, HidesEveryPasswordAndKeepsTheRest) {
  EXPECT_EQ(PasswordFreeConnectionString("Driver={PostgreSQL Unicode};Server=h;Uid=u;Pwd=corvane-test;CommLog=0"),
            "Driver={PostgreSQL Unicode};Server=h;Uid=u;Pwd=EXISTS;CommLog=0");
  EXPECT_EQ(PasswordFreeConnectionString("Provider=SQLOLEDB;password=a=b;User ID=sa"),
            "Provider=SQLOLEDB;password=EXISTS;User ID=sa");
  EXPECT_EQ(PasswordFreeConnectionString("PWD={x;y}}z};DSN=gal"), "PWD=EXISTS;DSN=gal");
  EXPECT_EQ(PasswordFreeConnectionString(" PASSWORD =p; pwd=q"), " PASSWORD =EXISTS; pwd=EXISTS");
  EXPECT_EQ(PasswordFreeConnectionString("Driver=SQLite3;Database=/var/lib/corvane/gal.db;"),
            "Driver=SQLite3;Database=/var/lib/corvane/gal.db;");
  EXPECT_EQ(PasswordFreeConnectionString("SSLPassword=x;OldPwd=y;Uid=pwdless"),
            "SSLPassword=EXISTS;OldPwd=EXISTS;Uid=pwdless");
  EXPECT_EQ(PasswordFreeConnectionString("Server=h;pqopt={password=s3 sslmode=require};Pwd=x"),
            "Server=h;pqopt={password=EXISTS sslmode=require};Pwd=EXISTS");
  EXPECT_EQ(PasswordFreeConnectionString("pqopt={ sslpassword = 'a b\\' c' host=h}"),
            "pqopt={ sslpassword = EXISTS host=h}");
  EXPECT_EQ(PasswordFreeConnectionString(""), "");
}


// The forms by what the connection reports: the kind decides for ORACLE and
// MSSQL whatever the database; behind OTHER the DBMS name decides, and
// Oracle behind OTHER gets the other databases' forms.
TEST(DatabaseDialect, FormsFollowTheKindAndTheDatabaseBehindIt) {
  struct Case {
    const char* kind;
    std::optional<std::string> dbms;
    PublishForm publish;
    bool commitStatement, refusesGrant, grantsByName, holdsVarchar;
  };
  const Case cases[] = {
      {"ORACLE", "Oracle", PublishForm::Oracle, true, false, false, true},
      {"MSSQL", "Microsoft SQL Server", PublishForm::Mssql, false, false, false, true},
      {"OTHER", "PostgreSQL", PublishForm::PostgreSQL, false, false, false, true},
      {"OTHER", "SQLite", PublishForm::SQLite, false, true, false, true},
      {"OTHER", "MariaDB", PublishForm::MySQL, false, false, true, true},
      {"OTHER", "Oracle", PublishForm::Other, false, false, false, true},
      {"OTHER", "ACCESS", PublishForm::Other, false, false, false, false},
      {"OTHER", std::nullopt, PublishForm::Other, false, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + " " + c.dbms.value_or("(no name)"));
    const DatabaseDialect d(c.kind, c.dbms);
    EXPECT_EQ(d.Kind(), c.kind);
    EXPECT_EQ(d.Publish(), c.publish);
    EXPECT_EQ(d.CommitsByStatement(), c.commitStatement);
    EXPECT_EQ(d.RefusesGrant(), c.refusesGrant);
    EXPECT_EQ(d.GrantsByName(), c.grantsByName);
    EXPECT_EQ(d.HoldsLongVarchar(), c.holdsVarchar);
  }
  // Without the DBMS name the long columns keep the "memo" they had before the probe.
  EXPECT_EQ(DatabaseDialect("OTHER", std::nullopt).Types().longText, "memo");
  EXPECT_EQ(DatabaseDialect("OTHER", "PostgreSQL").Types().longText, "text");
}

}  // namespace
}  // namespace corvane::service
