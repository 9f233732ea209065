// tavrolin-lookup: the window's article lookup from a shell, one link after another.
// It runs the same MainWindow handlers over boxes held in memory, so it always
// gives the values the window would.
#include <unistd.h>

#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/main_window.h"
#include "app/memory_window.h"
#include "tools/tool_output.h"

namespace {

using tavrolin::Text;
using tavrolin::app::Control;
using tavrolin::tools::FromShell;
using tavrolin::tools::JsonString;
using tavrolin::tools::ToShell;

constexpr const char* kUsage =
    "usage: tavrolin-lookup [--json] [--verbose] [LINK...]\n"
    "Looks up each WeChat article link as the Tavrolin window does and prints\n"
    "one record per link, in input order. With no LINK, or with \"-\", reads one\n"
    "link per line from standard input (blank lines skipped).\n"
    "  default    a tab-separated line: original ID, WeChat ID, nickname, title,\n"
    "             summary, link (tab, newline, CR and backslash inside a value\n"
    "             are written as \\t, \\n, \\r and \\\\)\n"
    "  --json     one JSON object per line: link, original_id, wechat_id,\n"
    "             nickname, title, summary\n"
    "  --verbose  also the request's status text on stderr for every link\n"
    "A link that gives no original ID is reported on stderr.\n"
    "Exit status: 0 when every link gave an original ID, 1 when one did not,\n"
    "2 for a usage error.\n";

struct Record {
  std::string link, original_id, wechat_id, nickname, title, summary;  // UTF-8
  std::vector<std::string> notices;
  std::string status;
};

Record LookUp(const std::string& link_utf8) {
  tavrolin::app::MemoryWindow window;
  tavrolin::app::MemoryClipboard clipboard;
  tavrolin::app::NoticeLog notices;
  tavrolin::app::MainWindow main_window(window, clipboard, notices);

  // As a person would: press into the link box, paste, click Extract.
  main_window.OnCreated();
  main_window.OnLinkBoxLeftPress();
  window.SetControlText(Control::编辑框_微信链接, FromShell(link_utf8));
  Text status;
  main_window.OnExtractClicked(&status);

  Record r;
  r.link = ToShell(window.ControlText(Control::编辑框_微信链接1));
  r.original_id = ToShell(window.ControlText(Control::编辑框_原始ID));
  r.wechat_id = ToShell(window.ControlText(Control::编辑框_微信号));
  r.nickname = ToShell(window.ControlText(Control::编辑框_昵称));
  r.title = ToShell(window.ControlText(Control::编辑框_图文标题));
  r.summary = ToShell(window.ControlText(Control::编辑框_图文简介));
  for (const Text& notice : notices.shown()) r.notices.push_back(ToShell(notice));
  r.status = ToShell(status);
  return r;
}

// Keeps a record on one line.
std::string Field(std::string_view value) {
  std::string out;
  for (char c : value) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Format(const Record& r, bool json) {
  if (json) {
    return "{\"link\":" + JsonString(r.link) + ",\"original_id\":" + JsonString(r.original_id) +
           ",\"wechat_id\":" + JsonString(r.wechat_id) + ",\"nickname\":" + JsonString(r.nickname) +
           ",\"title\":" + JsonString(r.title) + ",\"summary\":" + JsonString(r.summary) + "}";
  }
  return Field(r.original_id) + "\t" + Field(r.wechat_id) + "\t" + Field(r.nickname) + "\t" +
         Field(r.title) + "\t" + Field(r.summary) + "\t" + Field(r.link);
}

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

class Batch {
 public:
  Batch(bool json, bool verbose, std::size_t total)
      : json_(json), verbose_(verbose), total_(total), progress_(isatty(STDERR_FILENO) == 1) {}

  void Run(const std::string& link) {
    ++count_;
    if (progress_) {
      std::cerr << "\r\033[K[" << count_;
      if (total_ > 0) std::cerr << "/" << total_;
      std::cerr << "] " << link << std::flush;
    }
    const Record r = LookUp(link);
    if (progress_) std::cerr << "\r\033[K" << std::flush;
    std::cout << Format(r, json_) << std::endl;
    if (verbose_) std::cerr << r.status << "\t" << link << "\n";
    for (const std::string& notice : r.notices) std::cerr << notice << "\t" << link << "\n";
    if (r.original_id.empty()) all_found_ = false;
  }

  bool all_found() const { return all_found_; }

 private:
  bool json_, verbose_;
  std::size_t total_;
  bool progress_;
  std::size_t count_ = 0;
  bool all_found_ = true;
};

}  // namespace

int main(int argc, char** argv) {
  bool json = false, verbose = false, from_stdin = false;
  std::vector<std::string> links;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--json") {
      json = true;
    } else if (arg == "--verbose" || arg == "-v") {
      verbose = true;
    } else if (arg == "-") {
      from_stdin = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::cerr << "tavrolin-lookup: unknown option: " << arg << "\n" << kUsage;
      return 2;
    } else {
      links.emplace_back(arg);
    }
  }
  if (from_stdin && !links.empty()) {
    std::cerr << "tavrolin-lookup: give links as arguments or \"-\", not both\n" << kUsage;
    return 2;
  }

  Batch batch(json, verbose, links.size());
  if (links.empty()) {
    // Line by line, so a pipe that feeds links slowly gets its records as they come.
    for (std::string line; std::getline(std::cin, line);) {
      const std::string_view link = Trim(line);
      if (!link.empty()) batch.Run(std::string(link));
    }
  } else {
    for (const std::string& link : links) batch.Run(link);
  }
  return batch.all_found() ? 0 : 1;
}
