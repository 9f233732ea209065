#include "tests/support/proxy_server.h"

#include <fstream>

#include "tests/support/loopback_server.h"

namespace tavrolin::test {

ProxyServer::ProxyServer(const std::string& user, const std::string& password) {
  std::string tinyproxy = FindProgram("tinyproxy");
  if (tinyproxy.empty() || dir_.path().empty()) return;
  port_ = FreeLoopbackPort();
  {
    // No ConnectPort line: with one, CONNECT to any other port is refused.
    std::ofstream config(dir_.File("tinyproxy.conf"));
    config << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\n"
           << "Allow 127.0.0.1\nLogLevel Info\n";
    if (!user.empty()) config << "BasicAuth " << user << " " << password << "\n";
  }
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{tinyproxy, "-d", "-c", dir_.File("tinyproxy.conf")}, dir_.path(),
      dir_.File("tinyproxy.log"));
  ok_ = process_->running() && WaitForPort(port_);
}

}  // namespace tavrolin::test
