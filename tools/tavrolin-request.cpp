// tavrolin-request: one Web_Request from a shell, as one calls curl.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/text_ops.h"
#include "tools/tool_output.h"
#include "web/web_request.h"

namespace {

using tavrolin::Bytes;
using tavrolin::Text;
using tavrolin::tools::FromShell;
using tavrolin::tools::JsonString;
using tavrolin::tools::ToShell;

constexpr const char* kUsage =
    "usage: tavrolin-request [options] URL\n"
    "  -X, --method M        GET, POST, HEAD, PUT or a number (default GET)\n"
    "  -d, --data TEXT       request body, sent with any method\n"
    "  -b, --cookie TEXT     Cookie header text; also keeps automatic cookies on\n"
    "  -H, --header LINE     extra request header line (repeatable)\n"
    "      --no-redirect     do not follow redirects\n"
    "  -u, --user U:P        basic credentials for the server\n"
    "  -x, --proxy PROXY     proxy, as host:port or http=host:port;https=host:port\n"
    "  -U, --proxy-user U:P  basic credentials for the proxy\n"
    "  -m, --timeout SECS    limit for each network phase (default 30)\n"
    "  -o, --output FILE     write the raw response body to FILE\n"
    "  -i, --include         print the response headers before the page\n"
    "      --json            print every output as one JSON object\n"
    "Prints the page text on stdout and the status text on stderr.\n"
    "Exit status: 0 after a completed exchange, 1 when the request failed\n"
    "(700..713, the message on stderr), 2 for a usage error.\n";

struct Options {
  Text url;
  std::int32_t method = tavrolin::kMethodGet;
  Text post_data;
  std::optional<Text> send_cookies;
  std::vector<Text> headers;
  bool no_redirect = false;
  Text user, password, proxy, proxy_user, proxy_password;
  std::int32_t timeout = 0;
  std::string output_file;
  bool include = false;
  bool json = false;
};

std::optional<std::int32_t> ParseInt(std::string_view s) {
  if (s.empty() || s.size() > 11) return std::nullopt;
  char* end = nullptr;
  const std::string copy(s);
  const long long value = std::strtoll(copy.c_str(), &end, 10);
  if (*end != '\0' || value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> ParseMethod(std::string_view s) {
  if (s == "GET") return tavrolin::kMethodGet;
  if (s == "POST") return tavrolin::kMethodPost;
  if (s == "HEAD") return tavrolin::kMethodHead;
  if (s == "PUT") return tavrolin::kMethodPut;
  return ParseInt(s);
}

void SplitCredentials(std::string_view arg, Text& user, Text& password) {
  const std::size_t colon = arg.find(':');
  user = FromShell(arg.substr(0, colon));
  password = colon == std::string_view::npos ? Text() : FromShell(arg.substr(colon + 1));
}

// Returns an error message, or an empty string when the arguments are good.
std::string Parse(int argc, char** argv, Options& o, bool& help) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&]() -> std::optional<std::string_view> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string_view(argv[++i]);
    };
    auto needs_value = [&](std::string_view name) { return "option " + std::string(name) + " needs a value"; };
    if (arg == "-h" || arg == "--help") {
      help = true;
      return {};
    } else if (arg == "--no-redirect") {
      o.no_redirect = true;
    } else if (arg == "--json") {
      o.json = true;
    } else if (arg == "-i" || arg == "--include") {
      o.include = true;
    } else if (arg == "-X" || arg == "--method") {
      auto v = value();
      if (!v) return needs_value(arg);
      auto m = ParseMethod(*v);
      if (!m) return "unknown method: " + std::string(*v);
      o.method = *m;
    } else if (arg == "-d" || arg == "--data") {
      auto v = value();
      if (!v) return needs_value(arg);
      o.post_data = FromShell(*v);
    } else if (arg == "-b" || arg == "--cookie") {
      auto v = value();
      if (!v) return needs_value(arg);
      o.send_cookies = FromShell(*v);
    } else if (arg == "-H" || arg == "--header") {
      auto v = value();
      if (!v) return needs_value(arg);
      o.headers.push_back(FromShell(*v));
    } else if (arg == "-u" || arg == "--user") {
      auto v = value();
      if (!v) return needs_value(arg);
      SplitCredentials(*v, o.user, o.password);
    } else if (arg == "-x" || arg == "--proxy") {
      auto v = value();
      if (!v) return needs_value(arg);
      o.proxy = FromShell(*v);
    } else if (arg == "-U" || arg == "--proxy-user") {
      auto v = value();
      if (!v) return needs_value(arg);
      SplitCredentials(*v, o.proxy_user, o.proxy_password);
    } else if (arg == "-m" || arg == "--timeout") {
      auto v = value();
      if (!v) return needs_value(arg);
      auto t = ParseInt(*v);
      if (!t) return "not a number of seconds: " + std::string(*v);
      o.timeout = *t;
    } else if (arg == "-o" || arg == "--output") {
      auto v = value();
      if (!v) return needs_value(arg);
      o.output_file = std::string(*v);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return "unknown option: " + std::string(arg);
    } else if (o.url.empty()) {
      o.url = FromShell(arg);
    } else {
      return "more than one URL given";
    }
  }
  if (o.url.empty()) return "no URL given";
  return {};
}

// The routine's own failure messages; an exchange that completed never leaves one.
bool IsFailure(const Text& page, const Text& status) {
  namespace s = tavrolin::web_status;
  if (!page.empty()) return false;
  for (const char* message : {s::k700, s::k701, s::k702, s::k703, s::k704, s::k705, s::k707,
                              s::k708, s::k709, s::k710, s::k711, s::k712, s::k713}) {
    if (status == message) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  bool help = false;
  if (std::string error = Parse(argc, argv, o, help); !error.empty()) {
    std::cerr << "tavrolin-request: " << error << "\n" << kUsage;
    return 2;
  }
  if (help) {
    std::cout << kUsage;
    return 0;
  }

  Text extra_headers;
  for (const Text& line : o.headers) {
    extra_headers = extra_headers.empty() ? line : tavrolin::Text_Concat(extra_headers, "\r\n", line);
  }

  Text cookies, headers, location, status;
  Bytes body;
  const Text page = tavrolin::Web_Request(
      o.url, o.method, o.post_data, o.send_cookies, &cookies, extra_headers, &headers,
      o.no_redirect, o.user, o.password, o.proxy, o.proxy_user, o.proxy_password, o.timeout,
      &location, &status, &body);
  const bool failed = IsFailure(page, status);

  if (!o.output_file.empty() && !failed) {
    std::ofstream file(o.output_file, std::ios::binary);
    file.write(body.data(), static_cast<std::streamsize>(body.size()));
    if (!file) {
      std::cerr << "tavrolin-request: cannot write " << o.output_file << "\n";
      return 1;
    }
  }

  if (o.json) {
    std::cout << "{\"status_text\":" << JsonString(ToShell(status))
              << ",\"returned_headers\":" << JsonString(ToShell(headers))
              << ",\"returned_cookies\":" << JsonString(ToShell(cookies))
              << ",\"returned_location\":" << JsonString(ToShell(location))
              << ",\"returned_bytes_length\":" << body.size()
              << ",\"page_text\":" << JsonString(ToShell(page)) << "}\n";
  } else {
    if (o.include) std::cout << ToShell(headers);
    std::cout << ToShell(page);
  }
  std::cerr << ToShell(status) << "\n";
  return failed ? 1 : 0;
}
