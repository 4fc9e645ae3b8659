#include "platform/shell/shell.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using corvane::shell::CreateShell;

namespace {

fs::path TempDir() {
  fs::path dir = fs::temp_directory_path() / ("shell_test_" + std::to_string(getpid()));
  fs::create_directories(dir);
  return dir;
}

std::string WaitForFile(const fs::path& file) {
  for (int i = 0; i < 500; ++i) {
    std::ifstream in(file);
    std::string text;
    if (in && std::getline(in, text) && !text.empty()) return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return {};
}

}  // namespace

TEST(ShellOpen, StartsAnExecutableAndDoesNotWaitForIt) {
  fs::path dir = TempDir();
  fs::path script = dir / "before.sh";
  fs::path pidFile = dir / "pid";
  {
    std::ofstream out(script);
    out << "#!/bin/sh\necho $$ > '" << pidFile.string() << "'\nexec sleep 30\n";
  }
  fs::permissions(script, fs::perms::owner_all);
  ASSERT_TRUE(CreateShell()->ShellOpen(script.string()));
  std::string pid = WaitForFile(pidFile);
  ASSERT_FALSE(pid.empty());
  // Still running after ShellOpen returned: it was not waited for.
  EXPECT_EQ(kill(std::stoi(pid), 0), 0);
  kill(std::stoi(pid), SIGKILL);
  fs::remove_all(dir);
}

TEST(ShellOpen, CommandWithArgumentsIsOneFileNameAndNotRunAsACommand) {
  fs::path dir = TempDir();
  fs::path marker = dir / "ran";
  // A shell would run "touch"; the layer looks for a file of that whole name.
  CreateShell()->ShellOpen("/usr/bin/touch " + marker.string());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(marker));
  fs::remove_all(dir);
}

TEST(ShellOpen, EmptyTargetFails) { EXPECT_FALSE(CreateShell()->ShellOpen("")); }

TEST(RecordingShell, RemembersTargets) {
  corvane::shell::RecordingShell shell;
  shell.ShellOpen("/opt/a.sh");
  shell.ShellOpen("report.pdf");
  EXPECT_EQ(shell.opened, (std::vector<std::string>{"/opt/a.sh", "report.pdf"}));
}

TEST(StartProgram, ArgumentsArriveAsGivenAndNoChildIsLeftBehind) {
  fs::path dir = TempDir();
  fs::path script = dir / "tool";
  {
    // Writes its arguments one a line to "<script>.<first argument>".
    std::ofstream out(script);
    out << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.tmp.$$\"\nmv \"$0.tmp.$$\" \"$0.$1\"\n";
  }
  fs::permissions(script, fs::perms::owner_all);
  const std::vector<std::string> hostile = {"/FILE=/tmp/a b.csv", "/DSA=\"x\"; touch " + (dir / "ran").string(),
                                            "/BASEPOINT=$(id)", "/CONTAINER=`id` & | > < '"};
  auto shell = CreateShell();
  for (std::string run : {"0", "1", "2"}) {
    std::vector<std::string> args{run};
    args.insert(args.end(), hostile.begin(), hostile.end());
    ASSERT_TRUE(shell->StartProgram(script.string(), args));
  }
  // Every start is over at once for this process: nothing to reap, no zombie.
  int status = 0;
  EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  for (std::string run : {"0", "1", "2"}) {
    ASSERT_FALSE(WaitForFile(script.string() + "." + run).empty());
    std::ifstream in(script.string() + "." + run);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::vector<std::string> expected{run};
    expected.insert(expected.end(), hostile.begin(), hostile.end());
    EXPECT_EQ(lines, expected);
  }
  EXPECT_FALSE(fs::exists(dir / "ran"));
  EXPECT_FALSE(shell->StartProgram((dir / "missing").string(), {}));
  fs::remove_all(dir);
}
