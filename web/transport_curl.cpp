// The WinHttp-shaped transport on libcurl's multi interface. Each request
// drives its own easy handle step by step, so the stages fail where WinHttp's
// do: connecting and sending at SendRequest, a missing or non-HTTP response at
// ReceiveResponse, a short or stalled body at ReadData. Redirects are followed
// here rather than by curl, to keep WinHttp's rules (no https -> http, the 3xx
// returned when following is off, credentials kept to the first host).
#include "web/transport_curl.h"

#include <curl/curl.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "text/cp936.h"

namespace tavrolin::web {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxRedirects = 10;
constexpr long kBufferSize = 256 * 1024;
// Unread body bytes held before curl is paused: a few buffers' worth.
constexpr std::size_t kPendingLimit = 4 * kBufferSize;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char16_t LowerAscii16(char16_t c) { return (c >= u'A' && c <= u'Z') ? c - u'A' + u'a' : c; }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(x) == LowerAscii(y);
         });
}

bool StartsWithIgnoreCase(std::u16string_view s, std::u16string_view prefix) {
  return s.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), s.begin(),
                    [](char16_t x, char16_t y) { return LowerAscii16(x) == LowerAscii16(y); });
}

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view s) {
  std::string out(s.size() * 3, '\0');
  int32_t n = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &n, s.data(),
                     static_cast<int32_t>(s.size()), 0xFFFD, nullptr, &status);
  out.resize(U_SUCCESS(status) ? static_cast<std::size_t>(n) : 0);
  return out;
}

// Strict UTF-8 to UTF-16; nullopt when `s` is not valid UTF-8.
std::optional<std::u16string> FromUtf8(std::string_view s) {
  std::u16string out(s.size(), u'\0');
  int32_t n = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8(out.data(), static_cast<int32_t>(out.size()), &n, s.data(),
                static_cast<int32_t>(s.size()), &status);
  if (U_FAILURE(status)) return std::nullopt;
  out.resize(static_cast<std::size_t>(n));
  return out;
}

// Header bytes as the caller's UTF-16: UTF-8 when they are, else code page 936
// (what servers for this program's pages send when they do not use UTF-8).
std::u16string HeaderBytesToUtf16(std::string_view bytes) {
  if (auto utf16 = FromUtf8(bytes)) return *std::move(utf16);
  return cp936::ToUtf16(bytes);
}

// Blanks, control characters and non-ASCII characters percent-encoded as UTF-8,
// as browsers send them; everything else, '%' included, is left as it is.
std::u16string PercentEncode(std::u16string_view s) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::u16string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i];
    if (c > 0x20 && c < 0x7F) {
      out += c;
      continue;
    }
    std::size_t n = (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size()) ? 2 : 1;
    for (char byte : ToUtf8(s.substr(i, n))) {
      auto b = static_cast<unsigned char>(byte);
      out += u'%';
      out += static_cast<char16_t>(kHex[b >> 4]);
      out += static_cast<char16_t>(kHex[b & 0xF]);
    }
    i += n - 1;
  }
  return out;
}

// The WinHttp proxy string: entries separated by ';' or blanks, each
// "[scheme=][http://]host[:port]"; a plain entry serves every scheme.
struct ProxyList {
  std::optional<std::string> http, https, any;

  const std::optional<std::string>& For(bool secure) const {
    const std::optional<std::string>& specific = secure ? https : http;
    return specific ? specific : any;
  }
};

std::optional<ProxyList> ParseProxyList(std::u16string_view text) {
  ProxyList list;
  std::string s = ToUtf8(text);
  std::size_t pos = 0;
  bool any_entry = false;
  while (pos < s.size()) {
    std::size_t end = s.find_first_of("; \t\r\n", pos);
    if (end == std::string::npos) end = s.size();
    std::string entry = s.substr(pos, end - pos);
    pos = end + 1;
    if (entry.empty()) continue;
    std::optional<std::string>* slot = &list.any;
    if (std::size_t eq = entry.find('='); eq != std::string::npos) {
      std::string scheme = entry.substr(0, eq);
      std::transform(scheme.begin(), scheme.end(), scheme.begin(), LowerAscii);
      entry.erase(0, eq + 1);
      if (scheme == "http") {
        slot = &list.http;
      } else if (scheme == "https") {
        slot = &list.https;
      } else {
        any_entry = true;  // other schemes (ftp=, socks=) serve nothing we send
        continue;
      }
    }
    if (std::size_t sep = entry.find("://"); sep != std::string::npos) entry.erase(0, sep + 3);
    while (!entry.empty() && entry.back() == '/') entry.pop_back();
    if (entry.empty()) continue;
    if (!slot->has_value()) *slot = entry;
    any_entry = true;
  }
  if (!any_entry) return std::nullopt;
  return list;
}

struct CurlEasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct CurlMultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct CurlSlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyPtr = std::unique_ptr<CURL, CurlEasyDeleter>;
using MultiPtr = std::unique_ptr<CURLM, CurlMultiDeleter>;
using SlistPtr = std::unique_ptr<curl_slist, CurlSlistDeleter>;

struct Session {
  std::optional<ProxyList> proxies;  // nullopt: direct
};

struct Connection {
  Session session;
  std::string host;  // UTF-8
  std::uint16_t port = 0;
};

struct Credentials {
  std::string user, password;
};

// One request: its settings, its curl handles and where the exchange stands.
class Request {
 public:
  Request(const Connection& connection, std::string verb, std::string object, bool secure,
          const CurlTransportOptions& options)
      : connection_(connection),
        verb_(std::move(verb)),
        object_(std::move(object)),
        secure_(secure),
        options_(options) {}

  ~Request() {
    if (in_multi_) curl_multi_remove_handle(multi_.get(), easy_.get());
    // The easy handle goes before the multi handle (member order), as curl wants.
    easy_.reset();
  }

  void SetTimeouts(int resolve_ms, int connect_ms, int send_ms, int receive_ms) {
    auto positive = [](int ms) { return ms > 0 ? static_cast<long>(ms) : 0L; };
    connect_limit_ms_ = positive(resolve_ms) + positive(connect_ms);
    long send = positive(send_ms), receive = positive(receive_ms);
    stall_limit_ms_ = std::max(send, receive);
  }
  void SetServerCredentials(Credentials c) { server_credentials_ = std::move(c); }
  void SetProxyCredentials(Credentials c) { proxy_credentials_ = std::move(c); }
  void DisableCookies() { cookies_ = false; }
  void DisableRedirects() { redirects_ = false; }

  // Each line sets its header; a later line of the same name replaces an
  // earlier one (WinHttp's add | replace).
  bool AddHeaders(std::u16string_view block) {
    std::string text = ToUtf8(block);
    std::size_t pos = 0;
    while (pos < text.size()) {
      std::size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(pos, end - pos);
      pos = end + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      std::size_t colon = line.find(':');
      if (colon == 0 || colon == std::string::npos) return false;
      std::string name = line.substr(0, colon);
      auto same = std::find_if(headers_.begin(), headers_.end(), [&](const std::string& h) {
        return EqualsIgnoreCase(std::string_view(h).substr(0, h.find(':')), name);
      });
      if (same != headers_.end()) {
        *same = line;
      } else {
        headers_.push_back(line);
      }
    }
    return true;
  }

  bool Send(const void* body, std::uint32_t length) {
    if (sent_) return false;
    sent_ = true;
    if (length > 0) {
      if (body == nullptr) return false;
      body_.assign(static_cast<const char*>(body), length);
      has_body_ = true;
    }
    multi_.reset(curl_multi_init());
    easy_.reset(curl_easy_init());
    if (!multi_ || !easy_) return false;
    url_ = std::string(secure_ ? "https://" : "http://") + HostForUrl() + ":" +
           std::to_string(connection_.port) + object_;
    if (!Configure()) return false;
    if (!Start()) return false;
    // Connected, or answered already, or failed.
    Drive([this] { return Connected() || header_bytes_ > 0; });
    // Resolving, connecting, the TLS handshake and sending fail here; anything
    // later is the response's to report.
    bool answered = have_final_headers_ || follow_pending_ || header_bytes_ > 0;
    return !(done_ && result_ != CURLE_OK && !answered &&
             (!Connected() || result_ == CURLE_SEND_ERROR));
  }

  bool Receive() {
    if (!sent_ || !easy_) return false;
    Drive([this] { return have_final_headers_; });
    if (!have_final_headers_) return false;
    response_ready_ = true;
    // HEAD ends with its headers, whatever the server sends or withholds after them.
    if (head_complete_ && !done_) Finish(CURLE_OK);
    return true;
  }

  // What can be read now; 1 for a failed body, so that the read reports it.
  bool Available(std::uint32_t& count) {
    if (!response_ready_) return false;
    if (pending_offset_ >= pending_.size() && !BodyEnded()) FillPending();
    if (pending_offset_ < pending_.size()) {
      count = static_cast<std::uint32_t>(
          std::min<std::size_t>(pending_.size() - pending_offset_, UINT32_MAX));
    } else {
      count = BodyFailed() ? 1 : 0;
    }
    return true;
  }

  bool Read(void* buffer, std::uint32_t count, std::uint32_t& read) {
    read = 0;
    if (!response_ready_) return false;
    if (pending_offset_ >= pending_.size() && !BodyEnded()) FillPending();
    if (pending_offset_ < pending_.size()) {
      std::size_t n = std::min<std::size_t>(count, pending_.size() - pending_offset_);
      if (n > 0) {
        if (buffer == nullptr) return false;
        std::memcpy(buffer, pending_.data() + pending_offset_, n);
      }
      pending_offset_ += n;
      read = static_cast<std::uint32_t>(n);
      if (pending_offset_ >= pending_.size()) {
        pending_.clear();
        pending_offset_ = 0;
      }
      return true;
    }
    return !BodyFailed();
  }

  bool RawHeaders(void* buffer, std::uint32_t& size_bytes) {
    if (!response_ready_) return false;
    std::u16string wide = HeaderBytesToUtf16(final_headers_);
    std::size_t needed = (wide.size() + 1) * sizeof(char16_t);
    if (buffer == nullptr || size_bytes < needed) {
      size_bytes = static_cast<std::uint32_t>(needed);
      return false;
    }
    std::memcpy(buffer, wide.c_str(), needed);
    size_bytes = static_cast<std::uint32_t>(needed - sizeof(char16_t));
    return true;
  }

 private:
  std::string HostForUrl() const {
    const std::string& h = connection_.host;
    if (h.find(':') != std::string::npos && h.front() != '[') return "[" + h + "]";
    return h;
  }

  bool Configure() {
    CURL* e = easy_.get();
    bool ok = true;
    auto set = [&ok](CURLcode code) { ok = ok && code == CURLE_OK; };
    set(curl_easy_setopt(e, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1));
    set(curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L));
    set(curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L));
    set(curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kBufferSize));
    set(curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Request::OnHeader));
    set(curl_easy_setopt(e, CURLOPT_HEADERDATA, this));
    set(curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Request::OnBody));
    set(curl_easy_setopt(e, CURLOPT_WRITEDATA, this));
    // Bodies as they arrive, with no decoding of our own: callers see the bytes.
    set(curl_easy_setopt(e, CURLOPT_HTTP_CONTENT_DECODING, 0L));
    set(curl_easy_setopt(e, CURLOPT_HTTP_TRANSFER_DECODING, 1L));
    set(curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L));
    set(curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L));
    if (!options_.extra_ca_file.empty()) {
      set(curl_easy_setopt(e, CURLOPT_CAINFO, options_.extra_ca_file.c_str()));
      set(curl_easy_setopt(e, CURLOPT_CAPATH, "/etc/ssl/certs"));
    }
    if (connect_limit_ms_ > 0) {
      set(curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, connect_limit_ms_));
    }
    // Proxies come from the session only, never from the environment.
    const std::optional<std::string>* proxy = nullptr;
    if (connection_.session.proxies) proxy = &connection_.session.proxies->For(secure_);
    if (proxy != nullptr && proxy->has_value()) {
      std::string proxy_url = "http://" + **proxy;
      set(curl_easy_setopt(e, CURLOPT_PROXY, proxy_url.c_str()));
      set(curl_easy_setopt(e, CURLOPT_NOPROXY, ""));
      if (!proxy_credentials_.user.empty()) {
        set(curl_easy_setopt(e, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC)));
        set(curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, proxy_credentials_.user.c_str()));
        set(curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, proxy_credentials_.password.c_str()));
      }
    } else {
      set(curl_easy_setopt(e, CURLOPT_PROXY, ""));
    }
    if (cookies_) set(curl_easy_setopt(e, CURLOPT_COOKIEFILE, ""));
    // The caller's lines as given; curl's own defaults removed unless the caller set them.
    SlistPtr list;
    auto append = [&list, &ok](const std::string& line) {
      curl_slist* next = curl_slist_append(list.get(), line.c_str());
      if (next == nullptr) {
        ok = false;
        return;
      }
      (void)list.release();
      list.reset(next);
    };
    auto caller_has = [this](std::string_view name) {
      return std::any_of(headers_.begin(), headers_.end(), [&](const std::string& h) {
        return EqualsIgnoreCase(std::string_view(h).substr(0, h.find(':')), name);
      });
    };
    for (const std::string& h : headers_) {
      std::size_t colon = h.find(':');
      std::string_view value = std::string_view(h).substr(colon + 1);
      bool blank = value.find_first_not_of(" \t") == std::string_view::npos;
      // "Name;" is curl's spelling of a header sent with an empty value.
      append(blank ? h.substr(0, colon) + ";" : h);
    }
    for (const char* name : {"Accept", "Expect", "Content-Type", "Transfer-Encoding"}) {
      if (!caller_has(name)) append(std::string(name) + ":");
    }
    header_list_ = std::move(list);
    set(curl_easy_setopt(e, CURLOPT_HTTPHEADER, header_list_.get()));
    set(curl_easy_setopt(e, CURLOPT_PROXYHEADER, nullptr));
    set(curl_easy_setopt(e, CURLOPT_HEADEROPT, CURLHEADER_SEPARATE));
    return ok && ApplyRequestSettings();
  }

  // The settings that change from one hop of a redirect chain to the next.
  bool ApplyRequestSettings() {
    CURL* e = easy_.get();
    bool ok = true;
    auto set = [&ok](CURLcode code) { ok = ok && code == CURLE_OK; };
    set(curl_easy_setopt(e, CURLOPT_URL, url_.c_str()));
    bool head = verb_ == "HEAD";
    if (has_body_) {
      set(curl_easy_setopt(e, CURLOPT_NOBODY, 0L));
      set(curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size())));
      set(curl_easy_setopt(e, CURLOPT_POSTFIELDS, body_.data()));
      set(curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, verb_ == "POST" ? nullptr : verb_.c_str()));
    } else if (verb_ == "POST") {
      set(curl_easy_setopt(e, CURLOPT_NOBODY, 0L));
      set(curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0)));
      set(curl_easy_setopt(e, CURLOPT_POSTFIELDS, ""));
      set(curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, nullptr));
    } else if (head) {
      set(curl_easy_setopt(e, CURLOPT_NOBODY, 1L));
      set(curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, nullptr));
    } else {
      set(curl_easy_setopt(e, CURLOPT_HTTPGET, 1L));
      set(curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, verb_ == "GET" ? nullptr : verb_.c_str()));
    }
    if (server_credentials_ && !server_credentials_->user.empty()) {
      set(curl_easy_setopt(e, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC)));
      set(curl_easy_setopt(e, CURLOPT_USERNAME, server_credentials_->user.c_str()));
      set(curl_easy_setopt(e, CURLOPT_PASSWORD, server_credentials_->password.c_str()));
    } else {
      set(curl_easy_setopt(e, CURLOPT_USERNAME, nullptr));
      set(curl_easy_setopt(e, CURLOPT_PASSWORD, nullptr));
    }
    return ok;
  }

  bool Start() {
    done_ = false;
    result_ = CURLE_OK;
    header_block_.clear();
    header_bytes_ = 0;
    follow_pending_ = false;
    have_final_headers_ = false;
    last_progress_ = -1;
    last_activity_ = Clock::now();
    if (curl_multi_add_handle(multi_.get(), easy_.get()) != CURLM_OK) return false;
    in_multi_ = true;
    return true;
  }

  bool Connected() const {
    curl_off_t pretransfer = 0;
    curl_easy_getinfo(easy_.get(), CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
    return pretransfer > 0;
  }

  bool BodyEnded() const { return head_complete_ || (done_ && !follow_pending_); }
  bool BodyFailed() const { return !head_complete_ && done_ && result_ != CURLE_OK; }

  // Runs the transfer until `until()` holds or it ends; follows redirects on the way.
  template <typename Predicate>
  void Drive(Predicate until) {
    for (;;) {
      if (until()) return;
      if (done_) {
        if (!follow_pending_ || !FollowRedirect()) return;
        continue;
      }
      int running = 0;
      if (curl_multi_perform(multi_.get(), &running) != CURLM_OK) {
        Finish(CURLE_OUT_OF_MEMORY);
        return;
      }
      int queued = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi_.get(), &queued)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy_.get()) Finish(msg->data.result);
      }
      if (done_ || until()) continue;
      if (paused_) return;  // the caller has not read what is pending yet
      int wait_ms = 1000;
      if (stall_limit_ms_ > 0 && Connected()) {
        curl_off_t up = 0, down = 0;
        curl_easy_getinfo(easy_.get(), CURLINFO_SIZE_UPLOAD_T, &up);
        curl_easy_getinfo(easy_.get(), CURLINFO_SIZE_DOWNLOAD_T, &down);
        curl_off_t progress = up + down + header_bytes_;
        auto now = Clock::now();
        if (progress != last_progress_) {
          last_progress_ = progress;
          last_activity_ = now;
        }
        auto idle =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - last_activity_).count();
        if (idle >= stall_limit_ms_) {
          Finish(CURLE_OPERATION_TIMEDOUT);
          continue;
        }
        wait_ms = static_cast<int>(std::min<long>(wait_ms, stall_limit_ms_ - idle));
      }
      curl_multi_poll(multi_.get(), nullptr, 0, std::max(wait_ms, 1), nullptr);
    }
  }

  void Finish(CURLcode result) {
    done_ = true;
    result_ = result;
    if (in_multi_) {
      curl_multi_remove_handle(multi_.get(), easy_.get());
      in_multi_ = false;
    }
    paused_ = false;
  }

  bool FollowRedirect() {
    if (++redirects_followed_ > kMaxRedirects) return false;
    std::string next = follow_url_;
    int status = follow_status_;
    if (verb_ == "POST" ? (status == 301 || status == 302 || status == 303)
                        : (status == 303 && verb_ != "HEAD")) {
      verb_ = "GET";
      has_body_ = false;
      body_.clear();
    }
    // Server credentials stay with the first host.
    CURLU* parsed = curl_url();
    char* host = nullptr;
    if (parsed != nullptr && curl_url_set(parsed, CURLUPART_URL, next.c_str(), 0) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
      if (!EqualsIgnoreCase(host, connection_.host) && !EqualsIgnoreCase(host, HostForUrl())) {
        server_credentials_.reset();
      }
    } else {
      server_credentials_.reset();
    }
    curl_free(host);
    curl_url_cleanup(parsed);
    url_ = next;
    if (!ApplyRequestSettings()) return false;
    return Start();
  }

  // A redirect WinHttp would follow: http or https only, never https -> http.
  bool ShouldFollow(int status) {
    if (!redirects_ || redirects_followed_ >= kMaxRedirects) return false;
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) {
      return false;
    }
    std::optional<std::string> url = ResolveLocation();
    if (!url) return false;
    bool to_https = url->compare(0, 8, "https://") == 0;
    bool to_http = url->compare(0, 7, "http://") == 0;
    bool from_https = url_.compare(0, 8, "https://") == 0;
    if (!to_https && !(to_http && !from_https)) return false;
    follow_url_ = *std::move(url);
    follow_status_ = status;
    return true;
  }

  // The Location of the block just received, made absolute against this hop's URL.
  std::optional<std::string> ResolveLocation() const {
    std::optional<std::string> location;
    std::size_t pos = header_block_.find("\r\n");
    while (pos != std::string::npos && pos + 2 < header_block_.size()) {
      std::size_t end = header_block_.find("\r\n", pos + 2);
      std::string_view line(header_block_.data() + pos + 2, end - pos - 2);
      if (line.size() > 9 && EqualsIgnoreCase(line.substr(0, 9), "location:")) {
        std::string_view value = line.substr(9);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
          value.remove_prefix(1);
        }
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
          value.remove_suffix(1);
        }
        location = std::string(value);
        break;
      }
      pos = end;
    }
    if (!location || location->empty()) return std::nullopt;
    CURLU* parsed = curl_url();
    if (parsed == nullptr) return std::nullopt;
    std::optional<std::string> absolute;
    char* text = nullptr;
    if (curl_url_set(parsed, CURLUPART_URL, url_.c_str(), 0) == CURLUE_OK &&
        curl_url_set(parsed, CURLUPART_URL, location->c_str(),
                     CURLU_URLENCODE | CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_URL, &text, 0) == CURLUE_OK) {
      absolute = text;
    }
    curl_free(text);
    curl_url_cleanup(parsed);
    return absolute;
  }

  static std::size_t OnHeader(char* data, std::size_t size, std::size_t n, void* self) {
    return static_cast<Request*>(self)->Header(std::string_view(data, size * n));
  }

  std::size_t Header(std::string_view line) {
    header_bytes_ += static_cast<curl_off_t>(line.size());
    if (have_final_headers_) return line.size();  // trailers
    if (line.compare(0, 5, "HTTP/") == 0) header_block_.clear();
    std::string_view content = line;
    while (!content.empty() && (content.back() == '\n' || content.back() == '\r')) {
      content.remove_suffix(1);
    }
    try {
      header_block_.append(content);
      header_block_ += "\r\n";
    } catch (const std::bad_alloc&) {
      return 0;
    }
    if (!content.empty()) return line.size();
    // The block is complete: the final response's, unless interim or a proxy's CONNECT reply.
    long status = 0;
    if (header_block_.size() > 12 && header_block_.compare(0, 5, "HTTP/") == 0) {
      status = std::strtol(header_block_.c_str() + 9, nullptr, 10);
    }
    if (status >= 100 && status < 200) return line.size();
    // A proxy's tunnel that opens is followed by the real response; a refusal is final.
    if (!Connected() && status >= 200 && status < 300) return line.size();
    if (ShouldFollow(static_cast<int>(status))) {
      follow_pending_ = true;
      return line.size();
    }
    final_headers_ = header_block_;
    have_final_headers_ = true;
    if (verb_ == "HEAD") head_complete_ = true;
    return line.size();
  }

  static std::size_t OnBody(char* data, std::size_t size, std::size_t n, void* self) {
    return static_cast<Request*>(self)->Body(data, size * n);
  }

  std::size_t Body(const char* data, std::size_t n) {
    if (follow_pending_ || head_complete_) return n;  // a redirect's body, or HEAD's
    // Take what comes while little is unread; pausing makes curl hold a copy
    // of its own and deliver it again, which costs a copy of every byte.
    const std::size_t unread = pending_.size() - pending_offset_;
    if (unread >= kPendingLimit) {
      paused_ = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    try {
      if (unread == 0) {
        pending_.assign(data, n);
      } else {
        pending_.erase(0, pending_offset_);
        pending_.append(data, n);
      }
    } catch (const std::bad_alloc&) {
      return 0;  // ends the transfer as a failed read
    }
    pending_offset_ = 0;
    return n;
  }

  // Gets the next piece of the body into `pending_`, or ends the body.
  void FillPending() {
    if (BodyEnded()) return;
    if (paused_) {
      paused_ = false;
      // Delivers the held data through Body() before it returns.
      if (curl_easy_pause(easy_.get(), CURLPAUSE_CONT) != CURLE_OK) {
        Finish(CURLE_RECV_ERROR);
      }
      last_activity_ = Clock::now();
    }
    Drive([this] { return pending_offset_ < pending_.size() || paused_; });
  }

  Connection connection_;
  std::string verb_;
  std::string object_;
  bool secure_;
  const CurlTransportOptions& options_;

  long connect_limit_ms_ = 0;
  long stall_limit_ms_ = 0;
  std::optional<Credentials> server_credentials_;
  Credentials proxy_credentials_;
  bool cookies_ = true;
  bool redirects_ = true;
  std::vector<std::string> headers_;

  std::string body_;
  bool has_body_ = false;
  bool sent_ = false;
  std::string url_;
  SlistPtr header_list_;

  MultiPtr multi_;
  EasyPtr easy_;
  bool in_multi_ = false;
  bool done_ = false;
  CURLcode result_ = CURLE_OK;
  bool paused_ = false;
  curl_off_t last_progress_ = -1;
  Clock::time_point last_activity_;

  std::string header_block_;  // the response being received
  curl_off_t header_bytes_ = 0;
  std::string final_headers_;
  bool have_final_headers_ = false;
  bool response_ready_ = false;
  bool head_complete_ = false;
  bool follow_pending_ = false;
  std::string follow_url_;
  int follow_status_ = 0;
  int redirects_followed_ = 0;

  std::string pending_;
  std::size_t pending_offset_ = 0;
};

bool CurlUsable() {
  static const bool usable = [] {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return false;
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    if (info == nullptr || info->protocols == nullptr) return false;
    bool http = false, https = false;
    for (const char* const* p = info->protocols; *p != nullptr; ++p) {
      http = http || std::strcmp(*p, "http") == 0;
      https = https || std::strcmp(*p, "https") == 0;
    }
    return http && https;
  }();
  return usable;
}

class CurlTransport final : public Transport {
 public:
  explicit CurlTransport(CurlTransportOptions options) : options_(std::move(options)) {
    CurlUsable();
  }

  bool CheckPlatform() override { return CurlUsable(); }

  bool CrackUrl(std::u16string_view url, UrlComponents& parts) override {
    std::size_t sep = url.find(u"://");
    if (sep == std::u16string_view::npos) return false;
    std::u16string_view scheme = url.substr(0, sep);
    int scheme_id;
    std::uint16_t port;
    if (scheme.size() == 4 && StartsWithIgnoreCase(scheme, u"http")) {
      scheme_id = kSchemeHttp, port = 80;
    } else if (scheme.size() == 5 && StartsWithIgnoreCase(scheme, u"https")) {
      scheme_id = kSchemeHttps, port = 443;
    } else {
      return false;
    }
    std::u16string_view rest = url.substr(sep + 3);
    std::size_t authority_end = rest.find_first_of(u"/?#");
    std::u16string_view authority = rest.substr(0, authority_end);
    rest = authority_end == std::u16string_view::npos ? std::u16string_view()
                                                      : rest.substr(authority_end);
    if (std::size_t at = authority.rfind(u'@'); at != std::u16string_view::npos) {
      authority.remove_prefix(at + 1);
    }
    std::u16string_view host = authority;
    std::size_t colon = authority.rfind(u':');
    std::size_t bracket = authority.rfind(u']');
    if (colon != std::u16string_view::npos &&
        (bracket == std::u16string_view::npos || colon > bracket)) {
      host = authority.substr(0, colon);
      std::u16string_view digits = authority.substr(colon + 1);
      if (!digits.empty()) {
        unsigned long value = 0;
        for (char16_t c : digits) {
          if (c < u'0' || c > u'9' || value > 65535) return false;
          value = value * 10 + (c - u'0');
        }
        if (value == 0 || value > 65535) return false;
        port = static_cast<std::uint16_t>(value);
      }
    }
    if (host.empty()) return false;
    for (char16_t c : host) {
      if (c <= 0x20 || c == 0x7F) return false;
    }
    std::u16string_view path = rest.substr(0, rest.find_first_of(u"?#"));
    rest.remove_prefix(path.size());
    std::u16string_view query = rest.substr(0, rest.find(u'#'));
    parts.scheme = scheme_id;
    parts.host = std::u16string(host);
    parts.port = port;
    parts.path = PercentEncode(path);
    parts.extra_info = PercentEncode(query);
    return true;
  }

  InternetHandle Open(std::uint32_t access_type, std::u16string_view proxy_name) override {
    auto session = std::make_unique<Session>();
    if (access_type == kAccessNamedProxy) {
      session->proxies = ParseProxyList(proxy_name);
      if (!session->proxies) return 0;
    } else if (access_type != kAccessNoProxy && access_type != 0) {
      return 0;
    }
    return Keep(sessions_, std::move(session));
  }

  InternetHandle Connect(InternetHandle session, std::u16string_view host,
                         std::uint16_t port) override {
    auto it = sessions_.find(session);
    if (it == sessions_.end() || host.empty()) return 0;
    auto connection = std::make_unique<Connection>();
    connection->session = *it->second;
    connection->host = ToUtf8(host);
    if (connection->host.size() > 2 && connection->host.front() == '[' &&
        connection->host.back() == ']') {
      connection->host = connection->host.substr(1, connection->host.size() - 2);
    }
    connection->port = port == 0 ? 80 : port;
    return Keep(connections_, std::move(connection));
  }

  InternetHandle OpenRequest(InternetHandle connection, std::u16string_view verb,
                             std::u16string_view object_name, std::uint32_t flags) override {
    auto it = connections_.find(connection);
    if (it == connections_.end()) return 0;
    std::string method = verb.empty() ? "GET" : ToUtf8(verb);
    if (method.find_first_of(" \t\r\n") != std::string::npos) return 0;
    std::string object = ToUtf8(PercentEncode(object_name));
    if (object.empty() || object.front() != '/') object.insert(0, "/");
    bool secure = (flags & kRequestFlagSecure) != 0;
    return Keep(requests_, std::make_unique<Request>(*it->second, std::move(method),
                                                     std::move(object), secure, options_));
  }

  bool SetTimeouts(InternetHandle request, int resolve_ms, int connect_ms, int send_ms,
                   int receive_ms) override {
    Request* r = Find(request);
    if (r == nullptr) return false;
    r->SetTimeouts(resolve_ms, connect_ms, send_ms, receive_ms);
    return true;
  }

  bool SetCredentials(InternetHandle request, std::uint32_t target, std::uint32_t scheme,
                      std::u16string_view user, std::u16string_view password) override {
    Request* r = Find(request);
    if (r == nullptr || scheme != kAuthSchemeBasic) return false;
    Credentials c{ToUtf8(user), ToUtf8(password)};
    // Strings handed over with their terminator keep it out of the credential.
    for (std::string* s : {&c.user, &c.password}) {
      if (std::size_t nul = s->find('\0'); nul != std::string::npos) s->resize(nul);
    }
    if (target == kAuthTargetServer) {
      r->SetServerCredentials(std::move(c));
    } else if (target == kAuthTargetProxy) {
      r->SetProxyCredentials(std::move(c));
    } else {
      return false;
    }
    return true;
  }

  bool SetOption(InternetHandle request, std::uint32_t option, std::uint32_t value) override {
    Request* r = Find(request);
    if (r == nullptr || option != kOptionDisableFeature) return false;
    if ((value & ~(kDisableCookies | kDisableRedirects)) != 0 || value == 0) return false;
    if (value & kDisableCookies) r->DisableCookies();
    if (value & kDisableRedirects) r->DisableRedirects();
    return true;
  }

  bool AddRequestHeaders(InternetHandle request, std::u16string_view headers,
                         std::uint32_t /*modifiers*/) override {
    Request* r = Find(request);
    return r != nullptr && r->AddHeaders(headers);
  }

  bool SendRequest(InternetHandle request, const void* body, std::uint32_t length,
                   std::uint32_t /*total_length*/) override {
    Request* r = Find(request);
    return r != nullptr && r->Send(body, length);
  }

  bool ReceiveResponse(InternetHandle request) override {
    Request* r = Find(request);
    return r != nullptr && r->Receive();
  }

  bool QueryDataAvailable(InternetHandle request, std::uint32_t& count) override {
    Request* r = Find(request);
    return r != nullptr && r->Available(count);
  }

  bool ReadData(InternetHandle request, void* buffer, std::uint32_t count,
                std::uint32_t& read) override {
    Request* r = Find(request);
    read = 0;
    return r != nullptr && r->Read(buffer, count, read);
  }

  bool QueryHeaders(InternetHandle request, std::uint32_t info_level, void* buffer,
                    std::uint32_t& size_bytes, std::uint32_t& /*index*/) override {
    Request* r = Find(request);
    if (r == nullptr || info_level != kQueryRawHeadersCrlf) return false;
    return r->RawHeaders(buffer, size_bytes);
  }

  void CloseHandle(InternetHandle handle) override {
    requests_.erase(handle);
    connections_.erase(handle);
    sessions_.erase(handle);
  }

 private:
  template <typename T>
  InternetHandle Keep(std::map<InternetHandle, std::unique_ptr<T>>& table,
                      std::unique_ptr<T> object) {
    InternetHandle handle = next_handle_++;
    table.emplace(handle, std::move(object));
    return handle;
  }

  Request* Find(InternetHandle handle) {
    auto it = requests_.find(handle);
    return it == requests_.end() ? nullptr : it->second.get();
  }

  CurlTransportOptions options_;
  InternetHandle next_handle_ = 1;
  std::map<InternetHandle, std::unique_ptr<Session>> sessions_;
  std::map<InternetHandle, std::unique_ptr<Connection>> connections_;
  std::map<InternetHandle, std::unique_ptr<Request>> requests_;
};

}  // namespace

std::unique_ptr<Transport> MakeCurlTransport(CurlTransportOptions options) {
  return std::make_unique<CurlTransport>(std::move(options));
}

}  // namespace tavrolin::web
