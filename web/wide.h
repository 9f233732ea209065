// UTF-16 strings for the transport, made by Text_ToWide and read by Wide_ToText,
// so every crossing into and out of the HTTP service goes through those two.
#pragma once

#include <string>
#include <string_view>

#include "text/text_ops.h"

namespace tavrolin::web {

// The units of Text_ToWide(text), without the terminating NUL unit.
inline std::u16string ToWideString(const Text& text) {
  const Bytes wide = Text_ToWide(text);
  std::u16string units(static_cast<std::size_t>(Bytes_Length(wide) / 2), u'\0');
  const auto* b = reinterpret_cast<const unsigned char*>(wide.data());
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(b[2 * i] | (b[2 * i + 1] << 8));  // little-endian
  }
  if (!units.empty() && units.back() == u'\0') units.pop_back();
  return units;
}

// Wide_ToText of the UTF-16LE bytes of `units`.
inline Text FromWideString(std::u16string_view units) {
  std::string bytes(units.size() * 2, '\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    bytes[2 * i] = static_cast<char>(units[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(units[i] >> 8);
  }
  return Wide_ToText(Bytes(std::move(bytes)));
}

}  // namespace tavrolin::web
