// The decoding stage of Web_Request: a charset declared in a meta tag near the
// start of the page re-decodes the body into code page 936 text.
#include <utility>

#include "text/text_ops.h"
#include "web/charset_decoder.h"
#include "web/events.h"
#include "web/stages.h"

namespace tavrolin::web {
namespace {

// Group 1 is the declared name; at most one non-word character (an opening
// quote, say) may stand between "charset=" and it.
constexpr const char* kCharsetPattern = "<meta.+?charset=[^\\w]?([-\\w]+)";
// Declarations later than this are not looked for.
constexpr Int kSearchWindow = 1024;

Text Decode(RegexObject& regex, const Bytes* body, Text page_text) {
  if (!regex.Create(kCharsetPattern, Text_Left(page_text, kSearchWindow))) return page_text;
  const Text declared = regex.SubMatchText(1, 1);
  if (!declared.empty()) {
    // A name no table knows leaves the page as it came, as if none were declared.
    if (std::optional<CharsetDecoder> decoder = CharsetDecoder::ForLabel(declared.view())) {
      // The decoded page is written over the undecoded one's memory: one copy
      // of the page besides the body, and no fresh pages to fault in. When the
      // page is the body itself, it is read, so it cannot be written over.
      page_text = body == nullptr ? decoder->Decode(page_text.view())
                                  : decoder->Decode(body->view(), std::move(page_text).str());
    }
  }
  ProcessPendingEvents();
  return page_text;
}

}  // namespace

Text DecodePage(RegexObject& regex, const Bytes& body, Text page_text) {
  return Decode(regex, &body, std::move(page_text));
}

Text DecodePage(RegexObject& regex, Text body_as_page) {
  return Decode(regex, nullptr, std::move(body_as_page));
}

}  // namespace tavrolin::web
