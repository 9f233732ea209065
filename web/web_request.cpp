#include "web/web_request.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <memory>

#include "text/regex_object.h"
#include "text/text_ops.h"
#include "web/events.h"
#include "web/stages.h"
#include "web/transport.h"
#include "web/wide.h"

namespace tavrolin {
namespace {

using web::InternetHandle;
using web::Transport;

// Beyond this, seconds times 1000 no longer fits a signed 32-bit millisecond count.
constexpr std::int32_t kMaxTimeoutSeconds = std::numeric_limits<std::int32_t>::max() / 1000;
constexpr int kDefaultTimeoutMs = 30000;

struct DefaultHeader {
  const char* test;  // searched anywhere in the block so far
  bool ignore_case;
  const char* line;
};

// Appended in this order, each only when its test text is not yet in the block.
constexpr DefaultHeader kDefaultHeaders[] = {
    {"User-Agent: ", true,
     "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n"},
    {"Accept: ", true, "Accept: text/html, application/xhtml+xml, */*\r\n"},
    {"Accept-Encoding: ", true, "Accept-Encoding: gbk, GB2312\r\n"},
    {"Accept-Language: ", true, "Accept-Language: zh-cn\r\n"},
    {"Content-Type:", false, "Content-Type: application/x-www-form-urlencoded\r\n"},
    {"Cache-Control: ", true, "Cache-Control: no-cache\r\n"},
};

const char* VerbOf(std::int32_t method) {
  switch (method) {
    case kMethodPost:
      return "POST";
    case kMethodHead:
      return "HEAD";
    case kMethodPut:
      return "PUT";
    default:
      return "GET";
  }
}

Text HeaderBlock(const Text& extra_headers, const Text& send_cookies) {
  // The caller's lines get a "\r\n" even when they already end with one.
  Text block = Text_Length(extra_headers) > 0 ? Text_Concat(extra_headers, "\r\n") : Text();
  for (const DefaultHeader& row : kDefaultHeaders) {
    if (Text_Find(block, row.test, 1, row.ignore_case) == -1) {
      block = Text_Concat(std::move(block), {row.line});
    }
  }
  if (Text_Find(block, "Cookie: ", 1, true) == -1 && Text_Length(send_cookies) > 0) {
    block = Text_Concat(std::move(block), {"Cookie: ", send_cookies, "\r\n"});
  }
  return block;
}

// The request, connection and session of one call, closed in that order.
class Handles {
 public:
  explicit Handles(Transport& transport) : transport_(transport) {}
  Handles(const Handles&) = delete;
  Handles& operator=(const Handles&) = delete;
  ~Handles() { CloseAll(); }

  void CloseAll() {
    for (InternetHandle* handle : {&request, &connection, &session}) {
      if (*handle != 0) transport_.CloseHandle(std::exchange(*handle, 0));
    }
  }

  InternetHandle session = 0;
  InternetHandle connection = 0;
  InternetHandle request = 0;

 private:
  Transport& transport_;
};

// Each pass reads exactly what the service reports as available. A failed read
// keeps what came before and leaves "713" in status_text.
Bytes ReadBody(Transport& transport, InternetHandle request, Text& status_text) {
  Bytes body;
  for (;;) {
    std::uint32_t count = 0;
    if (!transport.QueryDataAvailable(request, count)) break;
    if (count < 1) break;
    // The pass buffer, `count` zero bytes, is the body's own tail, so the pass
    // is appended where it was read instead of being copied there.
    const std::size_t before = body.size();
    try {
      body.resize(before + count);
    } catch (const std::exception&) {
      // Out of memory ends the read like a failed one; the body so far stands.
      body.resize(before);
      status_text = web_status::k713;
      break;
    }
    std::uint32_t read = 0;
    if (!transport.ReadData(request, body.data() + before, count, read)) {
      body.resize(before);
      status_text = web_status::k713;
      break;
    }
    body.resize(before + std::min(read, count));  // Bytes_Left(pass, read)
  }
  return body;
}

// The raw header block as text; false when the service cannot give it.
bool QueryRawHeaders(Transport& transport, InternetHandle request, Text& header_text) {
  std::uint32_t size = 0;
  std::uint32_t index = 0;
  // Only learns the size: it fails for want of room.
  transport.QueryHeaders(request, web::kQueryRawHeadersCrlf, nullptr, size, index);
  Bytes buffer = Bytes_Blank(size);
  size = static_cast<std::uint32_t>(Bytes_Length(buffer));  // less only when memory ran out
  index = 0;
  if (!transport.QueryHeaders(request, web::kQueryRawHeadersCrlf, buffer.data(), size, index)) {
    return false;
  }
  header_text = Wide_ToText(buffer);
  return true;
}

}  // namespace

Text Web_Request(const Text& url, std::int32_t method, const Text& post_data,
                 const std::optional<Text>& send_cookies, Text* returned_cookies,
                 const Text& extra_headers, Text* returned_headers, bool no_redirect,
                 const Text& auth_user, const Text& auth_password, const Text& proxy,
                 const Text& proxy_user, const Text& proxy_password, std::int32_t timeout_seconds,
                 Text* returned_location, Text* status_text, Bytes* returned_bytes) {
  // Outputs the caller left out are written here and dropped.
  Text cookies_sink, headers_sink, location_sink, status_sink;
  Bytes body_sink;
  Text& cookies_out = returned_cookies ? *returned_cookies : cookies_sink;
  Text& headers_out = returned_headers ? *returned_headers : headers_sink;
  Text& location_out = returned_location ? *returned_location : location_sink;
  Text& status_out = status_text ? *status_text : status_sink;
  Bytes& bytes_out = returned_bytes ? *returned_bytes : body_sink;

  // 1. Prepare: the call's own pattern object, transport and handles.
  RegexObject regex;
  std::unique_ptr<Transport> transport = web::MakeTransport();
  Handles handles(*transport);

  // Every network stage entered, failed or not, is one event processing on the way out.
  int stages_entered = 0;
  auto leave = [&](Text result) {
    for (int i = 0; i < stages_entered; ++i) web::ProcessPendingEvents();
    handles.CloseAll();
    return result;
  };
  auto fail = [&](const char* message) {
    status_out = message;
    return leave(Text());
  };

  // 2. Platform check.
  if (!transport->CheckPlatform()) return fail(web_status::k700);

  // 3. Parse the address.
  ++stages_entered;
  web::UrlComponents parts;
  if (!transport->CrackUrl(web::ToWideString(url), parts)) return fail(web_status::k701);
  const Text host = web::FromWideString(parts.host);
  const std::uint16_t port = parts.port;
  const bool secure = parts.scheme == web::kSchemeHttps;
  const std::u16string object_name = parts.path.empty() ? u"/" : parts.path + parts.extra_info;

  // 4. Session.
  ++stages_entered;
  const bool use_proxy = Text_Length(proxy) > 0;
  const Text proxy_name = !use_proxy ? Text() : secure ? proxy : Text_Concat("http=", proxy);
  handles.session = transport->Open(use_proxy ? web::kAccessNamedProxy : web::kAccessNoProxy,
                                    web::ToWideString(proxy_name));
  if (handles.session == 0) return fail(web_status::k702);

  // 5. Connection.
  ++stages_entered;
  handles.connection = transport->Connect(handles.session, web::ToWideString(host), port);
  if (handles.connection == 0) return fail(web_status::k703);

  // 6. Request.
  ++stages_entered;
  handles.request = transport->OpenRequest(handles.connection, web::ToWideString(VerbOf(method)),
                                           object_name, secure ? web::kRequestFlagSecure : 0);
  if (handles.request == 0) return fail(web_status::k704);

  // 7. Time limits, one value for resolve, connect, send and receive.
  ++stages_entered;
  const int timeout_ms = timeout_seconds >= 1 ? std::min(timeout_seconds, kMaxTimeoutSeconds) * 1000
                                              : kDefaultTimeoutMs;
  if (!transport->SetTimeouts(handles.request, timeout_ms, timeout_ms, timeout_ms, timeout_ms)) {
    return fail(web_status::k705);
  }

  // 8. Request options. A refusal is an early exit: handles closed, no events.
  const web::OptionArgs options{
      auth_user, auth_password, proxy_user, proxy_password, send_cookies.has_value(), no_redirect};
  if (const char* refusal = web::ApplyRequestOptions(*transport, handles.request, options)) {
    status_out = refusal;
    handles.CloseAll();
    return Text();
  }

  // 9. Header block.
  const Text header_block = HeaderBlock(extra_headers, send_cookies.value_or(Text()));

  // 10. Add the headers, replacing any of the same name.
  ++stages_entered;
  if (!transport->AddRequestHeaders(handles.request, web::ToWideString(header_block),
                                    web::kAddHeaderReplace)) {
    return fail(web_status::k710);
  }

  // 11. Send, with the body whatever the method.
  ++stages_entered;
  const Bytes body = Text_ToBytes(post_data);
  const auto body_length = static_cast<std::uint32_t>(
      std::min<Int>(Bytes_Length(body), std::numeric_limits<std::uint32_t>::max()));
  if (static_cast<Int>(body_length) != Bytes_Length(body) ||
      !transport->SendRequest(handles.request, body.empty() ? nullptr : body.data(), body_length,
                              body_length)) {
    return fail(web_status::k711);
  }

  // 12. Wait for the response.
  ++stages_entered;
  if (!transport->ReceiveResponse(handles.request)) return fail(web_status::k712);

  // 13. Read the body.
  Bytes response_body = ReadBody(*transport, handles.request, status_out);

  // 14. Raw headers. Without them the body is dropped and the result is empty.
  Text header_text;
  if (!QueryRawHeaders(*transport, handles.request, header_text)) {
    web::ProcessPendingEvents();  // 18.
    return leave(Text());
  }
  headers_out = header_text;

  // 15. Response headers: status text, Set-Cookie spelling, cookies, Location.
  web::ReadResponseHeaders(header_text, {status_out, headers_out, cookies_out, location_out});

  // 16. Body out; the page text is its bytes up to the first NUL. When the
  // caller takes no bytes and the body holds no NUL, the body becomes the page
  // text itself rather than being copied into it.
  const bool body_is_page =
      returned_bytes == nullptr && response_body.view().find('\0') == std::string_view::npos;
  Text page_text;
  if (body_is_page) {
    page_text = Bytes_ToText(std::move(response_body));
  } else {
    bytes_out = std::move(response_body);
    page_text = Bytes_ToText(bytes_out);
  }

  // 17. Re-decode by the charset the page declares.
  page_text = body_is_page ? web::DecodePage(regex, std::move(page_text))
                           : web::DecodePage(regex, bytes_out, std::move(page_text));

  // 18. Close the response handling.
  web::ProcessPendingEvents();

  // 19. Leave.
  return leave(std::move(page_text));
}

}  // namespace tavrolin
