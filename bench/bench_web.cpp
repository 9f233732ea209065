// Body throughput of the libcurl transport, read the way Web_Request reads it
// (QueryDataAvailable / ReadData passes appended to a Bytes), beside a plain
// libcurl transfer of the same URL into a std::string; then peak memory of a
// 100 MB body in child processes. Prints the ratios.
//   bench_web                 both parts
//   bench_web --child=KIND    internal: one 100 MB fetch, prints ru_maxrss in KiB
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/ratio_reporter.h"
#include "text/text_ops.h"
#include "web/transport_curl.h"
#include "web/web_request.h"

namespace {

using namespace tavrolin;

// Answers every GET with `body_size` bytes of 'x', generated as it goes, so the
// server's own memory stays out of the measurement.
class BodyServer {
 public:
  explicit BodyServer(std::uint64_t body_size) : body_size_(body_size) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd_, 16);
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Loop(); });
  }
  ~BodyServer() {
    stop_ = true;
    shutdown(fd_, SHUT_RDWR);
    thread_.join();
    close(fd_);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/body"; }

 private:
  void Loop() {
    std::string chunk(1 << 16, 'x');
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      std::string request;
      char buf[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, static_cast<std::size_t>(n));
      }
      std::string head =
          "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
          "Content-Length: " +
          std::to_string(body_size_) + "\r\n\r\n";
      bool ok = send(c, head.data(), head.size(), MSG_NOSIGNAL) > 0;
      for (std::uint64_t sent = 0; ok && sent < body_size_ && !stop_;) {
        std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), body_size_ - sent));
        ssize_t k = send(c, chunk.data(), n, MSG_NOSIGNAL);
        ok = k > 0;
        if (ok) sent += static_cast<std::uint64_t>(k);
      }
      close(c);
    }
  }

  std::uint64_t body_size_;
  int fd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

std::u16string Wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// The read loop of Web_Request over the transport interface, alone.
Bytes FetchThroughTransport(const std::string& url) {
  auto t = web::MakeCurlTransport();
  web::UrlComponents parts;
  Bytes body;
  if (!t->CrackUrl(Wide(url), parts)) return body;
  auto s = t->Open(web::kAccessNoProxy, u"");
  auto c = t->Connect(s, parts.host, parts.port);
  auto q = t->OpenRequest(c, u"GET", parts.path + parts.extra_info, 0);
  t->SetTimeouts(q, 30000, 30000, 30000, 30000);
  t->AddRequestHeaders(q, u"Accept: */*\r\n", web::kAddHeaderReplace);
  if (t->SendRequest(q, nullptr, 0, 0) && t->ReceiveResponse(q)) {
    std::uint32_t count = 0;
    while (t->QueryDataAvailable(q, count) && count >= 1) {
      const std::size_t before = body.size();
      body.resize(before + count);
      std::uint32_t read = 0;
      if (!t->ReadData(q, body.data() + before, count, read)) read = 0;
      body.resize(before + read);
      if (read == 0) break;
    }
  }
  t->CloseHandle(q);
  t->CloseHandle(c);
  t->CloseHandle(s);
  return body;
}

std::size_t AppendToString(char* data, std::size_t size, std::size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

std::string FetchPlainCurl(const std::string& url) {
  std::string body;
  CURL* easy = curl_easy_init();
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROXY, "");
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &AppendToString);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
  curl_easy_perform(easy);
  curl_easy_cleanup(easy);
  return body;
}

constexpr std::uint64_t kThroughputBody = 20u << 20;
constexpr std::uint64_t kMemoryBody = 100u << 20;

BodyServer* g_server = nullptr;  // benchmark-process only, set in main

void BM_Transport(benchmark::State& state) {
  for (auto _ : state) {
    Bytes body = FetchThroughTransport(g_server->Url());
    if (body.size() != kThroughputBody) state.SkipWithError("short body");
    benchmark::DoNotOptimize(body.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kThroughputBody));
}

void BM_PlainCurl(benchmark::State& state) {
  for (auto _ : state) {
    std::string body = FetchPlainCurl(g_server->Url());
    if (body.size() != kThroughputBody) state.SkipWithError("short body");
    benchmark::DoNotOptimize(body.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kThroughputBody));
}

// The whole call as the program's lookup makes it, with the address alone.
void BM_WebRequest(benchmark::State& state) {
  for (auto _ : state) {
    const Text page = Web_Request(Text(g_server->Url()));
    if (page.size() != kThroughputBody) state.SkipWithError("short body");
    benchmark::DoNotOptimize(page.c_str());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kThroughputBody));
}

BENCHMARK(BM_WebRequest)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_Transport)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_PlainCurl)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// One 100 MB fetch in this process; prints its peak resident size in KiB.
int ChildMemory(const std::string& kind) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  BodyServer server(kMemoryBody);
  std::size_t got = 0;
  if (kind == "transport") {
    got = FetchThroughTransport(server.Url()).size();
  } else if (kind == "web_request") {
    Text status;
    Text page = Web_Request(Text(server.Url()), kMethodGet, {}, std::nullopt, nullptr, {}, nullptr,
                            false, {}, {}, {}, {}, {}, 0, nullptr, &status, nullptr);
    got = page.size();
  } else if (kind == "curl") {
    got = FetchPlainCurl(server.Url()).size();
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%ld %zu\n", usage.ru_maxrss, got);
  return 0;
}

// Runs this program as a child for one kind; returns its peak in KiB, or -1.
long MeasureChild(const char* self, const std::string& kind, std::size_t& got) {
  std::string cmd = std::string(self) + " --child=" + kind;
  FILE* pipe = popen(cmd.c_str(), "r");
  if (pipe == nullptr) return -1;
  long kib = -1;
  if (std::fscanf(pipe, "%ld %zu", &kib, &got) != 2) kib = -1;
  pclose(pipe);
  return kib;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strncmp(argv[1], "--child=", 8) == 0) return ChildMemory(argv[1] + 8);
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  {
    BodyServer server(kThroughputBody);
    g_server = &server;
    // Twice: with the allocator as it comes, where every 20 MB body lands in
    // fresh pages (on a virtual machine each page fault costs microseconds, and
    // that cost then dominates both sides), and with freed memory kept for
    // reuse, which compares the code paths themselves.
    for (const bool keep_memory : {false, true}) {
      if (keep_memory) {
        mallopt(M_MMAP_THRESHOLD, 256 << 20);
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
        std::printf("-- with freed memory kept by the allocator\n");
      }
      bench::RatioReporter reporter(/*wall_time=*/true);
      benchmark::RunSpecifiedBenchmarks(&reporter);
      reporter.PrintSpeedRatio("Web_Request", "BM_WebRequest", "BM_PlainCurl", 0.8);
      reporter.PrintSpeedRatio("transport alone", "BM_Transport", "BM_PlainCurl", 0.8);
    }
    g_server = nullptr;
  }
  const double body_kib = static_cast<double>(kMemoryBody) / 1024.0;
  for (const char* kind : {"curl", "transport", "web_request"}) {
    std::size_t got = 0;
    long kib = MeasureChild(argv[0], kind, got);
    std::printf("peak memory for a 100 MB body, %-11s: %ld KiB = %.2f x body (%zu bytes)%s\n", kind,
                kib, kib / body_kib, got, std::string(kind) == "curl" ? "" : " (target < 3x)");
  }
  benchmark::Shutdown();
  return 0;
}
