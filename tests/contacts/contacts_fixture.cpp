#include "tests/contacts/contacts_fixture.h"

#include <algorithm>

namespace corvane::testing {

JobHarness::JobHarness(const std::string& kind)
    : db(OpenTestDatabase(kind, "contacts")),
      w(log, control, clock, [this] { ++doEvents; }),
      env{store, registry::Hive::Machine()} {
  store.AddProfile("TWCorvane", "corvane.service");
  w.TableName = Harness::UniquePrefix() + "_GAL";
  log.OnEntry = [this](const std::string& e, service::LogPriority) {
    entries.push_back(e.size() > 6 ? e.substr(6) : e);
  };
  control.settings["cmbsubs"] = "Corvane Contacts";
  control.settings["localcontactname"] = "Local";
  if (db) control.settings["connectionstring"] = db->connectionString;
}

JobHarness::~JobHarness() {
  if (!db) return;
  try {
    auto c = Connect(db->connectionString);
    Quietly(*c, "drop table " + syncTable());
    Quietly(*c, "drop table " + w.TableName);
  } catch (const std::exception&) {
  }
  if (db->kind == "sqlite") std::filesystem::remove_all(db->dir);
}

void JobHarness::SetGal(const std::vector<GalRow>& rows) {
  auto c = Connect(db->connectionString);
  Quietly(*c, "drop table " + w.TableName);
  std::string columns, names;
  for (const auto& [column, value] : rows.front()) {
    columns += (columns.empty() ? "" : ", ") + column + " varchar(255)";
    names += (names.empty() ? "" : ", ") + column;
  }
  c->Execute("create table " + w.TableName + " (" + columns + ")");
  for (const auto& row : rows) {
    std::string values;
    for (const auto& [column, value] : row) {
      std::string literal = "NULL";
      if (value) {
        literal = "'";
        for (char ch : *value) literal += ch == '\'' ? std::string("''") : std::string(1, ch);
        literal += "'";
      }
      values += (values.empty() ? "" : ", ") + literal;
    }
    c->Execute("insert into " + w.TableName + " (" + names + ") values (" + values + ")");
  }
}

void JobHarness::Run(void (*job)(service::ExportContext&, service::contacts::ContactJobEnvironment&)) {
  failure.reset();
  try {
    job(w, env);
  } catch (const std::exception& e) {
    failure = e.what();
  }
}

bool JobHarness::Logged(const std::string& line) const {
  return std::find(entries.begin(), entries.end(), line) != entries.end();
}

std::optional<outlook::Folder> JobHarness::FolderAt(const std::string& path) {
  outlook::Namespace ns = outlook::Application(store).GetNamespace("MAPI");
  ns.Logon("TWCorvane");
  const std::string top = path.substr(0, path.find('/'));
  std::optional<outlook::Folder> folder = ns.GetDefaultFolder(
      top == "Contacts" ? outlook::olFolderContacts : outlook::olPublicFoldersAllPublicFolders);
  size_t pos = top.size();
  while (folder && pos < path.size()) {
    size_t end = path.find('/', pos + 1);
    const std::string name = path.substr(pos + 1, end == std::string::npos ? std::string::npos : end - pos - 1);
    pos = end == std::string::npos ? path.size() : end;
    outlook::Folders children = folder->GetFolders();
    std::optional<outlook::Folder> next;
    for (auto f = children.GetFirst(); f; f = children.GetNext())
      if (f->Name() == name) next = f;
    folder = next;
  }
  return folder;
}

std::vector<outlook::ContactItem> JobHarness::ContactsIn(const std::string& path) {
  std::vector<outlook::ContactItem> out;
  auto folder = FolderAt(path);
  if (!folder) return out;
  outlook::Items items = folder->GetItems();
  for (auto c = items.GetFirst(); c; c = items.GetNext()) out.push_back(*c);
  return out;
}

std::multimap<std::string, std::string> JobHarness::SyncRows() {
  std::multimap<std::string, std::string> out;
  auto c = Connect(db->connectionString);
  for (const auto& row : ReadRows(*c, "select PFC_entry_id, GAL_entry_id from " + syncTable()))
    out.emplace(row.at("PFC_ENTRY_ID").value_or(""), row.at("GAL_ENTRY_ID").value_or(""));
  return out;
}

}  // namespace corvane::testing
