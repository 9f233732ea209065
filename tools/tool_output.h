// What the command-line tools share: the crossing between the UTF-8 of the
// shell and the code page 936 texts inside.
#pragma once

#include <string>
#include <string_view>

#include "text/cp936.h"
#include "text/text.h"

namespace tavrolin::tools {

inline Text FromShell(std::string_view utf8) { return Text(cp936::FromUtf8(utf8)); }
inline std::string ToShell(const Text& text) { return cp936::ToUtf8(text.view()); }

// A JSON string literal of UTF-8 text, quotes included.
inline std::string JsonString(std::string_view utf8) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(utf8.size() + 2);
  out += '"';
  for (char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
        } else {
          out += ch;
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace tavrolin::tools
