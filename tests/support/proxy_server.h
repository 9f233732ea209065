// A tinyproxy of the test's own, in the foreground on a free loopback port.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tests/support/child_process.h"

namespace tavrolin::test {

class ProxyServer {
 public:
  // With a user, the proxy asks for Basic credentials (BasicAuth).
  explicit ProxyServer(const std::string& user = {}, const std::string& password = {});

  static bool Available() { return !FindProgram("tinyproxy").empty(); }
  bool ok() const { return ok_; }
  std::uint16_t port() const { return port_; }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  TempDir dir_;
  std::uint16_t port_ = 0;
  bool ok_ = false;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace tavrolin::test
