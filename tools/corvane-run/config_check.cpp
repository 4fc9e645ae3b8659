#include "tools/corvane-run/config_check.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "platform/ado/ado.h"
#include "platform/mapi/gal_directory.h"
#include "platform/mapi/last_error.h"
#include "platform/mapi/ldap_settings.h"
#include "platform/mapi/profile_store.h"
#include "platform/registry/hive_format.h"
#include "service/export/connection_string.h"
#include "service/export/import_dl_record.h"
#include "service/export/profile_check.h"
#include "service/export/schema.h"
#include "service/parameters/parameter_reference.h"
#include "service/parameters/parameters.h"
#include "service/parameters/startup_settings.h"
#include "service/host/schedule_forecast.h"
#include "tools/corvane-run/table_count_poller.h"

namespace corvane::runtool {
namespace {

namespace fs = std::filesystem;

struct NoCase {
  bool operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](unsigned char x, unsigned char y) { return std::tolower(x) < std::tolower(y); });
  }
};

// The value of `attribute` in an ODBC connection string ("" when absent).
std::string Attribute(const std::string& connectionString, std::string_view attribute) {
  size_t pos = 0;
  while (pos < connectionString.size()) {
    size_t end = connectionString.find(';', pos);
    if (end == std::string::npos) end = connectionString.size();
    const std::string item = connectionString.substr(pos, end - pos);
    const size_t eq = item.find('=');
    if (eq != std::string::npos && registry::EqualsNoCase(item.substr(0, eq), attribute)) return item.substr(eq + 1);
    pos = end + 1;
  }
  return {};
}

class Check {
 public:
  Check(const registry::Hive& hive, std::time_t now, std::FILE* out) : hive_(hive), now_(now), out_(out) {}

  int Run() {
    const fs::path home = hive_.file().parent_path();
    Ok(fmt::format("Corvane home {} (settings in {})", home.string(), hive_.file().string()));
    try {
      for (const auto& v : hive_.List(registry::kParametersKeyPath)) values_[v.name] = v.value.AsText();
    } catch (const std::exception& e) {
      Error(fmt::format("the settings cannot be read: {}", e.what()));
      return Finish();
    }
    if (values_.empty()) {
      Error(fmt::format("{} holds no parameters (is CORVANE_HOME={} the right home?); set them with corvane-reg or "
                        "CorvaneWizard",
                        hive_.file().string(), home.string()));
      return Finish();
    }
    // The values a run takes at start-up, as the service reads them.
    settings_ = parameters::ReadStartupSettings([this](const std::string& name, const std::string& defaultText) {
      const auto it = values_.find(name);
      return it != values_.end() ? it->second : defaultText;
    });
    Values();
    Database();
    Directory();
    Schedule();
    Columns();
    FollowOnJobs();
    return Finish();
  }

 private:
  void Line(const char* kind, const std::string& text) { fmt::print(out_, "{}: {}\n", kind, text); }
  void Ok(const std::string& text) { Line("ok", text); }
  void Warning(const std::string& text) {
    ++warnings_;
    Line("warning", text);
  }
  void Error(const std::string& text) {
    ++errors_;
    Line("error", text);
  }
  int Finish() {
    fmt::print(out_, "corvane-run --check: {} error(s), {} warning(s)\n", errors_, warnings_);
    return errors_ > 0 ? kCheckErrors : warnings_ > 0 ? kCheckWarnings : kCheckGood;
  }

  // A value as the service reads it: the stored text, else its default.
  std::string Get(const std::string& name) const {
    if (auto it = values_.find(name); it != values_.end()) return it->second;
    for (const auto& p : parameters::AllParameters())
      if (registry::EqualsNoCase(p.name, name)) return std::string(p.defaultText);
    return {};
  }
  bool Set(const std::string& name) const { return values_.count(name) != 0; }

  void Values() {
    for (const auto& [name, text] : values_) {
      if (!parameters::IsKnownParameter(name)) {
        Warning(parameters::UnknownNameWarning(name));
      } else if (auto problem = parameters::ValueProblem(name, text)) {
        Error(fmt::format("{}: {}", name, *problem));
      }
    }
    for (const char* name : {"ConnectionString", "Mailbox", "Server"}) {
      if (Get(name).empty()) Error(fmt::format("{} is not set: a run ends at once (exit status 78)", name));
    }
    for (const char* name : {"TableName", "TempTableName"}) {
      if (Set(name) && Get(name).empty()) Error(fmt::format("{} is empty: a run cannot build its tables", name));
    }
  }

  // The service's unit lets it write only in its home.
  void WrittenByTheService(const std::string& what, const fs::path& file) {
    const fs::path home = fs::weakly_canonical(hive_.file().parent_path());
    const fs::path where = fs::weakly_canonical(fs::absolute(file));
    const auto [end, rest] = std::mismatch(home.begin(), home.end(), where.begin(), where.end());
    if (end != home.end())
      Warning(fmt::format("{} {} lies outside the home {}: the service's unit lets it write only in its home (add "
                          "the folder with ReadWritePaths= in systemctl edit)",
                          what, file.string(), home.string()));
  }

  void Database() {
    const std::string& cs = settings_.connectionString;
    if (cs.empty()) return;
    const std::string shown = service::PasswordFreeConnectionString(cs);
    // Opened so that a missing SQLite file is not created; the database
    // layer changes the string only for a driver that opens a file.
    const std::string opened = ado::WithoutCreatingTheDatabase(cs);
    const fs::path file = opened != cs ? fs::path(Attribute(cs, "Database")) : fs::path();
    if (!file.empty()) WrittenByTheService("database: the SQLite file", file);
    auto connection = ado::CreateConnection();
    try {
      connection->Open(opened);
    } catch (const std::exception& e) {
      // A SQLite file that does not exist yet is the first run's to create.
      std::error_code ec;
      if (!file.empty() && !fs::exists(file, ec)) {
        const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
        if (::access(folder.c_str(), W_OK) == 0) {
          Ok(fmt::format("database: {} does not exist yet; the first run creates it", file.string()));
        } else {
          Error(fmt::format("database: {} does not exist and its folder cannot be written by this user", file.string()));
        }
        return;
      }
      Error(fmt::format("database: cannot connect with {}: {}", shown, e.what()));
      return;
    }
    Ok(fmt::format("database: connected to {} with {}", connection->DbmsName(), shown));
    const std::string& table = settings_.tableName;
    if (auto rows = CountRows(*connection, table)) {
      Ok(fmt::format("final table {} holds {} rows", table, *rows));
    } else {
      Ok(fmt::format("final table {} does not exist yet; the first complete run builds it", table));
    }
    connection->Close();
  }

  void Directory() {
    const std::string server = Get("Server"), mailbox = Get("Mailbox");
    if (server.empty() || mailbox.empty()) return;
    const mapi::LdapSettings bind = mapi::ReadLdapSettings(hive_);
    const bool ldif = mapi::NamesLdifFile(server);
    if (!ldif) {
      Ok("directory: " + mapi::DescribeBind(bind));
      if (!bind.sasl_mech.empty() && !bind.bind_dn.empty())
        Warning(fmt::format("directory: {} is set, so the bind DN {} ({}) is not used", mapi::kLdapSaslMechValue,
                            bind.bind_dn, bind.bind_dn_from));
      if (bind.bind_dn.empty() && !bind.password_file.empty())
        Warning(fmt::format("directory: the password file {} ({}) is set but no bind DN is: the password is not used",
                            bind.password_file, bind.password_file_from));
      if (const std::string clear = mapi::ClearTextBindWarning(server, bind); !clear.empty()) {
        if (bind.refuse_clear_bind) {
          Error("directory: " + clear);
        } else {
          Warning("directory: " + clear);
        }
      }
    }
    mapi::EchoFailures(false);  // the failure is reported below, once
    std::shared_ptr<mapi::GalDirectory> directory;
    const HRESULT hr = mapi::GalDirectory::Open(server, mailbox, directory);
    if (FAILED(hr)) {
      Error(fmt::format("directory: cannot log on to {} as {}{}: {}", server, mailbox,
                        ldif ? "" : " (" + mapi::DescribeBind(bind) + ")", MAPIGetLastErrorText()));
    } else if (directory->count() == 0) {
      Error(fmt::format("directory: {} has no address-list entries; a run would end the service (exit status 69){}",
                        server,
                        directory->by_address_book_attribute() ? "; " + mapi::NoAddressListText(directory->source())
                                                               : ""));
    } else {
      Ok(fmt::format("directory: {} holds {} address-list entries; the mailbox {} is {}", server, directory->count(),
                     mailbox, directory->mailbox_dn()));
    }
    std::optional<mapi::ExchangeProfile> stored;
    try {
      stored = mapi::ReadExchangeProfile("TWCorvane");
    } catch (const std::exception& e) {
      Error(fmt::format("mail profile TWCorvane cannot be read: {}", e.what()));
      return;
    }
    if (!stored) {
      Ok("mail profile TWCorvane does not exist yet; the first run creates it with Server and Mailbox");
    } else if (auto warning = service::ProfileMismatchWarning(mailbox, server); !warning.empty()) {
      Warning(warning.starts_with("Warning: ") ? warning.substr(9) : warning);
    } else {
      Ok(fmt::format("mail profile TWCorvane: server {} and mailbox {}, as the parameters say", stored->server,
                     stored->mailbox));
    }
  }

  void Schedule() {
    const int16_t kind = settings_.scheduleType;
    const auto read = [this](std::string_view name) { return Get(std::string(name)); };
    const auto forecast = service::ForecastSchedule(kind, read, parameters::ToDateTime(now_));
    const std::string line = "schedule (ScheduleType " + std::to_string(kind) + ", read when the service starts): " +
                             forecast.description;
    if (kind >= service::kDaily && kind <= service::kContinuous) {
      Ok(line);
    } else {
      Warning(line);
    }
    for (const auto& problem : forecast.problems) Warning("schedule: " + problem);
    Ok("next run due: " + forecast.nextDueText);
    if (Get(parameters::kFinalTableIncomplete) == "1")
      Warning("the last run left the final table incomplete: the service runs the export at its first check");
  }

  void Columns() {
    parameters::ColumnSelection boxes{};
    bool any = false;
    for (int i = 0; i < parameters::kColumnBoxCount; ++i) {
      const std::string name(parameters::kColumnBoxes[i].ParameterName());
      boxes[i] = parameters::ToInt16(Get(name)).value_or(0);
      any = any || (boxes[i] == 1 && name != "ENTRY_ID");
    }
    std::string list = service::BuildFinalTableLists(boxes, settings_.noParse, settings_.noSmtp).selectList;
    std::vector<std::string> columns;
    for (const auto& column : parameters::SplitList(list))
      if (!column.empty()) columns.push_back(column);
    const std::string line = fmt::format("final table {} columns: {} ({} columns)", settings_.tableName,
                                         fmt::join(columns, ", "), columns.size());
    if (any) {
      Ok(line);
    } else {
      Warning(line + "; no column switch is 1, so it holds no names: set e.g. DISPLAY_NAME, GIVEN_NAME, SURNAME, "
                     "ACCOUNT to 1");
    }
  }

  void FollowOnJobs() {
    if (!settings_.distList) return;
    if (settings_.distListFile.empty()) {
      Warning("DistList is on but DistListFile is empty: no distribution list is made");
    } else {
      WrittenByTheService("DistListFile", settings_.distListFile);
    }
    if (Get("EMS_AB_PROXY_ADDRESSES") != "1")
      Warning("DistList is on but EMS_AB_PROXY_ADDRESSES is not 1: the list file stays empty");
    // The list file separates its columns with commas and cannot quote them.
    if (const std::string name = Get("DistListName"); name.find(',') != std::string::npos)
      Error(fmt::format("DistListName: \"{}\" holds a comma, which the list file cannot carry: every run's "
                        "dsimport would refuse the list; choose a name without one",
                        name));
    LastImport();
  }

  // The outcome dsimport left of its last import (the run does not wait for it).
  void LastImport() {
    const fs::path file = hive_.file().parent_path() / service::kImportRecordFileName;
    std::string error;
    bool missing = false;
    const auto record = service::ReadImportRecord(file, error, missing);
    if (missing) {
      Ok(fmt::format("distribution list: no dsimport has finished in this home yet ({})", file.string()));
    } else if (!record) {
      Warning("distribution list: " + error);
    } else if (record->failed) {
      Warning("distribution list: the last dsimport " + service::DescribeImport(*record));
    } else {
      Ok("distribution list: the last dsimport " + service::DescribeImport(*record));
    }
  }

  const registry::Hive& hive_;
  std::time_t now_;
  std::FILE* out_;
  std::map<std::string, std::string, NoCase> values_;
  parameters::StartupSettings settings_;
  int warnings_ = 0;
  int errors_ = 0;
};

}  // namespace

int CheckConfiguration(const registry::Hive& hive, std::time_t now, std::FILE* out) {
  return Check(hive, now, out).Run();
}

}  // namespace corvane::runtool
