#include "text/text_ops.h"
#include "web/events.h"
#include "web/stages.h"

namespace tavrolin::web {

void ReadResponseHeaders(const Text& header_text, const ResponseHeaderOutputs& out) {
  // 1. Status text: from position 10, after "HTTP/1.1 ", to the end of the line.
  const Int line_end = Text_Find(header_text, "\r\n", 10, false);
  out.status_text = Text_Mid(header_text, 10, line_end - 10);

  // 2. One spelling of Set-Cookie, in every letter case, everywhere.
  out.returned_headers = Text_Replace(header_text, "Set-Cookie", "Set-Cookie", 1, std::nullopt,
                                      false);

  // 3. Line by line: cookies, Location, then let the window breathe.
  // A caller's own cookies are kept and joined to the new ones with "; ".
  const bool had_cookies = Text_Length(out.returned_cookies) > 0;
  bool appended = false;
  for (const Text& line : Text_Split(out.returned_headers, "\r\n")) {
    if (Text_Find(line, "Set-Cookie", 1, false) != -1) {
      const Text cookie = Text_Find(line, ";", 1, false) == -1
                              ? Text_Replace(line, "Set-Cookie:", {}, 1, std::nullopt, false)
                              : Text_Between(line, "Set-Cookie:", ";");
      if (had_cookies && !appended) {
        out.returned_cookies = Text_Concat(std::move(out.returned_cookies), {"; "});
      }
      out.returned_cookies = Text_Concat(std::move(out.returned_cookies), {Text_Trim(cookie), "; "});
      appended = true;
    }
    if (Text_Compare(Text_Left(line, 10), "Location: ", false) == 0) {
      out.returned_location = Text_Mid(line, 11, Text_Length(line) - 10);
    }
    ProcessPendingEvents();
  }

  // 4. Drop the "; " after the last new entry; without one, nothing changes.
  if (appended) {
    out.returned_cookies =
        Text_Left(out.returned_cookies, Text_Length(out.returned_cookies) - 2);
  }
}

}  // namespace tavrolin::web
