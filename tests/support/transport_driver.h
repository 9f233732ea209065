// Runs one exchange through a Transport in the order Web_Request calls it,
// recording how far it got, so tests can assert on stages, body and headers.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "web/transport.h"

namespace tavrolin::test {

struct ExchangeCall {
  std::string url;  // ASCII or UTF-8
  std::u16string verb = u"GET";
  std::string body;
  std::u16string headers;                       // lines ended by "\r\n"; none when empty
  std::vector<std::uint32_t> disable_features;  // values for option 63
  int timeout_ms = 10000;
  std::u16string proxy;  // WinHttp proxy string; empty: direct
  std::u16string user, password, proxy_user, proxy_password;
  std::uint32_t read_chunk = 0;  // cap on each ReadData count (0: what is available)
};

enum class Stage { kCrackUrl, kOpen, kConnect, kOpenRequest, kOptions, kSend, kReceive, kDone };

struct ExchangeResult {
  Stage failed_at = Stage::kDone;  // kDone: nothing failed before the body
  std::string body;
  bool read_failed = false;
  bool headers_ok = false;
  std::string headers;  // the raw header block, UTF-8
  int status = 0;       // from position 10 of the header block
};

ExchangeResult RunExchange(web::Transport& transport, const ExchangeCall& call);

}  // namespace tavrolin::test
