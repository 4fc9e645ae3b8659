#include "platform/atomicfile/dead_leftovers.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>

namespace corvane::files {

std::filesystem::path OwnTemporaryName(const std::filesystem::path& file, std::string_view tag) {
  std::filesystem::path temp = file;
  temp += std::string(tag) + std::to_string(::getpid());
  return temp;
}

size_t RemoveDeadLeftovers(const std::filesystem::path& file, std::string_view tag) {
  namespace fs = std::filesystem;
  const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
  const std::string prefix = file.filename().string() + std::string(tag);
  size_t removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    long pid = 0;
    const char* digits = name.data() + prefix.size();
    auto [stop, parsed] = std::from_chars(digits, name.data() + name.size(), pid);
    if (parsed != std::errc() || stop != name.data() + name.size() || pid <= 0) continue;
    // kill(pid, 0) fails with ESRCH only when no such process exists.
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    std::error_code gone;
    if (fs::remove(it->path(), gone)) ++removed;
  }
  return removed;
}

}  // namespace corvane::files
