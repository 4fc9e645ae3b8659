// Temporary files a killed process left beside the file it was replacing.
// Such a file is named "<file><tag><process id>"; it is left over once no
// process of that id runs any more.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace corvane::files {

// "<file><tag><this process's id>", the name this process writes under.
std::filesystem::path OwnTemporaryName(const std::filesystem::path& file, std::string_view tag);

// Removes the files "<file><tag><pid>" beside `file` whose process has
// ended (a live process, whatever it is now, keeps its file). Returns the
// number removed; a file that cannot be removed is left, silently.
size_t RemoveDeadLeftovers(const std::filesystem::path& file, std::string_view tag);

}  // namespace corvane::files
