#include "tests/support/tls_server.h"

#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/loopback_server.h"

namespace tavrolin::test {

TlsServer::TlsServer(std::optional<std::string> reply) {
  std::string openssl = FindProgram("openssl");
  if (openssl.empty() || dir_.path().empty()) return;
  ca_file_ = dir_.File("cert.pem");
  // A host check against 127.0.0.1 needs the IP in subjectAltName; a CN is not enough.
  if (!RunCommand(
          {openssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
           "-nodes", "-keyout", dir_.File("key.pem"), "-out", ca_file_, "-days", "2", "-subj",
           "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"},
          dir_.File("req.log"))) {
    return;
  }
  port_ = FreeLoopbackPort();
  std::vector<std::string> argv = {
      openssl, "s_server", "-accept", "127.0.0.1:" + std::to_string(port_),
      "-cert", ca_file_,   "-key",    dir_.File("key.pem")};
  if (reply) {
    // s_server sends its standard input to the client once one is connected.
    argv.insert(argv.end(), {"-naccept", "1"});
    process_ = std::make_unique<ChildProcess>(argv, dir_.path(), dir_.File("server.log"), &*reply);
  } else {
    argv.push_back("-www");
    process_ = std::make_unique<ChildProcess>(argv, dir_.path(), dir_.File("server.log"));
  }
  // Probing the port would use up the one connection of scripted mode: wait
  // for s_server's "ACCEPT" line instead.
  for (int i = 0; i < 500 && process_->running(); ++i) {
    if (Log().find("ACCEPT") != std::string::npos) {
      ok_ = true;
      return;
    }
    std::this_thread::sleep_for(milliseconds(10));
  }
}

std::string TlsServer::Url(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(port_) + path;
}

std::string TlsServer::Log() const {
  std::ifstream in(dir_.File("server.log"));
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace tavrolin::test
