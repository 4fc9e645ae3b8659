#include "service/export/import_dl.h"

#include <fmt/format.h>

#include <fstream>
#include <memory>
#include <stdexcept>

#include "platform/atomicfile/atomic_file.h"
#include "platform/shell/shell.h"
#include "service/export/gal_library.h"

namespace corvane::service {
namespace {

constexpr int32_t kEventInfo = 110;
constexpr const char* kToolName = "dsimport";
constexpr const char* kOptions[] = {"/FILE=", "/DSA=", "/BASEPOINT=", "/CONTAINER="};

// Releases the service connection however the import ends.
class ConnectionRelease {
 public:
  explicit ConnectionRelease(ServiceMain& w) : w_(w) {}
  ~ConnectionRelease() {
    if (!w_.ServiceConnection) return;
    try {
      if (w_.ServiceConnection->State() == ado::adStateOpen) w_.ServiceConnection->Close();
    } catch (const std::exception&) {
      // A lost connection may refuse its close; it is released below.
    }
    w_.ServiceConnection.reset();
  }
  ConnectionRelease(const ConnectionRelease&) = delete;
  ConnectionRelease& operator=(const ConnectionRelease&) = delete;

 private:
  ServiceMain& w_;
};

}  // namespace

std::vector<std::string> DistListToolArguments(const std::string& file, const std::string& server,
                                               const std::string& org, const std::string& container) {
  return {kOptions[0] + file, kOptions[1] + server, kOptions[2] + org, kOptions[3] + container};
}

std::string DistListCommandLine(const std::filesystem::path& tool, const std::vector<std::string>& arguments) {
  std::string line = tool.string();
  for (const auto& a : arguments) {
    size_t eq = a.find('=');
    line += fmt::format(" {}\"{}\"", a.substr(0, eq + 1), a.substr(eq + 1));
  }
  return line;
}

void ImportDL(ServiceMain& w, shell::Shell& shell, const std::filesystem::path& programFolder) {
  // 1-2
  w.lblstatus = "ImportDL Running";
  std::string file = w.GetSetting("DistListFile", "");
  std::string name = w.GetSetting("DistListName", "");
  std::string server = w.GetSetting("DistListServer", "");
  std::string org = w.GetSetting("DistListOrg", "");
  std::string container = w.GetSetting("DistListCon", "");

  // 3
  if (file.empty()) {
    w.LogEvent(ntservice::EVENTLOG_INFORMATION_TYPE, kEventInfo,
               "No Distribution list created since temporary filename was invalid.\r\n");
    w.DistList = false;
    return;
  }

  // 4: the file is replaced; what was written stays when a later step fails.
  files::EnsureFileMode(file, 0600);  // every member's addresses: the service's user's only
  std::ofstream csv(file, std::ios::binary | std::ios::trunc);
  if (!csv) throw std::runtime_error("cannot create the distribution list file " + file);
  csv << "Obj-Class, Directory Name, members\r\n";

  // 5-7
  ConnectionRelease release(w);
  w.WriteLog("importdl About to open ADO Objects");
  w.ServiceConnection = w.NewConnection();
  std::unique_ptr<ado::Recordset> rs = w.ServiceConnection->CreateRecordset();
  w.WriteLog("importdl Opened ADO Objects");
  std::string cs = w.GetSetting("connectionstring", "");
  if (cs.empty()) cs = "Need Connection String";
  w.connectionstring = cs;
  w.ServiceConnection->Open(cs, "", "");
  rs->Open("Select EMS_AB_PROXY_ADDRESSES from " + w.TableName, *w.ServiceConnection);

  // 8: one member line per row with proxy addresses, values as they are.
  long members = 0;
  while (!rs->IsEOF()) {
    ado::FieldValue proxies = rs->GetValue(0);
    if (proxies && !proxies->empty()) {
      csv << "DL," << name << "," << *proxies << "\r\n";
      ++members;
    }
    rs->MoveNext();
  }

  // 9
  csv.close();
  if (!csv) throw std::runtime_error("cannot write the distribution list file " + file);
  rs->Close();
  w.ServiceConnection->Close();
  rs.reset();
  w.ServiceConnection.reset();

  // 10: no shell reads the values, so none of their characters can break
  // the command or run anything.
  std::filesystem::path tool = programFolder / kToolName;
  std::vector<std::string> arguments = DistListToolArguments(file, server, org, container);
  w.WriteLog(DistListCommandLine(tool, arguments));
  if (!shell.StartProgram(tool.string(), arguments))
    throw std::runtime_error("cannot start " + tool.string());

  // 11-12
  if (w.NoExtraEvents != 1)
    w.LogEvent(ntservice::EVENTLOG_INFORMATION_TYPE, kEventInfo,
               fmt::format("Distribution list creation started with {} entries.\r\n", members));
  w.lblstatus = "Not Running";
}

void ImportDL(ServiceMain& w) {
  static std::unique_ptr<shell::Shell> desktop = shell::CreateShell();
  ImportDL(w, *desktop, ProgramFolder());
}

}  // namespace corvane::service
