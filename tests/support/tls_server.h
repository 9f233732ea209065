// `openssl s_server` on 127.0.0.1 with a certificate made for the test
// (subjectAltName IP:127.0.0.1), self-signed so that it is its own CA.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "tests/support/child_process.h"

namespace tavrolin::test {

class TlsServer {
 public:
  // Without a reply: -www, answering every GET with its status page.
  // With one: that one connection gets `reply` as raw bytes, whatever it asks.
  explicit TlsServer(std::optional<std::string> reply = std::nullopt);

  static bool Available() { return !FindProgram("openssl").empty(); }
  bool ok() const { return ok_; }  // certificate made and server accepting
  std::uint16_t port() const { return port_; }
  std::string Url(const std::string& path = "/") const;
  const std::string& ca_file() const { return ca_file_; }
  // What the server logged (the request, in scripted mode).
  std::string Log() const;

 private:
  TempDir dir_;
  std::string ca_file_;
  std::uint16_t port_ = 0;
  bool ok_ = false;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace tavrolin::test
