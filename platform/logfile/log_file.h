// Log files that only grow by appended texts: the library's CorvaneDLL.log
// and the events file. Each append is one open, one write and one close, so
// a file is complete up to its last text even when the process dies, and
// texts of concurrent writers never mix. A file that has reached
// kLogRotateBytes is first renamed to "<file>.1" (replacing an older one),
// so a log never takes more than about twice that size on disk.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace corvane::logfile {

inline constexpr std::uintmax_t kLogRotateBytes = 10 * 1024 * 1024;  // 10 MiB

// "<file>.1": where the previous part of `file` is kept.
std::filesystem::path PreviousLogFile(const std::filesystem::path& file);

// Appends `text` to `file` (created with `mode`, less the umask), rotating
// it first when it has reached kLogRotateBytes. False when the file cannot
// be opened or written.
bool AppendToLog(const std::filesystem::path& file, std::string_view text, mode_t mode = 0644);

}  // namespace corvane::logfile
