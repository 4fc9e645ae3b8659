#include "service/export/import_dl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "platform/atomicfile/dead_leftovers.h"
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
  explicit ConnectionRelease(ExportContext& w) : w_(w) {}
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
  ExportContext& w_;
};

// The list file, written under "<file>.importdl.<pid>" and renamed over
// the file only when complete, so that dsimport (which may be reading the
// list of an earlier run) never reads half a list. Unless published, the
// temporary file is removed when the writer goes; what a killed run left
// is removed before a new one is written.
class ListFileWriter {
 public:
  explicit ListFileWriter(const std::string& file) {
    // A list file that is a symbolic link is replaced where it points.
    std::error_code ec;
    file_ = std::filesystem::is_symlink(file, ec) ? std::filesystem::weakly_canonical(file, ec).string() : file;
    if (ec) file_ = file;
    files::RemoveDeadLeftovers(file_, kTemporaryTag);
    temp_ = files::OwnTemporaryName(file_, kTemporaryTag).string();
    // Personal data: readable by the service's user alone, whatever the umask.
    int fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0 && ::fchmod(fd, 0600) == 0) out_ = ::fdopen(fd, "wb");
    if (!out_) {
      const std::string error = std::strerror(errno);
      if (fd >= 0) ::close(fd);
      ::unlink(temp_.c_str());
      throw std::runtime_error(fmt::format("cannot create the distribution list file {}: {}", temp_, error));
    }
  }
  ~ListFileWriter() {
    if (out_) std::fclose(out_);
    if (!published_) ::unlink(temp_.c_str());
  }
  ListFileWriter(const ListFileWriter&) = delete;
  ListFileWriter& operator=(const ListFileWriter&) = delete;

  void Write(const std::string& text) { ok_ = ok_ && std::fwrite(text.data(), 1, text.size(), out_) == text.size(); }

  // Writes the file to disk and puts it in the place of the list file.
  void Publish() {
    ok_ = ok_ && std::fflush(out_) == 0 && ::fsync(fileno(out_)) == 0;
    ok_ = std::fclose(out_) == 0 && ok_;
    out_ = nullptr;
    if (!ok_ || ::rename(temp_.c_str(), file_.c_str()) != 0)
      throw std::runtime_error(
          fmt::format("cannot write the distribution list file {}: {}", file_, std::strerror(errno)));
    published_ = true;
  }

  // After a failure: the list file becomes the header alone, a list that
  // names no list and that dsimport leaves alone.
  void PublishHeaderOnly(const std::string& header) {
    ok_ = std::fflush(out_) == 0 && ::ftruncate(fileno(out_), 0) == 0 && std::fseek(out_, 0, SEEK_SET) == 0;
    Write(header);
    Publish();
  }

 private:
  static constexpr const char* kTemporaryTag = ".importdl.";
  std::string file_, temp_;
  std::FILE* out_ = nullptr;
  bool ok_ = true;
  bool published_ = false;
};

constexpr const char* kHeader = "Obj-Class, Directory Name, members\r\n";

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

void ImportDL(ExportContext& w, shell::Shell& shell, const std::filesystem::path& programFolder) {
  // The list's settings.
  std::string file = w.GetSetting("DistListFile", "");
  std::string name = w.GetSetting("DistListName", "");
  std::string server = w.GetSetting("DistListServer", "");
  std::string org = w.GetSetting("DistListOrg", "");
  std::string container = w.GetSetting("DistListCon", "");

  // Without a file name there is no list.
  if (file.empty()) {
    w.LogEvent(ntservice::EVENTLOG_INFORMATION_TYPE, kEventInfo,
               "No Distribution list created since temporary filename was invalid.\r\n");
    w.DistList = false;
    return;
  }

  // The list file is replaced whole, once it is complete. When a later step
  // fails, it becomes the header alone: never a part of the list.
  ListFileWriter csv(file);
  csv.Write(kHeader);

  // The final table's proxy addresses.
  ConnectionRelease release(w);
  std::unique_ptr<ado::Recordset> rs;
  long members = 0;
  try {
    w.WriteLog("importdl About to open ADO Objects");
    w.ServiceConnection = w.NewConnection();
    rs = w.ServiceConnection->CreateRecordset();
    w.WriteLog("importdl Opened ADO Objects");
    std::string cs = w.GetSetting("connectionstring", "");
    if (cs.empty()) cs = "Need Connection String";
    w.connectionstring = cs;
    w.ServiceConnection->Open(cs, "", "");
    rs->Open("Select EMS_AB_PROXY_ADDRESSES from " + w.TableName, *w.ServiceConnection);

    // One member line per row with proxy addresses, values as they are.
    while (!rs->IsEOF()) {
      ado::FieldValue proxies = rs->GetValue(0);
      if (proxies && !proxies->empty()) {
        csv.Write("DL," + name + "," + *proxies + "\r\n");
        ++members;
      }
      rs->MoveNext();
    }
  } catch (const std::exception&) {
    try {
      csv.PublishHeaderOnly(kHeader);
    } catch (const std::exception&) {
      // The failure that ends the import is the one before.
    }
    throw;
  }

  // The complete list replaces the file.
  csv.Publish();
  rs->Close();
  w.ServiceConnection->Close();
  rs.reset();
  w.ServiceConnection.reset();

  // The directory tool gets the list; no shell reads the values, so none of their characters can break
  // the command or run anything.
  std::filesystem::path tool = programFolder / kToolName;
  std::vector<std::string> arguments = DistListToolArguments(file, server, org, container);
  w.WriteLog(DistListCommandLine(tool, arguments));
  if (!shell.StartProgram(tool.string(), arguments))
    throw std::runtime_error("cannot start " + tool.string());

  // The event that says how many entries the list has.
  if (w.NoExtraEvents != 1)
    w.LogEvent(ntservice::EVENTLOG_INFORMATION_TYPE, kEventInfo,
               fmt::format("Distribution list creation started with {} entries.\r\n", members));
}

void ImportDL(ExportContext& w) {
  static std::unique_ptr<shell::Shell> desktop = shell::CreateShell();
  ImportDL(w, *desktop, ProgramFolder());
}

}  // namespace corvane::service
