#include "tests/support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

namespace tavrolin::test {
namespace {

pid_t Spawn(const std::vector<std::string>& argv, const std::string& dir,
            const std::string& log_file, int stdin_fd) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = fork();
  if (pid != 0) return pid;
  // Child: only async-signal-safe calls from here on.
  if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
  int log = open(log_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (log >= 0) {
    dup2(log, 1);
    dup2(log, 2);
  }
  int in = stdin_fd >= 0 ? stdin_fd : open("/dev/null", O_RDONLY);
  if (in >= 0) dup2(in, 0);
  execv(args[0], args.data());
  _exit(127);
}

}  // namespace

std::string FindProgram(const std::string& name) {
  const char* path = getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  dirs += ":/usr/sbin:/sbin:/usr/local/bin";
  std::size_t pos = 0;
  while (pos <= dirs.size()) {
    std::size_t end = dirs.find(':', pos);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(pos, end - pos) + "/" + name;
    if (end > pos && access(candidate.c_str(), X_OK) == 0) return candidate;
    pos = end + 1;
  }
  return {};
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& dir,
                           const std::string& log_file, const std::string* stdin_bytes) {
  int fds[2] = {-1, -1};
  if (stdin_bytes != nullptr && pipe2(fds, O_CLOEXEC) != 0) return;
  if (stdin_bytes != nullptr) {
    // The child's end loses O_CLOEXEC through dup2.
    pid_ = Spawn(argv, dir, log_file, fds[0]);
    close(fds[0]);
    stdin_fd_ = fds[1];
    [[maybe_unused]] ssize_t n = write(stdin_fd_, stdin_bytes->data(), stdin_bytes->size());
  } else {
    pid_ = Spawn(argv, dir, log_file, -1);
  }
}

ChildProcess::~ChildProcess() {
  if (stdin_fd_ >= 0) close(stdin_fd_);
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

bool RunCommand(const std::vector<std::string>& argv, const std::string& log_file) {
  pid_t pid = Spawn(argv, "", log_file, -1);
  if (pid < 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TempDir::TempDir() {
  char pattern[] = "/tmp/tavrolin-test-XXXXXX";
  if (mkdtemp(pattern) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

}  // namespace tavrolin::test
