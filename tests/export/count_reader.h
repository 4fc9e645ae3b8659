// A reader of the final table, as the programs that use it read it: on a
// connection of its own, it counts the table's rows in a loop while a run
// publishes it, and keeps what it saw.
#pragma once

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

  // Ends the loop; what it saw, in order.
  const std::vector<Sight>& Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return seen_;
  }

  // How long the reader saw neither `before` nor `after` rows: from the
  // last sight of the old table to the first of the new one, in seconds; 0
  // when every sight was one or the other.
  static double Gap(const std::vector<Sight>& seen, long before, long after) {
    Clock::time_point lastBefore{}, firstOther{};
    bool other = false;
    for (const Sight& s : seen) {
      if (s.rows == after) return other ? std::chrono::duration<double>(s.at - lastBefore).count() : 0.0;
      if (s.rows == before) {
        lastBefore = s.at;
      } else if (!other) {
        other = true;
        firstOther = s.at;
      }
    }
    return other && !seen.empty() ? std::chrono::duration<double>(seen.back().at - firstOther).count() : 0.0;
  }

 private:
  void Loop() {
    std::unique_ptr<ado::Connection> connection;
    while (!stop_) {
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
