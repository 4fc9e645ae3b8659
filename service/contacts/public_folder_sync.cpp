// The public-folder contact sync: one contact per row of the final GAL
// table in a public contacts folder, kept in step through the sync table
// TableName_PFC_SyncData (contact EntryID, GAL entry_id).
#include <fmt/format.h>

#include <exception>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "platform/outlook/outlook.h"
#include "service/contacts/contact_jobs.h"
#include "service/contacts/contact_mapping.h"
#include "service/contacts/job_failure.h"
#include "service/export/connection_string.h"
#include "service/export/database.h"
#include "service/export/database_dialect.h"

namespace corvane::service::contacts {
namespace {

using outlook::ContactItem;
using outlook::Folder;

// A text as an SQL literal's content: quotes doubled. Identifiers of both
// kinds are hexadecimal, so this changes nothing for them; it keeps any
// other text from ending the literal.
std::string Quoted(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

std::string Text(const ado::Recordset& rs, const char* column) { return rs.GetValue(column).value_or(""); }

long long Count(const ado::Recordset& rs) { return std::stoll(rs.GetValue(0).value_or("0")); }

class Sync {
 public:
  Sync(ExportContext& w, ContactJobEnvironment& env) : w_(w), env_(env), T_(w.TableName), sync_(T_ + "_PFC_SyncData") {}

  void Run() {
    // The target folder's name and the mail profile.
    w_.WriteLog("Start Sync of GAL Contacts with PF Contacts");
    folderName_ = w_.GetSetting("cmbsubs", "");
    const std::string& folderName = folderName_;
    w_.WriteLog("PFCFolder:" + folderName);
    if (folderName.empty()) {
      w_.WriteLog("Public Contacts folder name is blank, exiting");
      return;
    }
    ProfileChoice choice = ChooseProfile(w_, env_.hive);
    w_.WriteLog("AltProfile:" + choice.useAltProfile);
    w_.WriteLog(choice.alternative ? "Using AltProfile:" + choice.profile : "Using TWCorvane Profile");

    // The logon: there is no running program to attach to; a new one is made.
    outlook::Application app(env_.store);
    w_.WriteLog("Set oa as outlook.application");
    w_.WriteLog("set ons as outlook namespace");
    ns_.emplace(app.GetNamespace("MAPI"));
    w_.WriteLog("PreLogon");
    ns_->Logon(choice.profile, "", false, true);

    // The target folder.
    Folder target = FindTarget(folderName);
    targetId_ = target.EntryID();

    // The database, the sync table and the rows to sync.
    const std::string cs = w_.GetSetting("connectionstring", "");
    w_.WriteLog("Connection String: " + PasswordFreeConnectionString(cs));
    if (cs.empty()) {
      w_.WriteLog("Connection String Not found, exiting");
      return;
    }
    conn_ = w_.NewConnection();
    conn_->Open(cs, "", "");
    dialect_ = ProbeDialect();
    const bool exists = DoesSyncTableExist(w_).value_or(false);
    rs_ = conn_->CreateRecordset();
    if (!exists) {
      // The sync table needs varchar(1024), which only the desktop
      // databases (they need memo columns) cannot hold.
      if (!dialect_.HoldsLongVarchar()) {
        w_.WriteLog(
            "Public Folder Contacts Syncronization is not available when using Microsoft Access due to datatype "
            "limitations.  Please choose a different type of database system and rerun Corvane.  Exit.");
        return;
      }
      conn_->Execute("create table " + T_ + "_PFC_SyncData (PFC_entry_id varchar(1024), GAL_entry_id varchar(1024))");
      CreateSyncIndexes();
      Query("select * from " + T_ + "_PFC_SyncData a, " + T_ + " b where a.gal_entry_id = b.entry_id");
      if (rs_->IsEOF()) w_.WriteLog("No Records in SyncTable: " + T_ + "_PFC_Syncdata, exiting");
    } else {
      w_.WriteLog("SyncTableExists");
      Query("select distinct * from " + T_ + "_PFC_SyncData a, " + T_ + " b where a.gal_entry_id = b.entry_id");
    }

    // The update phase, the add phase and the removal passes.
    const bool recovered = UpdatePhase(target);
    const long added = AddPhase(recovered);
    RemovalPasses(!recovered && added > 0);
  }

 private:
  // The target: the folder named "cmbsubs" among the public folders
  // (a sub-folder before its top-level folder), created when missing.
  Folder FindTarget(const std::string& name) {
    const bool nested = name.find('\\') != std::string::npos;
    w_.WriteLog("GetDefault Public Folder");
    Folder root = ns_->GetDefaultFolder(outlook::olPublicFoldersAllPublicFolders);
    w_.WriteLog("Pre Loop through Folders");
    outlook::Folders top = root.GetFolders();
    for (auto f = top.GetFirst(); f; f = top.GetNext()) {
      outlook::Folders subs = f->GetFolders();
      if (subs.Count() > 0) {
        for (auto s = subs.GetFirst(); s; s = subs.GetNext()) {
          std::string candidate = nested ? f->Name() + "\\" + s->Name() : s->Name();
          if (candidate == name) {
            w_.WriteLog("looping throught top level folders: " + f->Name());
            return *s;
          }
        }
      }
      w_.WriteLog("looping throught top level folders: " + f->Name());
      if (f->Name() == name) return *f;
    }
    if (!nested) return root.GetFolders().Add(name, outlook::olFolderContacts);
    const size_t split = name.find('\\');
    const std::string parent = name.substr(0, split), child = name.substr(split + 1);
    w_.WriteLog("GetDefault Public Folder");
    root = ns_->GetDefaultFolder(outlook::olPublicFoldersAllPublicFolders);
    top = root.GetFolders();
    for (auto f = top.GetFirst(); f; f = top.GetNext())
      if (f->Name() == parent) return f->GetFolders().Add(child, outlook::olFolderContacts);
    return root.GetFolders().Add(parent, outlook::olFolderContacts).GetFolders().Add(child, outlook::olFolderContacts);
  }

  // The probe reads the context's connection, which the run has released
  // by now; it is lent this sync's own connection for the probe.
  DatabaseDialect ProbeDialect() {
    std::swap(w_.ServiceConnection, conn_);
    DatabaseDialect dialect = DatabaseDialect::Probe(w_);
    std::swap(w_.ServiceConnection, conn_);
    return dialect;
  }

  // The removal pass looks a contact up by PFC_entry_id, the update of a
  // re-created contact and the orphan step by GAL_entry_id: an index on
  // each keeps every lookup from reading the whole table. An index is no
  // result, so a database that refuses one only loses speed.
  void CreateSyncIndexes() {
    for (const auto& [suffix, column] : {std::pair{"_pfc", "PFC_entry_id"}, std::pair{"_gal", "GAL_entry_id"}}) {
      try {
        conn_->Execute("create index " + sync_ + suffix + " on " + sync_ + " (" + column + ")");
      } catch (const ado::AdoError&) {
      }
    }
  }

  // Opens the sync's one recordset on a query (closing what it held).
  void Query(const std::string& sql) {
    if (rs_->State() == ado::adStateOpen) rs_->Close();
    rs_->Open(sql, *conn_, -1, -1, -1);
  }
  void Execute(const std::string& sql) { conn_->Execute(sql); }
  void CommitOnOracle(const char* statement = "commit") {
    if (dialect_.CommitsByStatement()) Execute(statement);
  }

  // Runs op; a failure is skipped when `trap` is set, and counted as work
  // the sync could not do; else it is passed on.
  template <class Op>
  void Step(bool trap, Op&& op) {
    if (!trap) {
      op();
      return;
    }
    try {
      op();
    } catch (const std::exception& e) {
      Shortfall(e);
    }
  }
  void Shortfall(const std::exception& e) {
    const JobFailure failure = FailureOf(e);
    if (env_.shortfall.failures++ == 0) env_.shortfall.first = fmt::format("{}  {}", failure.number, failure.description);
  }
  // A contact that could not be made or saved, logged before the line of
  // its row so that the run log does not read as if it had been added.
  void NotSaved(long row, const std::exception& e) {
    Shortfall(e);
    const JobFailure failure = FailureOf(e);
    w_.WriteLog(fmt::format("Contact {} was not saved: {}  {}", row, failure.number, failure.description),
                LogPriority::Warning);
  }

  // The contact a sync row names, when it is in the target folder. One in
  // another folder (the folder "cmbsubs" named before) is left as it is:
  // the row gets a contact in the target folder.
  std::optional<ContactItem> InTarget(const std::string& entryId) {
    std::optional<ContactItem> contact;
    std::optional<Folder> folder;
    try {
      contact.emplace(ns_->GetItemFromID(entryId));
      if (contact->EntryID().empty()) return std::nullopt;
      folder.emplace(contact->Parent());
    } catch (const std::exception&) {
      return std::nullopt;
    }
    if (folder->EntryID() != targetId_) {
      if (leftBehind_.insert(folder->EntryID()).second)
        w_.WriteLog("The contacts in folder " + folder->Name() + " are no longer kept in step: they stay as they are, "
                    "and the contacts now go to " + folderName_, LogPriority::Warning);
      return std::nullopt;
    }
    taken_.insert(contact->EntryID());
    return contact;
  }

  // A contact of the target folder that stands for GAL row `galId` and
  // that no sync row found: the folder lost its identity (restored without
  // the store's hidden records), and its contacts are taken up again with
  // their UIDs instead of being made anew.
  std::optional<ContactItem> Readopt(outlook::Items& items, const std::string& galId) {
    if (!unclaimed_) {
      unclaimed_.emplace();
      try {
        for (auto c = items.GetFirst(); c; c = items.GetNext())
          if (auto gal = c->UserPropertyValue("EntryID"); gal && !taken_.count(c->EntryID()))
            (*unclaimed_)[*gal].push_back(c->EntryID());
      } catch (const std::exception&) {
      }
    }
    for (auto& ids = (*unclaimed_)[galId]; !ids.empty();) {
      const std::string id = ids.back();
      ids.pop_back();
      if (!taken_.insert(id).second) continue;
      try {
        return ns_->GetItemFromID(id);
      } catch (const std::exception&) {
      }
    }
    return std::nullopt;
  }

  // The update phase. Returns true when the store's "operation failed" recovery ran
  // (the sync table emptied, the target folder deleted).
  bool UpdatePhase(Folder& target) {
    std::optional<outlook::Items> items;
    try {
      // The start: the first row, and the target folder's items that new
      // contacts go to, counted once so that a folder whose contents the
      // store can no longer read fails here.
      items.emplace(target.GetItems());
      items->Count();
      if (!rs_->IsEOF()) rs_->MoveFirst();
    } catch (const std::exception& e) {
      JobFailure failure = FailureOf(e);
      if (failure.number != outlook::kErrOperationFailed && failure.description != outlook::kOperationFailedText)
        throw;
      Execute("delete from " + sync_);
      target.Delete();
      return true;
    }
    long row = 0;
    while (!rs_->IsEOF()) {
      ++row;
      const std::string galId = Text(*rs_, "entry_id");
      std::optional<ContactItem> contact = InTarget(Text(*rs_, "pfc_entry_id"));
      const bool readopted = !contact && (contact = Readopt(*items, galId)).has_value();
      const bool isNew = !contact;
      if (isNew) {
        try {
          contact.emplace(items->Add(outlook::olContactItem));
        } catch (const std::exception& e) {
          NotSaved(row, e);
        }
      }
      if (contact) WriteContact(*contact, MappingPlace::UpdatePhase, true, row);
      if (isNew || readopted) {
        const std::string entryId = contact ? contact->EntryID() : "";
        Execute("update " + sync_ + " set PFC_entry_id='" + Quoted(entryId) + "' where GAL_entry_id= '" +
                Quoted(galId) + "'");
        CommitOnOracle();
      }
      w_.WriteLog((isNew ? "Add contact #:" : "Sync contact #:") + std::to_string(row));
      rs_->MoveNext();
    }
    rs_->Close();
    CommitOnOracle();
    return false;
  }

  // Message class, the mapped fields and the save; a failed save is
  // logged for `row` (and passed on unless `trap`).
  void WriteContact(ContactItem& contact, MappingPlace place, bool trap, long row) {
    Step(trap, [&] { contact.SetMessageClass(std::string(outlook::kContactMessageClass)); });
    MappingHooks hooks{w_.DoEvents, [this] { return ReadParametersKey(env_.hive, "NoParse"); }};
    WriteContactFields(contact, *rs_, place, hooks);
    try {
      contact.Save();
    } catch (const std::exception& e) {
      NotSaved(row, e);
      if (!trap) throw;
    }
  }

  // The add phase: a contact and a sync row for each GAL row the sync table
  // lacks. After the recovery every failure ends the sync.
  long AddPhase(bool recovered) {
    const bool trap = !recovered;
    long row = 0;
    bool opened = false;
    Step(trap, [&] {
      Query("select * from " + T_ + " where entry_id not in (select gal_entry_id from " + T_ + "_PFC_SyncData)");
      opened = true;
    });
    std::optional<outlook::Items> items;
    Step(trap, [&] { items.emplace(ns_->GetFolderFromID(targetId_).GetItems()); });
    while (opened && !rs_->IsEOF()) {
      ++row;
      std::optional<ContactItem> contact;
      try {
        if (!items) throw outlook::StoreError(outlook::kErrNotFound, "The target folder could not be opened.");
        contact.emplace(items->Add(outlook::olContactItem));
      } catch (const std::exception& e) {
        NotSaved(row, e);
        if (!trap) throw;
      }
      if (contact) WriteContact(*contact, MappingPlace::AddPhase, trap, row);
      Step(trap, [&] {
        Execute("insert into " + T_ + "_PFC_SyncData (PFC_entry_id, GAL_entry_id) values ('" +
                Quoted(contact ? contact->EntryID() : "") + "','" + Quoted(Text(*rs_, "entry_id")) + "')");
      });
      w_.WriteLog("Added contact " + std::to_string(row));
      bool moved = false;
      Step(trap, [&] {
        rs_->MoveNext();
        moved = true;
      });
      if (!moved) break;  // a result that cannot be read further ends the phase
    }
    Step(trap, [&] {
      if (rs_->State() == ado::adStateOpen) rs_->Close();
    });
    Step(trap, [&] { CommitOnOracle(); });
    return row;
  }

  // The removal passes: sync rows whose GAL row is gone, then contacts
  // without a sync row, pass after pass until the folder holds as many
  // contacts as the sync table has rows (at most 12 passes). Failures are
  // skipped in the sync-row deletion and the first pass only when the add phase handled
  // a row.
  void RemovalPasses(bool trapFirst) {
    Step(trapFirst, [&] {
      Execute("delete from " + T_ + "_pfc_syncdata where gal_entry_id not in (select entry_id from " + T_ + ")");
      CommitOnOracle("Commit");
    });
    std::optional<outlook::Items> contacts;
    Step(trapFirst, [&] {
      contacts.emplace(ns_->GetFolderFromID(targetId_).GetItems().Restrict("[MessageClass] = 'IPM.Contact'"));
    });
    for (int pass = 0;; ++pass) {
      const bool trap = trapFirst && pass == 0;
      if (contacts) {
        std::optional<ContactItem> c;
        Step(trap, [&] { c = contacts->GetFirst(); });
        while (c) {
          Step(trap, [&] {
            Query("select count(*) from " + T_ + "_PFC_SyncData where pfc_entry_id = '" + Quoted(c->EntryID()) + "'");
            const long long n = Count(*rs_);
            rs_->Close();
            if (n == 0) c->Delete();  // only a count that was read removes a contact
          });
          Step(trap, [&] { c = contacts->GetNext(); });
        }
      }
      Step(trap, [&] { CommitOnOracle("Commit"); });
      bool same = false;
      Step(trap, [&] {
        Query("select count(*) from " + T_ + "_PFC_SyncData");
        same = contacts && contacts->Count() == Count(*rs_);
      });
      if (same) {
        CommitOnOracle("Commit");
        return;
      }
      if (pass > 10) return;
    }
  }

  ExportContext& w_;
  ContactJobEnvironment& env_;
  const std::string T_, sync_;
  std::optional<outlook::Namespace> ns_;
  std::string folderName_;
  std::string targetId_;
  std::set<std::string> taken_;       // contacts of the target folder a sync row has
  std::set<std::string> leftBehind_;  // folders the sync kept before, named in the run log once
  std::optional<std::map<std::string, std::vector<std::string>>> unclaimed_;  // GAL entry_id -> contacts
  std::unique_ptr<ado::Connection> conn_;
  std::unique_ptr<ado::Recordset> rs_;
  DatabaseDialect dialect_;  // chosen for conn_ once it is open
};

}  // namespace

void SyncPublicFolderContacts(ExportContext& w, ContactJobEnvironment& env) { Sync(w, env).Run(); }

void CreatePublicFolderContacts(ExportContext& w, ContactJobEnvironment& env) { SyncPublicFolderContacts(w, env); }

}  // namespace corvane::service::contacts
