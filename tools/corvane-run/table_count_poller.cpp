#include "tools/corvane-run/table_count_poller.h"

#include "platform/ado/ado.h"

namespace corvane::runtool {

void TableCountPoller::Start(const std::string& connectionString, const std::string& table, Report report,
                             std::chrono::milliseconds every) {
  Stop();
  stop_ = false;
  thread_ = std::thread([this, connectionString, table, report, every] {
    std::unique_ptr<ado::Connection> connection;
    long last = -1;
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, every, [this] { return stop_; })) {
      lock.unlock();
      try {
        if (!connection) {
          connection = ado::CreateConnection();
          connection->Open(connectionString);
        }
        auto rs = connection->Execute("select count(*) from " + table);
        if (rs->State() == ado::adStateOpen && !rs->IsEOF()) {
          long rows = std::stol(rs->GetValue(0).value_or("0"));
          if (rows != last) report(rows);
          last = rows;
        }
      } catch (const std::exception&) {
        connection.reset();  // try afresh next time
      }
      lock.lock();
    }
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
