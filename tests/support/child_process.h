// A helper program (openssl, tinyproxy) run by a test and ended with it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tavrolin::test {

// The absolute path of `name` on PATH, or empty when it is not installed.
std::string FindProgram(const std::string& name);

class ChildProcess {
 public:
  // Starts `argv` (argv[0] a path) in `dir`, output to `log_file`; with
  // `stdin_bytes` its standard input is a pipe holding them, kept open.
  ChildProcess(const std::vector<std::string>& argv, const std::string& dir,
               const std::string& log_file, const std::string* stdin_bytes = nullptr);
  ~ChildProcess();  // SIGTERM, then SIGKILL if it lingers; always reaped
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool running() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
};

// Runs a command to its end; true when it exits with 0.
bool RunCommand(const std::vector<std::string>& argv, const std::string& log_file);

// A fresh directory under /tmp, removed with everything in it at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace tavrolin::test
