// Runs one of our programs as a child process, the way a shell would, and
// collects what it printed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavrolin::test {

struct CommandResult {
  int exit_code = -1;  // -1 when it did not exit normally
  std::string out;
  std::string err;
};

// argv[0] is a path; `input` is written to its standard input, which then closes.
CommandResult RunProgram(const std::vector<std::string>& argv, const std::string& input = {});

// UTF-8 bytes of a u8"" literal (narrow literals are code page 936 here).
inline std::string Utf8(std::u8string_view s) { return std::string(s.begin(), s.end()); }

// The path of a program built into the build's bin/ folder.
std::string BinPath(const std::string& program);

}  // namespace tavrolin::test
