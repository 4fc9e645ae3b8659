// The distribution-list import (ImportDL): lists every proxy address list
// of the final table as a member of one named list in a CSV import file,
// then starts the directory import tool, dsimport in the program's folder,
// on that file without waiting for it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "service/export/export_context.h"

namespace corvane::shell {
class Shell;
}

namespace corvane::service {

// The import tool's arguments for the four values "DistListFile",
// "DistListServer", "DistListOrg" and "DistListCon", each one word.
std::vector<std::string> DistListToolArguments(const std::string& file, const std::string& server,
                                               const std::string& org, const std::string& container);

// The tool's command line as the run log shows it: the tool's path, then
// each option with its value in double quotes.
std::string DistListCommandLine(const std::filesystem::path& tool, const std::vector<std::string>& arguments);

// Runs the import on w with the parameters read afresh. A missing file
// name writes an event and switches w.DistList off. The list file is
// written under "<file>.importdl.<pid>" and renamed over the file when
// complete (mode 0600), so the tool never reads half a list; after a
// failure it is the header alone. What a killed run left is removed. Any other failure
// (file, database, a final table without EMS_AB_PROXY_ADDRESSES, a tool
// that cannot be started) throws and ends the import at that step; the
// service connection is released either way.
void ImportDL(ExportContext& w, shell::Shell& shell, const std::filesystem::path& programFolder);

// The same with the desktop shell and the running program's folder.
void ImportDL(ExportContext& w);

}  // namespace corvane::service
