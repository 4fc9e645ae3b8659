// Ranged `member` values as Windows Active Directory hands them out (1500
// at a time), from a small server of the test's own: Samba and slapd
// always return every value at once.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/dirgroup/group_directory.h"

namespace corvane {
namespace {

TEST(RangedMember, EveryRangeOfALargeGroupIsRead) {
  const std::string group = "CN=All Staff,OU=Lists,DC=example,DC=org";
  const int count = 3121;  // 1500 + 1500 + 121
  const std::string script = std::string(std::getenv("CORVANE_SOURCE_DIR")) + "/tests/ad/ranged_member_server.py";
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::vector<std::string> args = {"python3", script, group, std::to_string(count)};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawnp(&pid, "python3", &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  char port[16] = {};
  FILE* in = fdopen(out[0], "r");
  ASSERT_NE(std::fgets(port, sizeof port, in), nullptr);
  std::fclose(in);

  std::vector<std::string> members;
  std::string error;
  try {
    auto dir = dirgroup::GroupDirectory::Open("ldap://127.0.0.1:" + std::string(port, std::strlen(port) - 1) +
                                              "/DC=example,DC=org");
    members = dir->ReadGroup(group).members;
  } catch (const dirgroup::DirectoryError& e) {
    error = e.what();
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  ASSERT_EQ(error, "");
  ASSERT_EQ(members.size(), static_cast<size_t>(count));
  char expected[64];
  for (int i : {0, 1499, 1500, 2999, 3000, 3120}) {
    std::snprintf(expected, sizeof expected, "CN=Member %04d,OU=Staff,DC=example,DC=org", i);
    EXPECT_EQ(members[i], expected) << i;
  }
}

}  // namespace
}  // namespace corvane
