#include "tests/support/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tavrolin::test {
namespace {

// A pipe whose ends close with it.
struct Pipe {
  int fd[2] = {-1, -1};
  Pipe() {
    if (pipe2(fd, O_CLOEXEC) != 0) fd[0] = fd[1] = -1;
  }
  ~Pipe() {
    Close(0);
    Close(1);
  }
  void Close(int i) {
    if (fd[i] >= 0) close(fd[i]);
    fd[i] = -1;
  }
};

}  // namespace

std::string BinPath(const std::string& program) { return std::string(TAVROLIN_BIN_DIR) + "/" + program; }

CommandResult RunProgram(const std::vector<std::string>& argv, const std::string& input) {
  CommandResult result;
  Pipe in, out, err;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    dup2(in.fd[0], 0);
    dup2(out.fd[1], 1);
    dup2(err.fd[1], 2);
    execv(args[0], args.data());
    _exit(127);
  }
  in.Close(0);
  out.Close(1);
  err.Close(1);

  // Feed stdin and drain both outputs together, so no pipe fills up and blocks the child.
  signal(SIGPIPE, SIG_IGN);
  std::size_t written = 0;
  if (input.empty()) in.Close(1);
  char buffer[65536];
  while (out.fd[0] >= 0 || err.fd[0] >= 0) {
    pollfd fds[3];
    int n = 0;
    int map[3];
    if (in.fd[1] >= 0) { fds[n] = {in.fd[1], POLLOUT, 0}; map[n++] = 0; }
    if (out.fd[0] >= 0) { fds[n] = {out.fd[0], POLLIN, 0}; map[n++] = 1; }
    if (err.fd[0] >= 0) { fds[n] = {err.fd[0], POLLIN, 0}; map[n++] = 2; }
    if (poll(fds, static_cast<nfds_t>(n), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      if (map[i] == 0) {
        ssize_t w = write(in.fd[1], input.data() + written, input.size() - written);
        if (w > 0) written += static_cast<std::size_t>(w);
        if (w < 0 || written == input.size()) in.Close(1);
      } else {
        Pipe& p = map[i] == 1 ? out : err;
        std::string& sink = map[i] == 1 ? result.out : result.err;
        ssize_t r = read(p.fd[0], buffer, sizeof buffer);
        if (r > 0) {
          sink.append(buffer, static_cast<std::size_t>(r));
        } else {
          p.Close(0);
        }
      }
    }
  }
  in.Close(1);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace tavrolin::test
