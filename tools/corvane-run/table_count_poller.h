// Counts the rows of a table every few seconds on a connection of its own,
// while another component fills it (the GAL reader library during its
// call), so a person can see the GAL read advance.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace corvane::ado {
class Connection;
}

namespace corvane::runtool {

// The rows of `table` on `connection`; nullopt when the count fails (the
// table is missing, the database busy).
std::optional<long> CountRows(ado::Connection& connection, const std::string& table);

class TableCountPoller {
 public:
  using Report = std::function<void(long rows)>;
  TableCountPoller() = default;
  ~TableCountPoller() { Stop(); }
  TableCountPoller(const TableCountPoller&) = delete;
  TableCountPoller& operator=(const TableCountPoller&) = delete;

  // Starts counting `table` through `connectionString`; a count that fails
  // (table not there yet, database busy) is skipped silently. Stop counts
  // once more, so the last count reported is the table's final one.
  void Start(const std::string& connectionString, const std::string& table, Report report,
             std::chrono::milliseconds every = std::chrono::seconds(2));
  void Stop();

 private:
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
};

}  // namespace corvane::runtool
