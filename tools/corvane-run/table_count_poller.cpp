#include "tools/corvane-run/table_count_poller.h"

#include "platform/ado/ado.h"

namespace corvane::runtool {

std::optional<long> CountRows(ado::Connection& connection, const std::string& table) {
  try {
    auto rs = connection.Execute("select count(*) from " + table);
    if (rs->State() != ado::adStateOpen || rs->IsEOF()) return std::nullopt;
    return std::stol(rs->GetValue(0).value_or("0"));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

void TableCountPoller::Start(const std::string& connectionString, const std::string& table, Report report,
                             std::chrono::milliseconds every) {
  Stop();
  stop_ = false;
  thread_ = std::thread([this, connectionString, table, report, every] {
    std::unique_ptr<ado::Connection> connection;
    long last = -1;
    auto count = [&] {
      try {
        if (!connection) {
          connection = ado::CreateConnection();
          connection->Open(connectionString);
        }
      } catch (const std::exception&) {
        connection.reset();  // try afresh next time
        return;
      }
      const auto rows = CountRows(*connection, table);
      if (!rows) {
        connection.reset();
        return;
      }
      if (*rows != last) report(*rows);
      last = *rows;
    };
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, every, [this] { return stop_; })) {
      lock.unlock();
      count();
      lock.lock();
    }
    lock.unlock();
    count();  // the final count, once the filling is over
  });
}

void TableCountPoller::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

}  // namespace corvane::runtool
