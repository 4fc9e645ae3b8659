// Messages on standard error at a syslog priority. Under systemd the
// journal reads standard error; it files a line that starts with "<N>" at
// priority N, so there an error shows as an error in `journalctl -u` and
// `journalctl -p err`. Elsewhere (a terminal, a file) the text goes as it is.
#pragma once

#include <string>
#include <string_view>

namespace corvane::ntservice {

// Whether `fd` is the journal's stream: $JOURNAL_STREAM ("device:inode",
// set by systemd for the service's standard output and error) names it.
bool IsJournalStream(int fd);

// `text` as lines for standard error: CR and LF end lines; each line gets
// the "<priority>" prefix when `journal`; the result ends in LF.
std::string PrioritizedLines(int priority, std::string_view text, bool journal);

// Writes `text` to standard error at `priority` (3 error, 4 warning, 6
// information), with the prefixes only where standard error is the journal.
void WriteStandardError(int priority, std::string_view text);

}  // namespace corvane::ntservice
