#include "tests/support/transport_driver.h"

#include <cstdlib>

#include "tests/support/loopback_server.h"

namespace tavrolin::test {
namespace {

std::u16string Utf8To16(const std::string& s) {
  std::u16string out;
  for (std::size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    std::uint32_t c = b;
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    if (extra > 0) c = b & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < s.size(); ++k) {
      c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    i += static_cast<std::size_t>(extra) + 1;
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

}  // namespace

ExchangeResult RunExchange(web::Transport& t, const ExchangeCall& call) {
  ExchangeResult result;
  web::UrlComponents parts;
  if (!t.CrackUrl(Utf8To16(call.url), parts)) {
    result.failed_at = Stage::kCrackUrl;
    return result;
  }
  web::InternetHandle session =
      t.Open(call.proxy.empty() ? web::kAccessNoProxy : web::kAccessNamedProxy, call.proxy);
  if (session == 0) {
    result.failed_at = Stage::kOpen;
    return result;
  }
  web::InternetHandle connection = t.Connect(session, parts.host, parts.port);
  web::InternetHandle request = 0;
  std::u16string object = parts.path.empty() ? u"/" : parts.path + parts.extra_info;
  if (connection != 0) {
    request = t.OpenRequest(connection, call.verb, object,
                            parts.scheme == web::kSchemeHttps ? web::kRequestFlagSecure : 0);
  }
  auto close_all = [&] {
    if (request != 0) t.CloseHandle(request);
    if (connection != 0) t.CloseHandle(connection);
    t.CloseHandle(session);
  };
  if (connection == 0 || request == 0) {
    result.failed_at = connection == 0 ? Stage::kConnect : Stage::kOpenRequest;
    close_all();
    return result;
  }
  bool options_ok =
      t.SetTimeouts(request, call.timeout_ms, call.timeout_ms, call.timeout_ms, call.timeout_ms);
  if (!call.user.empty()) {
    options_ok = options_ok && t.SetCredentials(request, web::kAuthTargetServer,
                                                web::kAuthSchemeBasic, call.user, call.password);
  }
  if (!call.proxy_user.empty()) {
    options_ok =
        options_ok && t.SetCredentials(request, web::kAuthTargetProxy, web::kAuthSchemeBasic,
                                       call.proxy_user, call.proxy_password);
  }
  for (std::uint32_t value : call.disable_features) {
    options_ok = options_ok && t.SetOption(request, web::kOptionDisableFeature, value);
  }
  if (!call.headers.empty()) {
    options_ok = options_ok && t.AddRequestHeaders(request, call.headers, web::kAddHeaderReplace);
  }
  if (!options_ok) {
    result.failed_at = Stage::kOptions;
    close_all();
    return result;
  }
  auto length = static_cast<std::uint32_t>(call.body.size());
  if (!t.SendRequest(request, call.body.empty() ? nullptr : call.body.data(), length, length)) {
    result.failed_at = Stage::kSend;
    close_all();
    return result;
  }
  if (!t.ReceiveResponse(request)) {
    result.failed_at = Stage::kReceive;
    close_all();
    return result;
  }
  for (;;) {
    std::uint32_t available = 0;
    if (!t.QueryDataAvailable(request, available) || available < 1) break;
    if (call.read_chunk > 0 && available > call.read_chunk) available = call.read_chunk;
    std::string buffer(available, '\0');
    std::uint32_t read = 0;
    if (!t.ReadData(request, buffer.data(), available, read)) {
      result.read_failed = true;
      break;
    }
    result.body.append(buffer.data(), read);
  }
  std::uint32_t size = 0, index = 0;
  t.QueryHeaders(request, web::kQueryRawHeadersCrlf, nullptr, size, index);
  std::u16string block(size / 2, u'\0');
  index = 0;
  if (size > 0 && t.QueryHeaders(request, web::kQueryRawHeadersCrlf, block.data(), size, index)) {
    result.headers_ok = true;
    block.resize(block.find(u'\0') == std::u16string::npos ? block.size() : block.find(u'\0'));
    result.headers = FromU16(block);
    if (result.headers.size() > 12) result.status = std::atoi(result.headers.c_str() + 9);
  }
  close_all();
  return result;
}

}  // namespace tavrolin::test
