#include "platform/ntservice/stop_relay.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace corvane::ntservice {
namespace {

namespace fs = std::filesystem;

extern "C" void OnStop(int) { RecordStopSignal(); }

std::string Read(const fs::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The process's stop is recorded once and for good, so the cases run in
// order: before the stop, while a relay waits, after it.
TEST(StopRelay, WritesTheNoteOnlyWhileItLivesAndNeverOverAFileThatExists) {
  char folder[] = "/tmp/corvane-stop-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const fs::path dir = folder;
  struct sigaction action = {};
  action.sa_handler = OnStop;
  ASSERT_EQ(::sigaction(SIGTERM, &action, nullptr), 0);

  { StopRelay idle(dir / "idle", "stop\n"); }
  EXPECT_FALSE(fs::exists(dir / "idle"));  // no stop, no note

  {
    StopRelay waiting(dir / "waiting", "stop\n");
    ASSERT_EQ(::raise(SIGTERM), 0);
  }
  EXPECT_TRUE(StopSignalled());
  EXPECT_EQ(Read(dir / "waiting"), "stop\n");

  std::ofstream(dir / "report") << "complete count=1 read=1 written=1 left-out=0\n";
  { StopRelay late(dir / "report", "stop\n"); }
  EXPECT_EQ(Read(dir / "report"), "complete count=1 read=1 written=1 left-out=0\n");

  { StopRelay after(dir / "after", "stop\n"); }  // the stop came before the relay
  EXPECT_EQ(Read(dir / "after"), "stop\n");
  EXPECT_EQ(fs::status(dir / "after").permissions(), fs::perms::owner_read | fs::perms::owner_write);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace corvane::ntservice
