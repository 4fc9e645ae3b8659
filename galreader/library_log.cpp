#include "galreader/library_log.h"

#include <fmt/format.h>

#include <cstdio>
#include <cstring>

#include "platform/logfile/log_file.h"

namespace corvane::galreader {

bool IsQuiet(const char* quiet) { return quiet != nullptr && std::strcmp(quiet, "TRUE") == 0; }

void WriteLibraryLog(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  // A file that cannot be opened is skipped; the text reached standard output.
  logfile::AppendToLog(kLibraryLogName, text, 0600);
}

std::string SystemMessageText(uint32_t hr) {
  // The HRESULTs the database and directory layers raise, with the texts the
  // system gives them. Interface-specific codes (such as 0x80040E14, a
  // refused statement) have no system text and are numbered instead.
  switch (hr) {
    case 0x80004001: return "Not implemented";
    case 0x80004002: return "No such interface supported";
    case 0x80004003: return "Invalid pointer";
    case 0x80004004: return "Operation aborted";
    case 0x80004005: return "Unspecified error";
    case 0x8000FFFF: return "Catastrophic failure";
    case 0x80070005: return "Access is denied.";
    case 0x80070006: return "The handle is invalid.";
    case 0x8007000E: return "Not enough storage is available to complete this operation.";
    case 0x80070057: return "The parameter is incorrect.";
    case 0x800401F0: return "CoInitialize has not been called.";
    default: return "";
  }
}

std::string ComErrorMessage(uint32_t hr) {
  std::string text = SystemMessageText(hr);
  if (!text.empty()) return text;
  if (hr >= 0x80040201u && hr <= 0x8004FFFFu) return fmt::format("IDispatch error #{}", hr - 0x80040200u);
  return fmt::format("Unknown error 0x{:X}", hr);
}

void DumpComError(const ado::AdoError& e) {
  const auto hr = static_cast<uint32_t>(e.Number);
  WriteLibraryLog("Error! Description follows: \n");
  WriteLibraryLog(fmt::format("\tCode = {:08x}\n", hr));
  WriteLibraryLog(fmt::format("\tCode meaning = {}\n", ComErrorMessage(hr)));
  WriteLibraryLog(fmt::format("\tSource = {}\n", e.Source));
  WriteLibraryLog(fmt::format("\tDescription = {}\n", e.Description));
}

}  // namespace corvane::galreader
