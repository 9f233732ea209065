#include "tests/support/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

namespace tavrolin::test {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(x) == LowerAscii(y);
         });
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

const char* ReasonFor(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 204:
      return "No Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 401:
      return "Unauthorized";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

// Parses the head (request line and headers, without the empty line) into `r`.
void ParseHead(std::string_view head, RecordedRequest& r) {
  std::size_t line_end = head.find("\r\n");
  std::string_view line = head.substr(0, line_end);
  std::size_t sp1 = line.find(' ');
  std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
  r.method = std::string(line.substr(0, sp1));
  if (sp1 != std::string_view::npos) r.target = std::string(line.substr(sp1 + 1, sp2 - sp1 - 1));
  std::size_t pos = line_end == std::string_view::npos ? head.size() : line_end + 2;
  while (pos < head.size()) {
    std::size_t end = head.find("\r\n", pos);
    if (end == std::string_view::npos) end = head.size();
    std::string_view h = head.substr(pos, end - pos);
    std::size_t colon = h.find(':');
    if (colon != std::string_view::npos) {
      r.headers.emplace_back(std::string(Trim(h.substr(0, colon))),
                             std::string(Trim(h.substr(colon + 1))));
    }
    pos = end + 2;
  }
}

}  // namespace

std::optional<std::string> RecordedRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsIgnoreCase(key, name)) return value;
  }
  return std::nullopt;
}

std::vector<std::string> RecordedRequest::Headers(std::string_view name) const {
  std::vector<std::string> out;
  for (const auto& [key, value] : headers) {
    if (EqualsIgnoreCase(key, name)) out.push_back(value);
  }
  return out;
}

std::string RecordedRequest::HeaderBlock() const {
  std::size_t first = raw.find("\r\n");
  std::size_t end = raw.find("\r\n\r\n");
  if (first == std::string::npos || end == std::string::npos || end < first) return {};
  return raw.substr(first + 2, end + 2 - (first + 2));
}

Reply Reply::Page(std::string body, std::string content_type, int status,
                  std::string_view extra_headers) {
  Reply r;
  r.bytes = "HTTP/1.1 " + std::to_string(status) + " " + ReasonFor(status) + "\r\n";
  if (!content_type.empty()) r.bytes += "Content-Type: " + content_type + "\r\n";
  r.bytes += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  r.bytes += extra_headers;
  r.bytes += "\r\n";
  r.bytes += body;
  return r;
}

Reply Reply::Redirect(int status, std::string_view location, std::string_view set_cookie) {
  Reply r;
  r.bytes = "HTTP/1.1 " + std::to_string(status) + " " + ReasonFor(status) + "\r\n";
  r.bytes += "Location: ";
  r.bytes += location;
  r.bytes += "\r\n";
  if (!set_cookie.empty()) {
    r.bytes += "Set-Cookie: ";
    r.bytes += set_cookie;
    r.bytes += "\r\n";
  }
  r.bytes += "Content-Length: 0\r\n\r\n";
  return r;
}

Reply Reply::Raw(std::string bytes) {
  Reply r;
  r.bytes = std::move(bytes);
  r.close_after_reply = true;
  return r;
}

LoopbackServer::LoopbackServer(Reply reply)
    : LoopbackServer([reply = std::move(reply)](const RecordedRequest&) { return reply; }) {}

LoopbackServer::LoopbackServer(Handler handler) : handler_(std::move(handler)) {
  // A client that hangs up mid-reply must not kill the test program.
  std::signal(SIGPIPE, SIG_IGN);
  if (pipe(stop_pipe_) != 0) throw std::runtime_error("pipe failed");
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) throw std::runtime_error("socket failed");
  int one = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listen_fd_, 64) != 0) {
    close(listen_fd_);
    throw std::runtime_error("bind/listen failed");
  }
  socklen_t len = sizeof addr;
  getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
  Stop();
  close(stop_pipe_[0]);
  close(stop_pipe_[1]);
}

void LoopbackServer::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    stopped_ = true;
  }
  // The pipe's byte is never read, so every later poll sees it too.
  char byte = 1;
  [[maybe_unused]] ssize_t n = write(stop_pipe_[1], &byte, 1);
  if (acceptor_.joinable()) acceptor_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    threads.swap(connections_);
  }
  for (std::thread& t : threads) t.join();
  close(listen_fd_);
}

std::string LoopbackServer::Url(std::string_view path) const {
  std::string url = "http://127.0.0.1:" + std::to_string(port_);
  if (path.empty() || path.front() != '/') url += '/';
  url += path;
  return url;
}

std::u16string LoopbackServer::Url16(std::string_view path) const { return ToU16(Url(path)); }

std::vector<RecordedRequest> LoopbackServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t LoopbackServer::request_count() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

RecordedRequest LoopbackServer::request(std::size_t i) const {
  std::lock_guard lock(mutex_);
  return i < requests_.size() ? requests_[i] : RecordedRequest{};
}

std::size_t LoopbackServer::connection_count() const {
  std::lock_guard lock(mutex_);
  return connection_count_;
}

bool LoopbackServer::WaitFor(int fd, short events, int timeout_ms) const {
  pollfd fds[2] = {{fd, events, 0}, {stop_pipe_[0], POLLIN, 0}};
  for (;;) {
    int n = poll(fds, 2, timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (fds[1].revents != 0) return false;
    return fds[0].revents != 0;
  }
}

bool LoopbackServer::Sleep(milliseconds duration) const {
  if (duration.count() <= 0) return true;
  pollfd stop = {stop_pipe_[0], POLLIN, 0};
  auto until = std::chrono::steady_clock::now() + duration;
  for (;;) {
    auto left = std::chrono::duration_cast<milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    int n = poll(&stop, 1, static_cast<int>(left.count()));
    if (n > 0) return false;
  }
}

bool LoopbackServer::SendAll(int fd, const char* data, std::size_t n) const {
  while (n > 0) {
    if (!WaitFor(fd, POLLOUT, -1)) return false;
    ssize_t sent = send(fd, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      return false;
    }
    data += sent;
    n -= static_cast<std::size_t>(sent);
  }
  return true;
}

void LoopbackServer::AcceptLoop() {
  for (;;) {
    if (!WaitFor(listen_fd_, POLLIN, -1)) return;
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(mutex_);
    ++connection_count_;
    connections_.emplace_back([this, fd] {
      Serve(fd);
      close(fd);
    });
  }
}

void LoopbackServer::Serve(int fd) {
  std::string buffer;
  char chunk[16384];
  auto read_more = [&]() -> bool {
    if (!WaitFor(fd, POLLIN, -1)) return false;
    ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<std::size_t>(n));
    return true;
  };
  for (;;) {
    std::size_t head_end;
    while ((head_end = buffer.find("\r\n\r\n")) == std::string::npos) {
      if (!read_more()) return;
    }
    RecordedRequest request;
    ParseHead(std::string_view(buffer).substr(0, head_end), request);
    std::size_t body_length = 0;
    if (auto cl = request.Header("Content-Length")) {
      body_length = static_cast<std::size_t>(std::strtoull(cl->c_str(), nullptr, 10));
    }
    std::size_t total = head_end + 4 + body_length;
    while (buffer.size() < total) {
      if (!read_more()) return;
    }
    request.raw = buffer.substr(0, total);
    request.body = buffer.substr(head_end + 4, body_length);
    buffer.erase(0, total);
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
    }
    Reply reply;
    {
      std::lock_guard lock(handler_mutex_);
      reply = handler_(request);
    }
    if (!SendReply(fd, reply)) return;
    if (reply.close_after_reply || reply.close_after) return;
  }
}

bool LoopbackServer::SendReply(int fd, const Reply& reply) {
  if (reply.never_answer) {
    // Hold the connection until the client leaves or the server stops.
    while (WaitFor(fd, POLLIN, -1)) {
      char c[512];
      if (recv(fd, c, sizeof c, 0) <= 0) return false;
    }
    return false;
  }
  if (!Sleep(reply.delay)) return false;

  const std::uint64_t total = reply.bytes.size() + reply.filler_bytes;
  std::uint64_t limit = total;
  if (reply.close_after) limit = std::min<std::uint64_t>(limit, *reply.close_after);
  std::uint64_t sent = 0;
  bool stalled = false;
  std::string filler;
  const std::size_t step = reply.trickle_bytes > 0 ? reply.trickle_bytes : 1 << 16;

  while (sent < limit) {
    if (!stalled && reply.stall_after && sent >= *reply.stall_after) {
      stalled = true;
      if (reply.stall_for.count() < 0) {
        Sleep(milliseconds(24 * 3600 * 1000));  // until stopped
        return false;
      }
      if (!Sleep(reply.stall_for)) return false;
    }
    std::uint64_t n = std::min<std::uint64_t>(step, limit - sent);
    if (!stalled && reply.stall_after && sent < *reply.stall_after) {
      n = std::min<std::uint64_t>(n, *reply.stall_after - sent);
    }
    const char* data;
    if (sent < reply.bytes.size()) {
      n = std::min<std::uint64_t>(n, reply.bytes.size() - sent);
      data = reply.bytes.data() + sent;
    } else {
      if (filler.size() < n) filler.assign(static_cast<std::size_t>(n), 'x');
      data = filler.data();
    }
    if (!SendAll(fd, data, static_cast<std::size_t>(n))) return false;
    sent += n;
    if (reply.trickle_bytes > 0 && sent < limit && !Sleep(reply.trickle_interval)) return false;
  }
  return true;
}

std::uint16_t FreeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

bool WaitForPort(std::uint16_t port, milliseconds limit) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return false;
}

std::u16string ToU16(std::string_view ascii) {
  std::u16string out;
  for (char c : ascii) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

std::string FromU16(std::u16string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    std::uint32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace tavrolin::test
