// A scripted transport for Web_Request: records every call and every event
// processing in one journal, in order, and fails the one operation it is told to.
#pragma once

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "web/transport.h"

namespace tavrolin::test {

struct FakeScript {
  // The operations that fail, by name ("Open", "SendRequest", ...); for
  // SetCredentials and SetOption a ":" and the target or value may follow
  // ("SetCredentials:1", "SetOption:2").
  std::set<std::string> fail;
  // With fail == "ReadData": the 1-based pass that fails.
  int fail_pass = 1;
  // Reported one per pass; "" reports a pass that reads 0 bytes.
  std::vector<std::string> body_chunks;
  // The raw header block, as the service gives it.
  std::u16string raw_headers = u"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
};

struct FakeState {
  FakeScript script;
  // "Open(1,)", "AddRequestHeaders(3,...)", "events", ...; texts in code page 936.
  std::vector<std::string> journal;
  int read_passes = 0;

  std::vector<std::string> Calls(const std::string& prefix) const;
  int Count(const std::string& entry) const;
};

class FakeTransport : public web::Transport {
 public:
  explicit FakeTransport(FakeState& state) : state_(state) {}

  bool CheckPlatform() override;
  bool CrackUrl(std::u16string_view url, web::UrlComponents& parts) override;
  web::InternetHandle Open(std::uint32_t access_type, std::u16string_view proxy_name) override;
  web::InternetHandle Connect(web::InternetHandle session, std::u16string_view host,
                              std::uint16_t port) override;
  web::InternetHandle OpenRequest(web::InternetHandle connection, std::u16string_view verb,
                                  std::u16string_view object_name, std::uint32_t flags) override;
  bool SetTimeouts(web::InternetHandle request, int resolve_ms, int connect_ms, int send_ms,
                   int receive_ms) override;
  bool SetCredentials(web::InternetHandle request, std::uint32_t target, std::uint32_t scheme,
                      std::u16string_view user, std::u16string_view password) override;
  bool SetOption(web::InternetHandle request, std::uint32_t option, std::uint32_t value) override;
  bool AddRequestHeaders(web::InternetHandle request, std::u16string_view headers,
                         std::uint32_t modifiers) override;
  bool SendRequest(web::InternetHandle request, const void* body, std::uint32_t length,
                   std::uint32_t total_length) override;
  bool ReceiveResponse(web::InternetHandle request) override;
  bool QueryDataAvailable(web::InternetHandle request, std::uint32_t& count) override;
  bool ReadData(web::InternetHandle request, void* buffer, std::uint32_t count,
                std::uint32_t& read) override;
  bool QueryHeaders(web::InternetHandle request, std::uint32_t info_level, void* buffer,
                    std::uint32_t& size_bytes, std::uint32_t& index) override;
  void CloseHandle(web::InternetHandle handle) override;

 private:
  bool Fails(const std::string& op);
  void Log(std::string entry) { state_.journal.push_back(std::move(entry)); }

  FakeState& state_;
};

// Installs the fake as every Web_Request's transport, and an event hook that
// writes "events" into the journal; both are removed afterwards.
class FakeTransportTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  FakeState fake;
};

}  // namespace tavrolin::test
