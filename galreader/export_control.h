// The export's control file, $CORVANE_HOME/CorvaneDLL.ctl: the one channel
// between the service and the library's ModifyStruct besides the call
// itself, used in both directions. The service asks a running export to
// stop through it, and the library leaves its report of the export in it.
//
// Why a file: the library keeps exactly its three exports and nothing
// between calls, and it runs on the service's only thread, so while it
// works the service's event loop is not there to hear a stop request, and
// afterwards nothing but the table and the log remain. The table alone
// cannot tell a directory that shrank while it was read from a read that
// broke off, and the log is text for people. A one-line file in the home
// answers both: the library reads it between batches (one small read per
// 50 entries), a signal handler can write it at any moment, and an
// administrator can read it.
//
// The protocol, one export at a time per home (the run lock sees to that):
//  1. The service removes the file just before it calls ModifyStruct.
//  2. A stop request (SIGTERM, SIGINT) that the exporting process receives
//     while ModifyStruct runs writes "stop" into it (ntservice::StopRelay);
//     a stop that came earlier in the run, at the call's start. A stop
//     that another process on the same home receives never touches it.
//  3. The library looks at the file before its first batch and between
//     batches; on "stop" it ends the export there, with a log line.
//  4. At its end the library replaces the file with its report: one line
//     with the state (complete, cut-short, stopped), the directory's count,
//     the entries read, the rows written, the entries the row rules left
//     out, and for a cut-short export its cause.
//  5. The service reads the report after ModifyStruct returns and checks it
//     against the temporary table's row count. A missing report, or one the
//     table does not match, fails the run as a cut-short export does.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::galreader {

inline constexpr const char* kExportControlName = "CorvaneDLL.ctl";
// Bound of an entry's joined proxy-address text, in characters: addresses
// past it are left out of EMS_AB_PROXY_ADDRESSES (and so of the list).
inline constexpr size_t kProxyAddressListLimit = 1023;
// What a stop request writes into the file.
inline constexpr std::string_view kExportStopRequest = "stop\n";

// CorvaneHome()/CorvaneDLL.ctl.
std::filesystem::path ExportControlFile();

// How one export ended.
struct ExportReport {
  enum class State { Complete, CutShort, Stopped };
  State state = State::Complete;
  long count = 0;     // entries the directory reported when the export began
  long read = 0;      // entries read and handed to the row writer
  long written = 0;   // rows added to the table
  long leftOut = 0;   // entries the row rules left out (read = written + leftOut)
  std::string cause;  // why a cut-short export ended
  long shortened = 0;  // rows whose proxy-address list lost addresses to kProxyAddressListLimit
  bool operator==(const ExportReport&) const = default;
};

// The report's line, e.g. "complete count=3 read=3 written=2 left-out=1\n",
// with " shortened=<n>" after left-out when rows were shortened (a report
// without it reads as none); a cut-short one ends with " cause=" and the
// cause on the same line.
std::string FormatExportReport(const ExportReport& report);
// nullopt when `text` is not a report (empty, a stop request, damaged).
std::optional<ExportReport> ParseExportReport(std::string_view text);

// Removes the file before an export.
void ClearExportControl(const std::filesystem::path& file);
// True when the file holds a stop request.
bool ExportStopRequested(const std::filesystem::path& file);
// Replaces the file by the report (written beside it, then renamed over it;
// mode 0600). False when it cannot be written.
bool WriteExportReport(const std::filesystem::path& file, const ExportReport& report);
// The report in the file; nullopt when there is none.
std::optional<ExportReport> ReadExportReport(const std::filesystem::path& file);

}  // namespace corvane::galreader
