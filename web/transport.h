// The HTTP service Web_Request talks to, shaped like the WinHttp operations it
// uses: the same steps, the same failure points, UTF-16 strings in and out.
// transport_curl.cpp implements it on libcurl; the tests script a fake.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tavrolin::web {

// An open session, connection or request; 0 means none.
using InternetHandle = std::uintptr_t;

inline constexpr int kSchemeHttp = 1;
inline constexpr int kSchemeHttps = 2;

inline constexpr std::uint32_t kAccessNoProxy = 1;
inline constexpr std::uint32_t kAccessNamedProxy = 3;
inline constexpr std::uint32_t kRequestFlagSecure = 0x00800000;
inline constexpr std::uint32_t kAddHeaderReplace = 0xA0000000;  // add | replace
inline constexpr std::uint32_t kQueryRawHeadersCrlf = 22;

inline constexpr std::uint32_t kAuthTargetServer = 0;
inline constexpr std::uint32_t kAuthTargetProxy = 1;
inline constexpr std::uint32_t kAuthSchemeBasic = 1;
inline constexpr std::uint32_t kOptionDisableFeature = 63;
inline constexpr std::uint32_t kDisableCookies = 1;
inline constexpr std::uint32_t kDisableRedirects = 2;

struct UrlComponents {
  int scheme = 0;  // kSchemeHttp or kSchemeHttps
  std::u16string host;
  std::uint16_t port = 0;
  std::u16string path;        // "/a/b", may be empty
  std::u16string extra_info;  // "?q=1", with its question mark, may be empty
};

class Transport {
 public:
  virtual ~Transport() = default;

  virtual bool CheckPlatform() = 0;
  virtual bool CrackUrl(std::u16string_view url, UrlComponents& parts) = 0;
  virtual InternetHandle Open(std::uint32_t access_type, std::u16string_view proxy_name) = 0;
  virtual InternetHandle Connect(InternetHandle session, std::u16string_view host,
                                 std::uint16_t port) = 0;
  virtual InternetHandle OpenRequest(InternetHandle connection, std::u16string_view verb,
                                     std::u16string_view object_name, std::uint32_t flags) = 0;
  virtual bool SetTimeouts(InternetHandle request, int resolve_ms, int connect_ms, int send_ms,
                           int receive_ms) = 0;
  virtual bool SetCredentials(InternetHandle request, std::uint32_t target, std::uint32_t scheme,
                              std::u16string_view user, std::u16string_view password) = 0;
  virtual bool SetOption(InternetHandle request, std::uint32_t option, std::uint32_t value) = 0;
  // `headers`: lines each ended by "\r\n".
  virtual bool AddRequestHeaders(InternetHandle request, std::u16string_view headers,
                                 std::uint32_t modifiers) = 0;
  virtual bool SendRequest(InternetHandle request, const void* body, std::uint32_t length,
                           std::uint32_t total_length) = 0;
  virtual bool ReceiveResponse(InternetHandle request) = 0;
  // `count`: body bytes readable now; 0 once the body is complete.
  virtual bool QueryDataAvailable(InternetHandle request, std::uint32_t& count) = 0;
  virtual bool ReadData(InternetHandle request, void* buffer, std::uint32_t count,
                        std::uint32_t& read) = 0;
  // With a buffer too small (size_bytes 0) it fails and sets size_bytes to what
  // the UTF-16 block with its NUL needs; with room it fills the buffer.
  virtual bool QueryHeaders(InternetHandle request, std::uint32_t info_level, void* buffer,
                            std::uint32_t& size_bytes, std::uint32_t& index) = 0;
  virtual void CloseHandle(InternetHandle handle) = 0;
};

// Platform hook: how each Web_Request call gets a transport of its own. Left
// unset (or set to an empty function) it is the libcurl transport.
using TransportFactory = std::function<std::unique_ptr<Transport>()>;
void SetTransportFactory(TransportFactory factory);
std::unique_ptr<Transport> MakeTransport();

}  // namespace tavrolin::web
