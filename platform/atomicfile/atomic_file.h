// Whole files written so that a reader (or a crash) never meets half of one.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace corvane::files {

// Writes `text` to `file` through a temporary file in the same folder,
// flushed to disk before it replaces the file, so the file is either the
// old one or the complete new one. The new file has `mode`. Throws
// std::system_error naming the file when it cannot be written (the
// temporary file is removed).
void WriteFileAtomically(const std::filesystem::path& file, const std::string& text, mode_t mode = 0644);

}  // namespace corvane::files
