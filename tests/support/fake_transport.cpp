#include "tests/support/fake_transport.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "text/cp936.h"
#include "web/events.h"

namespace tavrolin::test {
namespace {

constexpr web::InternetHandle kSession = 1;
constexpr web::InternetHandle kConnection = 2;
constexpr web::InternetHandle kRequest = 3;

std::string Narrow(std::u16string_view units) { return cp936::FromUtf16(units); }

}  // namespace

std::vector<std::string> FakeState::Calls(const std::string& prefix) const {
  std::vector<std::string> found;
  for (const std::string& entry : journal) {
    if (entry.rfind(prefix, 0) == 0) found.push_back(entry);
  }
  return found;
}

int FakeState::Count(const std::string& entry) const {
  int n = 0;
  for (const std::string& e : journal) n += e == entry;
  return n;
}

bool FakeTransport::Fails(const std::string& op) { return state_.script.fail.count(op) > 0; }

bool FakeTransport::CheckPlatform() {
  Log("CheckPlatform");
  return !Fails("CheckPlatform");
}

bool FakeTransport::CrackUrl(std::u16string_view url, web::UrlComponents& parts) {
  Log("CrackUrl(" + Narrow(url) + ")");
  if (Fails("CrackUrl")) return false;
  // Just enough of a parser for the tests: scheme://host[:port][path][?extra]
  const std::u16string_view http = u"http://", https = u"https://";
  std::u16string_view rest;
  if (url.substr(0, http.size()) == http) {
    parts.scheme = web::kSchemeHttp;
    parts.port = 80;
    rest = url.substr(http.size());
  } else if (url.substr(0, https.size()) == https) {
    parts.scheme = web::kSchemeHttps;
    parts.port = 443;
    rest = url.substr(https.size());
  } else {
    return false;
  }
  std::size_t host_end = rest.find_first_of(u":/?");
  parts.host = std::u16string(rest.substr(0, host_end));
  if (parts.host.empty()) return false;
  rest = host_end == std::u16string_view::npos ? u"" : rest.substr(host_end);
  if (!rest.empty() && rest[0] == u':') {
    std::size_t port_end = rest.find_first_of(u"/?");
    std::u16string digits(rest.substr(1, port_end == std::u16string_view::npos ? rest.npos
                                                                                : port_end - 1));
    parts.port = static_cast<std::uint16_t>(std::stoi(Narrow(digits)));
    rest = port_end == std::u16string_view::npos ? u"" : rest.substr(port_end);
  }
  std::size_t query = rest.find(u'?');
  parts.path = std::u16string(rest.substr(0, query));
  parts.extra_info = query == std::u16string_view::npos ? u"" : std::u16string(rest.substr(query));
  return true;
}

web::InternetHandle FakeTransport::Open(std::uint32_t access_type,
                                        std::u16string_view proxy_name) {
  Log("Open(" + std::to_string(access_type) + "," + Narrow(proxy_name) + ")");
  return Fails("Open") ? 0 : kSession;
}

web::InternetHandle FakeTransport::Connect(web::InternetHandle session, std::u16string_view host,
                                           std::uint16_t port) {
  Log("Connect(" + std::to_string(session) + "," + Narrow(host) + "," + std::to_string(port) +
      ")");
  return Fails("Connect") ? 0 : kConnection;
}

web::InternetHandle FakeTransport::OpenRequest(web::InternetHandle connection,
                                               std::u16string_view verb,
                                               std::u16string_view object_name,
                                               std::uint32_t flags) {
  Log("OpenRequest(" + std::to_string(connection) + "," + Narrow(verb) + "," +
      Narrow(object_name) + "," + std::to_string(flags) + ")");
  return Fails("OpenRequest") ? 0 : kRequest;
}

bool FakeTransport::SetTimeouts(web::InternetHandle request, int resolve_ms, int connect_ms,
                                int send_ms, int receive_ms) {
  Log("SetTimeouts(" + std::to_string(request) + "," + std::to_string(resolve_ms) + "," +
      std::to_string(connect_ms) + "," + std::to_string(send_ms) + "," +
      std::to_string(receive_ms) + ")");
  return !Fails("SetTimeouts");
}

bool FakeTransport::SetCredentials(web::InternetHandle request, std::uint32_t target,
                                   std::uint32_t scheme, std::u16string_view user,
                                   std::u16string_view password) {
  Log("SetCredentials(" + std::to_string(request) + "," + std::to_string(target) + "," +
      std::to_string(scheme) + "," + Narrow(user) + "," + Narrow(password) + ")");
  return !Fails("SetCredentials") && !Fails("SetCredentials:" + std::to_string(target));
}

bool FakeTransport::SetOption(web::InternetHandle request, std::uint32_t option,
                              std::uint32_t value) {
  Log("SetOption(" + std::to_string(request) + "," + std::to_string(option) + "," +
      std::to_string(value) + ")");
  return !Fails("SetOption") && !Fails("SetOption:" + std::to_string(value));
}

bool FakeTransport::AddRequestHeaders(web::InternetHandle request, std::u16string_view headers,
                                      std::uint32_t modifiers) {
  Log("AddRequestHeaders(" + std::to_string(request) + "," + Narrow(headers) + "," +
      std::to_string(modifiers) + ")");
  return !Fails("AddRequestHeaders");
}

bool FakeTransport::SendRequest(web::InternetHandle request, const void* body,
                                std::uint32_t length, std::uint32_t total_length) {
  std::string bytes = body ? std::string(static_cast<const char*>(body), length) : "(none)";
  Log("SendRequest(" + std::to_string(request) + "," + bytes + "," + std::to_string(length) + "," +
      std::to_string(total_length) + ")");
  return !Fails("SendRequest");
}

bool FakeTransport::ReceiveResponse(web::InternetHandle request) {
  Log("ReceiveResponse(" + std::to_string(request) + ")");
  return !Fails("ReceiveResponse");
}

bool FakeTransport::QueryDataAvailable(web::InternetHandle request, std::uint32_t& count) {
  Log("QueryDataAvailable(" + std::to_string(request) + ")");
  if (Fails("QueryDataAvailable")) return false;
  const auto& chunks = state_.script.body_chunks;
  const auto pass = static_cast<std::size_t>(state_.read_passes);
  // A chunk of "" still reports one byte, so the pass happens and reads nothing.
  count = pass < chunks.size() ? std::max<std::uint32_t>(1, static_cast<std::uint32_t>(chunks[pass].size())) : 0;
  return true;
}

bool FakeTransport::ReadData(web::InternetHandle request, void* buffer, std::uint32_t count,
                             std::uint32_t& read) {
  const std::string& chunk = state_.script.body_chunks.at(state_.read_passes++);
  Log("ReadData(" + std::to_string(request) + "," + std::to_string(count) + ")");
  if (Fails("ReadData") && state_.read_passes == state_.script.fail_pass) return false;
  read = static_cast<std::uint32_t>(std::min<std::size_t>(chunk.size(), count));
  std::memcpy(buffer, chunk.data(), read);
  return true;
}

bool FakeTransport::QueryHeaders(web::InternetHandle request, std::uint32_t info_level,
                                 void* buffer, std::uint32_t& size_bytes, std::uint32_t& index) {
  Log("QueryHeaders(" + std::to_string(request) + "," + std::to_string(info_level) + "," +
      std::to_string(size_bytes) + "," + std::to_string(index) + ")");
  const std::u16string& block = state_.script.raw_headers;
  const auto needed = static_cast<std::uint32_t>((block.size() + 1) * 2);
  if (buffer == nullptr || size_bytes < needed) {
    size_bytes = needed;
    return false;
  }
  if (Fails("QueryHeaders")) return false;
  std::memcpy(buffer, block.c_str(), needed);
  size_bytes = needed - 2;
  return true;
}

void FakeTransport::CloseHandle(web::InternetHandle handle) {
  Log("CloseHandle(" + std::to_string(handle) + ")");
}

void FakeTransportTest::SetUp() {
  web::SetTransportFactory([this] { return std::make_unique<FakeTransport>(fake); });
  web::SetPendingEventsHook([this] { fake.journal.push_back("events"); });
}

void FakeTransportTest::TearDown() {
  web::SetTransportFactory({});
  web::SetPendingEventsHook({});
}

}  // namespace tavrolin::test
