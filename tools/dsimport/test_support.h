// What the dsimport tests share: one import run in the test's process,
// with its report (and dry-run LDIF) or its failure as text.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/dsimport/dsimport.h"

namespace corvane::dsimport::testing {

// The report lines and LDIF, or "error: <message>".
inline std::string ImportReport(const ImportOptions& options) {
  std::string report;
  try {
    RunImport(options, {[&](const std::string& line) { report += line + "\n"; },
                        [&](const std::string& ldif) { report += ldif; }});
  } catch (const ImportFailure& e) {
    return std::string("error: ") + e.what();
  }
  return report;
}

inline std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace corvane::dsimport::testing
