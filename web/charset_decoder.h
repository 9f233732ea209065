// Decoding a page body by the charset name it declares, into code page 936
// text. Names resolve as browsers resolve them (the WHATWG Encoding Standard's
// label table), so "gb2312" means GBK and "latin1" means windows-1252.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "text/text.h"

namespace tavrolin::web {

class CharsetDecoder {
 public:
  // The decoder a label names: ASCII case ignored, surrounding ASCII
  // whitespace trimmed; nullopt for a label no table knows.
  static std::optional<CharsetDecoder> ForLabel(std::string_view label);

  // The encoding's canonical name ("UTF-8", "GBK", "windows-1252", ...).
  std::string_view Name() const;

  // The body decoded and converted to code page 936, ending before the first
  // NUL. A byte-order mark at the start wins over the label and is dropped, as
  // in browsers; bytes invalid in the charset become U+FFFD and then "?", as
  // does every character 936 lacks. Linear in the body; it holds the body and
  // the result, never a UTF-16 copy of the whole page. The empty text only if
  // ICU itself cannot be used. `recycled`, when given, is a buffer whose
  // memory the result takes over (the undecoded page text, say), which spares
  // a fresh allocation of the page's size.
  Text Decode(std::string_view body, std::string recycled = {}) const;

 private:
  explicit CharsetDecoder(std::size_t encoding) : encoding_(encoding) {}
  std::size_t encoding_;  // index into the encoding table
};

}  // namespace tavrolin::web
