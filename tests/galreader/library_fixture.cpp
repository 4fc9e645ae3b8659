#include "tests/galreader/library_fixture.h"

#include <fmt/format.h>

#include <atomic>
#include <unistd.h>

#include "service/export/schema.h"

namespace corvane::galreader::testing {

namespace {

std::string Base64(const std::string& bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t n = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8) | uint8_t(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) out += kAlphabet[(n >> shift) & 63];
  }
  if (i + 1 == bytes.size()) {
    const uint32_t n = uint8_t(bytes[i]) << 16;
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += "==";
  } else if (i + 2 == bytes.size()) {
    const uint32_t n = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += '=';
  }
  return out;
}

// LDIF may carry a value as is only when it is printable ASCII that does
// not start with a blank, a colon or "<" and does not end with a blank.
bool SafeLdifValue(const std::string& value) {
  if (value.empty()) return true;
  if (value[0] == ' ' || value[0] == ':' || value[0] == '<' || value.back() == ' ') return false;
  for (const char c : value) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return false;
  }
  return true;
}

}  // namespace

std::string LdifText(const std::vector<LdifEntry>& entries) {
  std::string text = "version: 1\n";
  for (const auto& entry : entries) {
    text += "\ndn: " + entry.dn + "\n";
    for (const auto& [name, value] : entry.attributes) {
      text += SafeLdifValue(value) ? name + ": " + value + "\n" : name + ":: " + Base64(value) + "\n";
    }
  }
  return text;
}

LdifEntry Person(const std::string& account, const std::string& displayName) {
  return LdifEntry{"CN=" + account + ",OU=Users,DC=example,DC=org",
                   {{"objectClass", "top"},
                    {"objectClass", "person"},
                    {"objectClass", "organizationalPerson"},
                    {"objectClass", "user"},
                    {"cn", account},
                    {"sAMAccountName", account},
                    {"mailNickname", account},
                    {"displayName", displayName},
                    {"mail", account + "@example.org"},
                    {"proxyAddresses", "SMTP:" + account + "@example.org"}}};
}

std::string CreateTempTableStatement(const std::string& tableName, const std::string& longTextType) {
  return "CREATE TABLE " + tableName + service::TempTableColumnList("OTHER", "GAL", longTextType);
}

const std::vector<std::string> kWrittenColumns = {
    "entry_id", "display_name", "bus_add_city", "bus_add_country", "bus_add_post_office_box", "bus_add_postal_code",
    "bus_add_state_or_province", "bus_add_street", "bus_add_fax_number", "bus_home_page", "bus_telephone_number",
    "bus2_telephone_number", "bus_department_name", "given_name", "initials", "surname", "display_name_7bit",
    "title", "company_name", "office_location", "h_telephone_number", "h2_telephone_number", "h_fax_number",
    "h_add_street", "h_add_city", "h_add_state_or_province", "h_add_postal_code", "h_add_country", "manager_name",
    "office_telephone_number", "office2_telephone_number", "assistant", "assistant_telephone_number",
    "mobile_telephone_number", "pager_telephone_number", "display_type", "EMS_AB_PROXY_ADDRESSES", "account",
    "ext1", "ext2", "ext3", "ext4", "COM", "php", "DefSMTP"};

std::unique_ptr<ado::Connection> TestDatabase::Connect() {
  auto connection = ado::CreateConnection();
  connection->Open(ConnectionString());
  return connection;
}

void TestDatabase::Execute(const std::string& statement) { Connect()->Execute(statement); }

void TestDatabase::CreateTempTable(const std::string& extraDefinitions) {
  auto connection = Connect();
  try {
    connection->Execute("DROP TABLE " + table_);
  } catch (const ado::AdoError&) {
    // not there yet
  }
  std::string statement = "CREATE TABLE " + table_ +
                          service::TempTableColumnList("OTHER", "GAL", service::OtherKindTypesFor(connection->DbmsName()));
  if (!extraDefinitions.empty()) statement.insert(statement.size() - 2, ", " + extraDefinitions);
  connection->Execute(statement);
}

std::vector<Row> TestDatabase::ReadRows() {
  auto connection = Connect();
  std::string select = "select ";
  for (size_t i = 0; i < kWrittenColumns.size(); ++i) select += (i ? ", " : "") + kWrittenColumns[i];
  auto rs = connection->Execute(select + " from " + table_);
  std::vector<Row> rows;
  while (!rs->IsEOF()) {
    Row row;
    for (int i = 0; i < static_cast<int>(kWrittenColumns.size()); ++i) row.push_back(rs->GetValue(i));
    rows.push_back(std::move(row));
    rs->MoveNext();
  }
  return rows;
}

namespace {

class Sqlite : public TestDatabase {
 public:
  explicit Sqlite(std::filesystem::path file) : file_(std::move(file)) {}
  std::string ConnectionString() const override {
    return "Driver=SQLite3;Database=" + file_.string() + ";JournalMode=WAL;SyncPragma=NORMAL";
  }
  std::string Name() const override { return "SQLite"; }

 private:
  std::filesystem::path file_;
};

// A database server shared by tests running side by side: each gets a table of its own.
class Server : public TestDatabase {
 public:
  Server(std::string name, std::string connectionString)
      : name_(std::move(name)), connectionString_(std::move(connectionString)) {
    static std::atomic<int> counter{0};
    table_ = fmt::format("temp_gal_{}_{}", getpid(), counter++);
  }
  ~Server() override {
    try {
      Execute("DROP TABLE " + table_);
    } catch (...) {
    }
  }
  std::string ConnectionString() const override { return connectionString_; }
  std::string Name() const override { return name_; }

 private:
  std::string name_;
  std::string connectionString_;
};

}  // namespace

std::unique_ptr<TestDatabase> SqliteDatabase(const std::filesystem::path& dir) {
  return std::make_unique<Sqlite>(dir / "corvane.db");
}

std::unique_ptr<TestDatabase> PostgresDatabase(const std::string& extra) {
  const char* pg = std::getenv("CORVANE_TEST_PG");
  if (pg == nullptr || *pg == '\0') return nullptr;
  return std::make_unique<Server>("PostgreSQL", pg + extra);
}

std::unique_ptr<TestDatabase> MariadbDatabase() {
  const char* mariadb = std::getenv("CORVANE_TEST_MARIADB");
  if (mariadb == nullptr || *mariadb == '\0') return nullptr;
  return std::make_unique<Server>("MariaDB", mariadb);
}

std::string LibraryTest::WriteDirectory(const std::vector<LdifEntry>& entries, const std::string& name) {
  const std::filesystem::path path = dir.Path() / name;
  std::ofstream(path, std::ios::binary) << LdifText(entries);
  return path.string();
}

void LibraryTest::CreateProfileFor(const std::vector<LdifEntry>& entries, const std::string& mailbox) {
  CreateProfileForFile(WriteDirectory(entries), mailbox);
}

void LibraryTest::CreateProfileForFile(const std::string& server, const std::string& mailbox) {
  ASSERT_NE(lib.CreateProfileWithIProfAdmin, nullptr);
  ASSERT_EQ(lib.CreateProfileWithIProfAdmin(mailbox.c_str(), server.c_str(), "TRUE"), 0);
  dir.ClearLog();
}

}  // namespace corvane::galreader::testing
