// A scripted HTTP/1.1 server on 127.0.0.1 for tests: it records every request
// byte for byte and answers each one with whatever reply the test's handler
// scripts, including misbehaviour (delays, trickles, stalls, early closes).
#pragma once

// <chrono> itself does not compile under -fexec-charset=CP936 (its "\u00b5s"
// literal); <thread> brings the clock and duration types.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace tavrolin::test {

using std::chrono::milliseconds;

// One request as it arrived.
struct RecordedRequest {
  std::string raw;  // request line, header lines, empty line and body, exactly as sent
  std::string method;
  std::string target;
  std::vector<std::pair<std::string, std::string>> headers;  // in order, values trimmed
  std::string body;                                          // read by Content-Length

  // The first header of that name (ASCII case ignored), or nullopt.
  std::optional<std::string> Header(std::string_view name) const;
  // Every header of that name, in order.
  std::vector<std::string> Headers(std::string_view name) const;
  // The header block alone: the lines after the request line, each with its "\r\n",
  // without the empty line that ends the block.
  std::string HeaderBlock() const;
};

// What the server does with one request.
struct Reply {
  std::string bytes;  // sent as given
  // Extra bytes generated after `bytes` ('x' repeated), so huge bodies need no memory.
  std::uint64_t filler_bytes = 0;

  milliseconds delay{0};  // wait before the first byte
  // Trickle: `trickle_bytes` at a time, `trickle_interval` apart (0 bytes: all at once).
  std::size_t trickle_bytes = 0;
  milliseconds trickle_interval{0};
  // Stall: after `stall_after` bytes stop sending for `stall_for`, or until the
  // server stops when `stall_for` is negative; then send the rest.
  std::optional<std::size_t> stall_after;
  milliseconds stall_for{-1};
  // Close early: send only the first `close_after` bytes, then close.
  std::optional<std::size_t> close_after;
  bool never_answer = false;       // read the request, send nothing until the client leaves
  bool close_after_reply = false;  // close the connection once the reply is out

  // A complete response with Content-Length; `extra_headers` are lines each ended by "\r\n".
  static Reply Page(std::string body, std::string content_type = "text/html", int status = 200,
                    std::string_view extra_headers = {});
  // A redirect (empty body) with Location and, when given, one Set-Cookie line.
  static Reply Redirect(int status, std::string_view location, std::string_view set_cookie = {});
  // Raw bytes as given; the connection closes after them (their framing is the test's).
  static Reply Raw(std::string bytes);
};

using Handler = std::function<Reply(const RecordedRequest&)>;

class LoopbackServer {
 public:
  // Starts listening on an ephemeral port at once. Handler calls are serialised.
  explicit LoopbackServer(Handler handler);
  // A server that answers every request with the same reply.
  explicit LoopbackServer(Reply reply);
  // Stops: every stalled, delayed or never-answered reply ends, threads are joined.
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  std::uint16_t port() const { return port_; }
  // "http://127.0.0.1:PORT" followed by `path` ("/x" or "x" both give ".../x").
  std::string Url(std::string_view path = "/") const;
  // Same, as UTF-16 for the transport interface.
  std::u16string Url16(std::string_view path = "/") const;

  std::vector<RecordedRequest> requests() const;
  std::size_t request_count() const;
  RecordedRequest request(std::size_t i) const;  // i-th request; empty when out of range
  std::size_t connection_count() const;

  // Ends everything now (the destructor does it too); idempotent.
  void Stop();

 private:
  void AcceptLoop();
  void Serve(int fd);
  bool SendReply(int fd, const Reply& reply);
  // Polls `fd` for `events` or the stop signal; false on stop or timeout.
  bool WaitFor(int fd, short events, int timeout_ms) const;
  bool Sleep(milliseconds duration) const;  // false when stopped first
  bool SendAll(int fd, const char* data, std::size_t n) const;

  Handler handler_;
  int listen_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  std::uint16_t port_ = 0;
  std::thread acceptor_;

  mutable std::mutex mutex_;  // guards the fields below
  std::vector<RecordedRequest> requests_;
  std::vector<std::thread> connections_;
  std::size_t connection_count_ = 0;
  bool stopped_ = false;
  std::mutex handler_mutex_;
};

// A free TCP port on 127.0.0.1 right now (for servers started as other processes).
std::uint16_t FreeLoopbackPort();
// Waits until something accepts connections on 127.0.0.1:port; false after `limit`.
bool WaitForPort(std::uint16_t port, milliseconds limit = milliseconds(10000));

std::u16string ToU16(std::string_view ascii);
std::string FromU16(std::u16string_view s);  // UTF-16 to UTF-8

}  // namespace tavrolin::test
