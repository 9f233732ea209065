// The scripted server itself: other tests trust what it records and how it misbehaves.
#include "tests/support/loopback_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tavrolin::test {
namespace {

using namespace std::string_literals;

// A bare client: sends `request`, reads until the server closes or `limit` passes.
std::string Exchange(std::uint16_t port, std::string_view request, int limit_ms = 3000) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return "<no connection>";
  }
  timeval tv{limit_ms / 1000, (limit_ms % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = recv(fd, buf, sizeof buf, 0)) > 0) out.append(buf, static_cast<std::size_t>(n));
  close(fd);
  return out;
}

TEST(LoopbackServer, RecordsTheRequestExactlyAndAnswersWithTheScriptedReply) {
  LoopbackServer server([](const RecordedRequest& r) {
    Reply reply = Reply::Page("echo:" + r.body, "text/plain");
    reply.close_after_reply = true;
    return reply;
  });
  const std::string wire =
      "POST /a?b=1 HTTP/1.1\r\nHost: x\r\nX-Case: One\r\nContent-Length: 5\r\n\r\nab\0cd"s;
  std::string answer = Exchange(server.port(), wire);
  EXPECT_EQ(answer,
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 10\r\n\r\n"
            "echo:ab\0cd"s);
  ASSERT_EQ(server.request_count(), 1u);
  RecordedRequest r = server.request(0);
  EXPECT_EQ(r.raw, wire);
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.target, "/a?b=1");
  EXPECT_EQ(r.Header("x-case"), "One");
  EXPECT_EQ(r.Header("Missing"), std::nullopt);
  EXPECT_EQ(r.body, "ab\0cd"s);
  EXPECT_EQ(r.HeaderBlock(), "Host: x\r\nX-Case: One\r\nContent-Length: 5\r\n");
}

TEST(LoopbackServer, CloseEarlySendsOnlyThePrefix) {
  Reply reply = Reply::Page("0123456789");
  reply.close_after = reply.bytes.size() - 4;
  LoopbackServer server(reply);
  std::string answer = Exchange(server.port(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(answer, reply.bytes.substr(0, reply.bytes.size() - 4));
}

TEST(LoopbackServer, TrickleAndFillerDeliverEveryByte) {
  Reply reply = Reply::Raw("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
  reply.filler_bytes = 1000;
  reply.trickle_bytes = 300;
  reply.trickle_interval = milliseconds(5);
  LoopbackServer server(reply);
  std::string answer = Exchange(server.port(), "GET / HTTP/1.1\r\n\r\n");
  EXPECT_EQ(answer, reply.bytes + std::string(1000, 'x'));
}

// A stalled or silent reply must not hold the destructor.
TEST(LoopbackServer, StopEndsStallsAndSilentReplies) {
  for (bool never : {false, true}) {
    auto started = std::chrono::steady_clock::now();
    std::thread client;
    {
      Reply reply = Reply::Page("body");
      reply.never_answer = never;
      reply.stall_after = 5;
      LoopbackServer server(reply);
      client =
          std::thread([port = server.port()] { Exchange(port, "GET / HTTP/1.1\r\n\r\n", 20000); });
      while (server.request_count() == 0) std::this_thread::sleep_for(milliseconds(5));
    }
    client.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << never;
  }
}

}  // namespace
}  // namespace tavrolin::test
