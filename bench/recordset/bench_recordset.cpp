// Reads and writes back every row of a temporary GAL table (51 columns)
// through an updatable Recordset, as the address parse pass does, at two
// table sizes on SQLite and PostgreSQL. The write-back must cost the same
// per row at any size: the larger table's rate should stay near the smaller's.
//
//   bench_recordset [rows...]     (default 10000 100000)
// PostgreSQL is measured when CORVANE_TEST_PG holds its connection string.
#include <fmt/format.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/ado/ado.h"
#include "service/export/schema.h"

namespace {

using corvane::ado::Connection;

void Fill(Connection& c, const std::string& table, int rows) {
  // One statement generates the rows, so only the pass itself is timed.
  const std::string text = "'v' || i || '-abcdefghijklmnopqrstuvwxyz'";
  std::string columns = "ENTRY_ID, EMS_AB_PROXY_ADDRESSES, DefSMTP";
  std::string values =
      "'00000000DCA740C8C042101AB4B908002B2FE1820100000000000000' || i, "
      "'SMTP:user' || i || '@example.org{;},smtp:alias' || i || '@example.org{;},X400:c=US;a= ;p=Org;o=Site;s=U' || "
      "i || '{;},smtp:u' || i || '@old.example.org{;}', 'user' || i || '@example.org'";
  const auto names = corvane::service::TempTableColumnNames();
  for (size_t k = 1; k < names.size(); ++k) {
    const std::string& n = names[k];
    if (n == "EMS_AB_PROXY_ADDRESSES" || n == "DefSMTP" || n.rfind("ADDR", 0) == 0 || n == "SMTP") continue;
    columns += ", " + n;
    values += ", " + text;
  }
  c.Execute("insert into " + table + " (" + columns +
            ") with recursive n(i) as (select 1 union all select i + 1 from n where i < " + std::to_string(rows) +
            ") select " + values + " from n");
}

// One parse-like pass: read the identifier and the proxy text, write six fields back.
double Pass(Connection& c, const std::string& table, int expected) {
  const auto start = std::chrono::steady_clock::now();
  auto rs = c.CreateRecordset();
  rs->Open("select entry_id, ems_ab_proxy_addresses, addr1, addr2, addr3, addr4, addr5, smtp from " + table, c,
           corvane::ado::adOpenDynamic, corvane::ado::adLockOptimistic);
  int n = 0;
  while (!rs->IsEOF()) {
    const auto id = rs->GetValue(0);
    const auto proxies = rs->GetValue(1).value_or("");
    const auto cut = proxies.find("{;},");
    rs->SetValue(2, proxies.substr(0, cut));
    for (int k = 3; k <= 6; ++k) rs->SetValue(k, std::nullopt);
    rs->SetValue(7, *id);
    rs->Update();
    rs->MoveNext();
    ++n;
  }
  rs->Close();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (n != expected) throw std::runtime_error(fmt::format("read {} rows of {}", n, expected));
  return n / seconds;
}

void Measure(const std::string& label, const std::string& connectionString, const std::vector<int>& sizes) {
  auto c = corvane::ado::CreateConnection();
  c->Open(connectionString);
  const std::string table = fmt::format("bench_temp_gal_{}", getpid());
  const std::string longText = corvane::service::LongTextTypeFor(c->DbmsName());
  for (int rows : sizes) {
    try {
      c->Execute("drop table " + table);
    } catch (const corvane::ado::AdoError&) {
    }
    c->Execute("CREATE TABLE " + table + corvane::service::TempTableColumnList("OTHER", "GAL", longText));
    Fill(*c, table, rows);
    const double rate = Pass(*c, table, rows);
    std::printf("%s_%d_rows: %.0f rows/s\n", label.c_str(), rows, rate);
    std::fflush(stdout);
  }
  c->Execute("drop table " + table);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {10000, 100000};
  try {
    const auto dir = std::filesystem::temp_directory_path() / fmt::format("corvane-bench-{}", getpid());
    std::filesystem::create_directories(dir);
    Measure("sqlite", "Driver=SQLite3;Database=" + (dir / "bench.db").string() + ";JournalMode=WAL;SyncPragma=NORMAL",
            sizes);
    std::filesystem::remove_all(dir);
    if (const char* pg = std::getenv("CORVANE_TEST_PG"); pg && *pg)
      Measure("postgres", pg, sizes);
    else
      std::fprintf(stderr, "CORVANE_TEST_PG not set: PostgreSQL not measured\n");
  } catch (const corvane::ado::AdoError& e) {
    std::fprintf(stderr, "bench_recordset: %d %s\n", e.Number, e.Description.c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_recordset: %s\n", e.what());
    return 1;
  }
  return 0;
}
