// The stages Web_Request runs inside one call, each in a file of its own.
// Internal to web/: callers use Web_Request.
#pragma once

#include "text/regex_object.h"
#include "text/text.h"
#include "web/transport.h"

namespace tavrolin::web {

struct OptionArgs {
  const Text& auth_user;
  const Text& auth_password;
  const Text& proxy_user;
  const Text& proxy_password;
  bool send_cookies_supplied;
  bool no_redirect;
};

// Credentials, cookie option, redirect option (request_options.cpp).
// Returns the failure message (707, 708 or 709), or nullptr when all were set.
const char* ApplyRequestOptions(Transport& transport, InternetHandle request,
                                const OptionArgs& args);

struct ResponseHeaderOutputs {
  Text& status_text;
  Text& returned_headers;
  Text& returned_cookies;
  Text& returned_location;
};

// Status text, Set-Cookie spelling, cookies and Location out of the raw header
// text; processes pending events after each line (response_headers.cpp).
void ReadResponseHeaders(const Text& header_text, const ResponseHeaderOutputs& out);

// Re-decodes the page by the charset its meta tag declares in the first 1024
// bytes; returns the page text unchanged when none is declared or the name is
// unknown (page_decoding.cpp).
Text DecodePage(RegexObject& regex, const Bytes& body, Text page_text);
// The same for a page text that is the whole body (one without a NUL byte).
Text DecodePage(RegexObject& regex, Text body_as_page);

}  // namespace tavrolin::web
