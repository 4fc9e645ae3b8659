#include "service/export/address_parse.h"

#include <optional>

#include "service/export/database.h"
#include "service/export/database_dialect.h"

namespace corvane::service {
namespace {

constexpr std::string_view kItemEnd = "{;}";
constexpr std::string_view kItemSeparator = "{;},";
constexpr std::string_view kPrimarySmtp = "SMTP:";

bool HasText(const ado::FieldValue& v) { return v.has_value() && !v->empty(); }

// The fields the pass sets in a row of its query (entry_id, proxy
// addresses, addr1..addr5, smtp): the five address slots and, unless
// `noSmtp`, the primary SMTP address; nothing for a row without an entry
// identifier or proxy addresses.
ado::Recordset::PlannedChange AddressChange(const ado::FieldValue& id, const ado::FieldValue& proxy, bool noSmtp) {
  ado::Recordset::PlannedChange change;
  if (!HasText(proxy) || !HasText(id)) return change;
  ParsedAddresses parsed = ParseProxyAddresses(*proxy);
  for (int slot = 0; slot < 5; ++slot) change.emplace_back(2 + slot, std::move(parsed.slots[slot]));
  if (!noSmtp) change.emplace_back(7, std::move(parsed.smtp));
  return change;
}

}  // namespace

ParsedAddresses ParseProxyAddresses(std::string text) {
  while (text.size() >= kItemEnd.size() && text.compare(text.size() - kItemEnd.size(), kItemEnd.size(), kItemEnd) == 0)
    text.resize(text.size() - kItemEnd.size());

  ParsedAddresses parsed;
  // A list of nothing but end marks holds no item: every slot stays without value.
  size_t start = 0;
  for (size_t slot = 0; slot < parsed.slots.size() && !text.empty(); ++slot) {
    size_t end = text.find(kItemSeparator, start);
    parsed.slots[slot] = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (end == std::string::npos) break;
    start = end + kItemSeparator.size();
  }

  // Case matters: "smtp:" marks a secondary address.
  size_t at = text.find(kPrimarySmtp);
  if (at != std::string::npos) {
    size_t from = at + kPrimarySmtp.size();
    size_t to = text.find(kItemEnd, from);
    parsed.smtp = text.substr(from, to == std::string::npos ? std::string::npos : to - from);
  }
  return parsed;
}

void AddressParse(ExportContext& w, Recovery& recovery, const RowProgress& progress) {
  w.WriteLog("ParseSrt:" + w.Now());
  const std::string query = "select entry_id, ems_ab_proxy_addresses, addr1, addr2, addr3, addr4, addr5, smtp from " +
                            w.TempTableName;
  ado::Connection& connection = *w.ServiceConnection;
  auto open = [&] {
    auto rs = connection.CreateRecordset();
    recovery.Try([&] { rs->Open(query, connection, ado::adOpenDynamic, ado::adLockOptimistic); });
    return rs;
  };
  // EOF of a recordset that failed to open counts as no rows.
  auto atEnd = [](const ado::Recordset& rs) { return rs.State() != ado::adStateOpen || rs.IsEOF(); };

  std::unique_ptr<ado::Recordset> rs = open();
  if (atEnd(*rs)) {
    // The library's rows may not be visible yet: read once more.
    w.WriteLog("No records found in temp.  Retrying...");
    recovery.Try([&] { rs->Close(); });
    rs = open();
    if (atEnd(*rs)) w.WriteLog("No records in temp!", LogPriority::Warning);
  }

  const bool noSmtp = w.NoSMTP == 1;
  // The changes are committed per 1,000 rows (Oracle by its own statement,
  // as before), not one by one: a refused change still costs that row only.
  std::optional<ado::Batch> batch;
  if (!RunDialect(w).CommitsByStatement()) recovery.Try([&] { batch.emplace(connection); });
  // The rows' changes up to the next commit are announced ahead: the
  // database may take their write-backs in one exchange.
  const ado::Recordset::UpdatePlan plan = [noSmtp](const std::vector<ado::FieldValue>& row) {
    return row.size() < 2 ? ado::Recordset::PlannedChange{} : AddressChange(row[0], row[1], noSmtp);
  };
  long counter = 0;
  long rows = 0;
  while (!atEnd(*rs)) {
    w.DoEvents();
    if (batch) rs->ExpectUpdates(static_cast<size_t>(1000 - counter), plan);
    ado::FieldValue id, proxy;
    recovery.Try([&] { id = rs->GetValue(0); });
    recovery.Try([&] { proxy = rs->GetValue(1); });
    ado::Recordset::PlannedChange change = AddressChange(id, proxy, noSmtp);
    if (!change.empty()) {
      for (auto& [field, value] : change) recovery.Try([&] { rs->SetValue(field, std::move(value)); });
      recovery.Try([&] { rs->Update(); });
    } else {
      w.WriteLog("Email not found for entry this entry");
    }
    recovery.Try([&] { rs->MoveNext(); });
    if (++counter == 1000) {
      if (RunDialect(w).CommitsByStatement()) xSQL(w, "commit");
      if (batch) recovery.Try([&] { batch->Commit(); });
      counter = 0;
    }
    if (++rows % kProgressEvery == 0 && progress) progress(rows, false);
  }
  if (batch) recovery.Try([&] { batch->End(); });
  if (progress) progress(rows, true);
  rs.reset();
  w.WriteLog("Parse End:" + w.Now());
}

}  // namespace corvane::service
