#include "tests/export/export_fixture.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "service/parameters/column_switches.h"

namespace corvane::testing {

const std::vector<std::string> kSensibleSelection = {
    "GIVEN_NAME",    "SURNAME",     "DISPLAY_NAME",        "TITLE",   "COMPANY_NAME",
    "BUS_DEPARTMENT_NAME", "OFFICE_TELEPHONE_NUMBER", "MOBILE_TELEPHONE_NUMBER", "ACCOUNT"};

namespace {

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
  return s;
}

std::string Literal(const std::optional<std::string>& v) {
  if (!v) return "NULL";
  std::string out = "'";
  for (char c : *v) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

}  // namespace

std::vector<Row> ReadRows(ado::Connection& c, const std::string& sql) {
  std::vector<Row> rows;
  auto rs = c.CreateRecordset();
  rs->Open(sql, c);
  while (!rs->IsEOF()) {
    Row row;
    for (int i = 0; i < rs->FieldCount(); ++i) row[Upper(rs->FieldName(i))] = rs->GetValue(i);
    rows.push_back(std::move(row));
    rs->MoveNext();
  }
  rs->Close();
  return rows;
}

std::vector<std::string> ColumnsOf(ado::Connection& c, const std::string& table) {
  std::vector<std::string> names;
  auto rs = c.CreateRecordset();
  rs->Open("select * from " + table + " where 1=0", c);
  for (int i = 0; i < rs->FieldCount(); ++i) names.push_back(Upper(rs->FieldName(i)));
  rs->Close();
  return names;
}

bool TableExists(ado::Connection& c, const std::string& table) {
  try {
    ColumnsOf(c, table);
    return true;
  } catch (const ado::AdoError&) {
    return false;
  }
}

std::optional<galreader::ExportReport> FakeGalLibrary::ModifyStruct(const std::string& connectionString,
                                                                    const std::string& profileName,
                                                                    const std::string& tableName,
                                                                    const std::string& quiet, int32_t ToDoCount) {
  calls.push_back("ModifyStruct(" + profileName + "," + tableName + "," + quiet + "," + std::to_string(ToDoCount) + ")");
  const long n = static_cast<long>(entries.size());
  const auto result = report.value_or(galreader::ExportReport{galreader::ExportReport::State::Complete, n, n, n, 0, ""});
  if (entries.empty()) return result;
  auto c = Connect(connectionString);
  for (const Row& entry : entries) {
    std::string columns, values;
    for (const auto& [name, value] : entry) {
      columns += (columns.empty() ? "" : ", ") + name;
      values += (values.empty() ? "" : ", ") + Literal(value);
    }
    c->Execute("insert into " + tableName + " (" + columns + ") values (" + values + ")");
  }
  c->Close();
  return result;
}

Row Entry(const std::string& id, const std::string& given, const std::string& surname,
          const std::optional<std::string>& proxies) {
  Row row{{"ENTRY_ID", id},
          {"GIVEN_NAME", given},
          {"SURNAME", surname},
          {"DISPLAY_NAME", given + " " + surname},
          {"ACCOUNT", Upper(given.substr(0, 1)) + surname},
          {"TITLE", std::string("Engineer")},
          {"EMS_AB_PROXY_ADDRESSES", proxies}};
  if (proxies) {
    auto at = proxies->find("SMTP:");
    if (at != std::string::npos) row["DEFSMTP"] = proxies->substr(at + 5, proxies->find("{;}", at) - at - 5);
  }
  return row;
}

std::string Harness::UniquePrefix() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "none";
  return "X" + std::to_string(std::hash<std::string>{}(name) % 1000000);
}

Harness::Harness(const TestDatabase& database, std::string tablePrefix)
    : db(database), clock(1798761930 /* 2027-01-01 00:05:30 UTC */), w(log, control, clock, [] {}) {
  w.TableName = tablePrefix + "_GAL";
  w.TempTableName = tablePrefix + "_TEMP_GAL";
  w.connectionstring = db.connectionString;
  hooks.library = &library;
  hooks.shell = &shell;
  hooks.OnOutcome = [this](const service::RunOutcome& outcome) { outcomes.push_back(outcome); };
  // Entries arrive as "HH:MM message"; the tests look at the messages.
  log.OnEntry = [this](const std::string& entry, service::LogPriority) { entries.push_back(entry.size() > 6 ? entry.substr(6) : entry); };
  w.NewConnection = [this] {
    return std::make_unique<WrappedConnection>(ado::CreateConnection(), faults, faultNumber);
  };
}

Harness::~Harness() {
  w.ServiceConnection.reset();
  try {
    auto c = Db();
    Quietly(*c, "drop table " + w.TableName);
    Quietly(*c, "drop table " + w.TempTableName);
  } catch (const std::exception&) {
    // The database is gone (a test that stopped it): nothing is left to drop.
  }
}

void Harness::ConfigureDefaults() {
  control.settings["ConnectionString"] = db.connectionString;
  control.settings["Mailbox"] = "jdoe";
  control.settings["Server"] = "/srv/directory.ldif";
  for (const auto& box : kSensibleSelection) {
    for (const auto& b : parameters::kColumnBoxes)
      if (b.caption == box) control.settings[std::string(b.ParameterName())] = "1";
  }
}

std::optional<bool> Harness::Run() {
  bool result = true;
  try {
    service::UpdateGAL(w, run, result, hooks);
  } catch (const service::EndServiceProcess& e) {
    ended = e;
    return std::nullopt;
  }
  return result;
}

std::string Harness::LogText() const {
  std::ostringstream out;
  for (const auto& e : entries) out << e << "\n";
  return out.str();
}

bool Harness::Logged(const std::string& line) const {
  return std::find(entries.begin(), entries.end(), line) != entries.end();
}

std::vector<std::string> Harness::EventTexts(int16_t type, int32_t id) const {
  std::vector<std::string> texts;
  for (const auto& e : control.events)
    if (e.type == type && e.id == id) texts.push_back(e.text);
  return texts;
}

}  // namespace corvane::testing
