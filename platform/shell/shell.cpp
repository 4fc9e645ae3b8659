#include "platform/shell/shell.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace corvane::shell {
namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Starts argv detached: the intermediate child forks the program and exits
// at once, so the program is re-parented to init and never becomes a zombie
// of ours. Only the intermediate child is waited for, which takes no time.
bool SpawnDetached(const char* file, char* const argv[], bool searchPath) {
  int pipefd[2];
  if (pipe2(pipefd, O_CLOEXEC) != 0) return false;
  pid_t child = fork();
  if (child < 0) {
    close(pipefd[0]);
    close(pipefd[1]);
    return false;
  }
  if (child == 0) {
    // Only async-signal-safe calls from here on.
    close(pipefd[0]);
    setsid();
    pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      dup2(devnull, STDIN_FILENO);
      dup2(devnull, STDOUT_FILENO);
      dup2(devnull, STDERR_FILENO);
      if (devnull > STDERR_FILENO) close(devnull);
    }
    if (searchPath) execvp(file, argv);
    else execv(file, argv);
    int err = errno;
    (void)!write(pipefd[1], &err, sizeof err);  // tells the caller exec failed
    _exit(127);
  }
  close(pipefd[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // The exec error, if any, arrives before the grandchild's end closes the pipe.
  int err = 0;
  ssize_t n;
  while ((n = read(pipefd[0], &err, sizeof err)) < 0 && errno == EINTR) {
  }
  close(pipefd[0]);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 && n == 0;
}

class DesktopShell : public Shell {
 public:
  bool ShellOpen(const std::string& target) override {
    if (target.empty()) return false;
    std::string file = target;
    if (IsExecutableFile(file)) {
      char* argv[] = {file.data(), nullptr};
      return SpawnDetached(file.c_str(), argv, false);
    }
    std::string opener = "xdg-open";
    char* argv[] = {opener.data(), file.data(), nullptr};
    return SpawnDetached(opener.c_str(), argv, true);
  }

  bool StartProgram(const std::string& program, const std::vector<std::string>& arguments) override {
    if (!IsExecutableFile(program)) return false;
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    return SpawnDetached(program.c_str(), argv.data(), false);
  }
};

}  // namespace

std::unique_ptr<Shell> CreateShell() { return std::make_unique<DesktopShell>(); }

}  // namespace corvane::shell
