// The events file: every application event as one line of
// "<local time>\t<type>\t<identifier>\t<text>", appended to
// <Corvane home>/events.log. Backslash, CR and LF in the text are written
// as \\, \r and \n so an event is always exactly one line.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

namespace corvane::ntservice {

std::string EventLine(std::time_t when, int16_t type, int32_t id, const std::string& text);

// Appends one line with a single write, so lines of concurrent writers do
// not mix; the file is rotated at logfile::kLogRotateBytes, keeping one
// previous file. False when the file cannot be written.
bool AppendLine(const std::filesystem::path& file, const std::string& line);

}  // namespace corvane::ntservice
