// The real program on a virtual X display, driven as a person drives it:
// xdotool clicks and types, xclip reads the clipboard from outside.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/loopback_server.h"

namespace tavrolin::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr milliseconds kLimit{20000};  // generous: only a hang should ever reach it

struct CommandResult {
  int exit_code = -1;  // -1 when it did not exit normally
  std::string out;
};

// Runs a short command to its end and collects its standard output.
CommandResult RunToEnd(const std::vector<std::string>& argv) {
  CommandResult result;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return result;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(fds[1]);
  char buffer[4096];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) result.out.append(buffer, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  }
  return result;
}

std::string ProgramPath() { return std::string(TAVROLIN_BIN_DIR) + "/tavrolin"; }

bool OnPath(const std::string& program) {
  return RunToEnd({"/bin/sh", "-c", "command -v " + program}).exit_code == 0;
}

// Polls until `done` holds or `limit` passes.
bool Eventually(const std::function<bool()>& done, milliseconds limit = kLimit) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(50));
  }
  return true;
}

// A child process that is killed and reaped when the object goes.
class Child {
 public:
  // `env` entries are "NAME=value" to set or "NAME" to remove.
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
        int keep_fd = -1) {
    pid_ = fork();
    if (pid_ != 0) return;
    for (const std::string& entry : env) {
      const auto eq = entry.find('=');
      if (eq == std::string::npos) {
        unsetenv(entry.c_str());
      } else {
        setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 1);
      }
    }
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    if (keep_fd >= 0) fcntl(keep_fd, F_SETFD, 0);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  ~Child() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (!Wait(milliseconds(5000))) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return pid_ > 0; }
  // The exit code once it has exited (-1 when killed by a signal); nullopt on time-out.
  std::optional<int> Wait(milliseconds limit) {
    std::optional<int> code;
    Eventually(
        [&] {
          int status = 0;
          const pid_t done = waitpid(pid_, &status, WNOHANG);
          if (done == pid_) code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
          return done != 0;
        },
        limit);
    if (code) pid_ = -1;
    return code;
  }

 private:
  pid_t pid_ = -1;
};

// Xvfb on a display number of its own choosing, reported through a pipe.
class VirtualDisplay {
 public:
  VirtualDisplay() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    server_.emplace(std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fds[1]),
                                             "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
                    std::vector<std::string>{}, fds[1]);
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (!number.empty()) name_ = ":" + number;
  }
  const std::string& name() const { return name_; }  // empty when Xvfb did not start

 private:
  std::optional<Child> server_;
  std::string name_;
};

class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"Xvfb", "xdotool", "xclip"}) {
      if (!OnPath(tool)) GTEST_SKIP() << tool << " is not installed";
    }
    display_.emplace();
    ASSERT_FALSE(display_->name().empty()) << "Xvfb did not report a display";
  }

  CommandResult X(std::vector<std::string> command) {
    command.insert(command.begin(), {"/usr/bin/env", "DISPLAY=" + display_->name()});
    return RunToEnd(command);
  }
  std::string ClipboardText() {
    return X({"xclip", "-o", "-selection", "clipboard", "-t", "UTF8_STRING"}).out;
  }
  // Clicks the middle of a control, given by its client-area rectangle.
  void ClickAt(const std::string& window, int left, int top, int width, int height) {
    X({"xdotool", "mousemove", "--sync", "--window", window, std::to_string(left + width / 2),
       std::to_string(top + height / 2), "click", "1"});
  }

  // Starts the program and waits for its window; returns the window's id.
  std::string Start(std::optional<Child>& program) {
    // Leak checking stays on for our code; the file names the system
    // libraries whose leftovers would only change the exit code checked.
    program.emplace(
        std::vector<std::string>{ProgramPath()},
        std::vector<std::string>{
            "DISPLAY=" + display_->name(), "QT_QPA_PLATFORM", "WAYLAND_DISPLAY",
            std::string("LSAN_OPTIONS=suppressions=") + TAVROLIN_APP_TEST_DIR + "/lsan.supp"});
    std::string window;
    if (!program->started()) return window;
    Eventually([&] {
      window = X({"xdotool", "search", "--onlyvisible", "--name", "^Tavrolin$"}).out;
      if (auto end = window.find('\n'); end != std::string::npos) window.resize(end);
      return !window.empty();
    });
    return window;
  }

  std::optional<VirtualDisplay> display_;
};

const std::string kPage =
    "<label class=\"profile_meta_label\">微信号</label>"
    "<span class=\"profile_meta_value\">tavrolin_wx</span>"
    "<strong class=\"profile_nickname\">塔夫罗林</strong>"
    "<script>var user_name = \"gh_0123456789ab\"; var user_name_new = \"\";"
    "var msg_title = \"标题\"; var msg_desc = \"简介\";</script>";

TEST_F(DesktopTest, LookupByMouseAndKeyboardPutsTheIdAndNicknameOnTheClipboard) {
  LoopbackServer server(Reply::Page(kPage));
  std::optional<Child> program;
  const std::string window = Start(program);
  ASSERT_FALSE(window.empty()) << "the window did not show";

  ClickAt(window, 79, 19, 409, 21);  // into the link box: the hint goes
  X({"xdotool", "type", "--delay", "20", server.Url("/s/q7Vb3LmZt2XkP8sNw5yHaQ")});
  ClickAt(window, 308, 50, 180, 32);  // 提取
  EXPECT_TRUE(Eventually([&] { return ClipboardText() == "gh_0123456789ab"; }))
      << "clipboard: " << ClipboardText();
  EXPECT_EQ(server.request_count(), 1u);
  EXPECT_EQ(server.request(0).target, "/s/q7Vb3LmZt2XkP8sNw5yHaQ");

  ClickAt(window, 432, 173, 56, 24);  // 复制 beside the nickname
  const std::string nickname = reinterpret_cast<const char*>(u8"塔夫罗林");
  EXPECT_TRUE(Eventually([&] { return ClipboardText() == nickname; }))
      << "clipboard: " << ClipboardText();

  // An emptied box copied: the clipboard holds the empty text, not the nickname.
  ClickAt(window, 79, 215, 353, 21);
  X({"xdotool", "key", "ctrl+a", "BackSpace"});
  ClickAt(window, 432, 213, 56, 24);
  EXPECT_TRUE(Eventually([&] {
    const CommandResult read = X({"xclip", "-o", "-selection", "clipboard", "-t", "UTF8_STRING"});
    return read.exit_code == 0 && read.out.empty();
  })) << "clipboard: "
      << ClipboardText();

  X({"xdotool", "key", "Escape"});
  EXPECT_EQ(program->Wait(kLimit), std::optional<int>(0));
}

TEST_F(DesktopTest, EscapeWhileALookupWaitsEndsTheProgramCleanly) {
  Reply slow = Reply::Page(kPage);
  slow.delay = milliseconds(1500);
  LoopbackServer server(slow);
  std::optional<Child> program;
  const std::string window = Start(program);
  ASSERT_FALSE(window.empty()) << "the window did not show";

  ClickAt(window, 79, 19, 409, 21);
  X({"xdotool", "type", "--delay", "20", server.Url("/s/slow")});
  ClickAt(window, 308, 50, 180, 32);
  // Queued while the request blocks; dispatched once the page is in.
  X({"xdotool", "key", "Escape"});
  EXPECT_EQ(program->Wait(kLimit), std::optional<int>(0));
  EXPECT_EQ(server.request_count(), 1u);
}

TEST(DesktopWithoutDisplayTest, SaysSoInOneLineAndFails) {
  // Standard error goes to the pipe, standard output nowhere.
  const CommandResult result =
      RunToEnd({"/bin/sh", "-c",
                "exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \"$0\" 2>&1 >/dev/null",
                ProgramPath()});
  EXPECT_NE(result.exit_code, 0);
  EXPECT_NE(result.exit_code, -1);  // an exit, not a crash
  EXPECT_NE(result.out.find("display"), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find('\n'), result.out.size() - 1) << result.out;
}

}  // namespace
}  // namespace tavrolin::test
