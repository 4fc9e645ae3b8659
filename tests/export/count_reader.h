// A reader of the final table, as the programs that use it read it: on a
// connection of its own, it counts the table's rows in a loop while a run
// publishes it, and keeps what it saw.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/ado/ado.h"

namespace corvane::testing {

class CountReader {
 public:
  using Clock = std::chrono::steady_clock;
  struct Sight {
    Clock::time_point at;
    long rows = -1;     // -1: the count failed
    std::string error;  // the failure, when it failed
  };

  CountReader(std::string connectionString, std::string table)
      : connectionString_(std::move(connectionString)), table_(std::move(table)), thread_([this] { Loop(); }) {}
  ~CountReader() { Stop(); }
  CountReader(const CountReader&) = delete;
  CountReader& operator=(const CountReader&) = delete;

  // Ends the loop after one more count begun now; what it saw, in order.
  const std::vector<Sight>& Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return seen_;
  }

  // How long the reader saw neither a table of `before` rows nor one of
  // `after` rows (an error, or a count in between): from the last whole
  // table before the first such sight to the first whole table after the
  // last one, in seconds; 0 when every sight was a whole table.
  static double Gap(const std::vector<Sight>& seen, long before, long after) {
    auto partial = [&](const Sight& s) { return s.rows != before && s.rows != after; };
    const auto first = std::find_if(seen.begin(), seen.end(), partial);
    if (first == seen.end()) return 0.0;
    const auto last = std::find_if(seen.rbegin(), seen.rend(), partial).base() - 1;
    const auto from = first == seen.begin() ? first : first - 1;
    const auto to = last + 1 == seen.end() ? last : last + 1;
    return std::chrono::duration<double>(to->at - from->at).count();
  }

 private:
  void Loop() {
    std::unique_ptr<ado::Connection> connection;
    for (bool last = false; !last;) {
      last = stop_;
      Sight sight{Clock::now(), -1, {}};
      try {
        if (!connection) {
          connection = ado::CreateConnection();
          connection->Open(connectionString_);
        }
        sight.rows = std::stol(connection->Execute("select count(*) from " + table_)->GetValue(0).value_or("-1"));
      } catch (const std::exception& e) {
        sight.error = e.what();
        if (connection && connection->State() != ado::adStateOpen) connection.reset();
      }
      seen_.push_back(std::move(sight));
    }
  }

  std::string connectionString_;
  std::string table_;
  std::atomic<bool> stop_{false};
  std::vector<Sight> seen_;
  std::thread thread_;
};

}  // namespace corvane::testing
