// The text and byte operations every other module relies on. Each is a pure
// function; the edge results (positions out of range, empty arguments, letter
// case, double-byte characters) are part of the contract and are tested.
//
// Character stepping: Text_Find, Text_Replace, Text_Split and Text_Trim take a
// byte of 0x80 or above together with the next byte as one character, so none
// of them ever reports a match that begins on a second byte.
#pragma once

#include <initializer_list>
#include <optional>
#include <type_traits>

#include "text/text.h"

namespace tavrolin {

// The quote token "#引号" (23 D2 FD BA C5): Text_Between and RegexObject::Create
// read it as a double quote, so markers can name a quote without holding one.
inline constexpr const char* kQuoteToken = "#引号";

Int Text_Length(const Text& text);
Text Text_Left(const Text& text, Int n);
Text Text_Mid(const Text& text, Int start, Int n);

// 1-based position of `what` at or after `start`, or -1. An empty `what`
// gives 1 whenever anything remains to search.
Int Text_Find(const Text& text, const Text& what, Int start = 1, bool ignore_case = false);

// `count` left out or negative: no limit.
Text Text_Replace(const Text& text, const Text& what, const Text& replacement = {}, Int start = 1,
                  std::optional<Int> count = std::nullopt, bool case_sensitive = false);

// `count` left out: no limit; a negative `count` counts as 0.
TextList Text_Split(const Text& text, const Text& delimiter = ",",
                    std::optional<Int> count = std::nullopt);

// Blanks are the ASCII space and the full-width space A1 A1, nothing else.
Text Text_Trim(const Text& text);

// Negative, 0 or positive; only ASCII letters fold when !case_sensitive.
int Text_Compare(const Text& a, const Text& b, bool case_sensitive = false);
// -1, 0 or 1, unsigned byte order.
int Text_CompareBytes(const Text& a, const Text& b);

Text Text_Concat(std::initializer_list<Text> parts);
// Appends to `head` in place, so building a long text piece by piece stays linear.
Text Text_Concat(Text&& head, std::initializer_list<Text> tail);

namespace text_ops_detail {
inline std::size_t PartSize(const Text& part) { return part.size(); }
template <typename T>
std::size_t PartSize(const T&) {
  return 0;  // only a reserve hint
}
template <typename T>
void AppendPart(Text& out, const T& part) {
  if constexpr (std::is_same_v<T, Text>) {
    out += part;
  } else {
    out += Text(part);
  }
}
}  // namespace text_ops_detail

// The variadic forms append each part once, without copying the parts into a list first.
template <typename... Rest>
Text Text_Concat(const Text& a, const Text& b, const Rest&... rest) {
  Text out;
  out.reserve(a.size() + b.size() + (std::size_t{0} + ... + text_ops_detail::PartSize(rest)));
  out += a;
  out += b;
  (text_ops_detail::AppendPart(out, rest), ...);
  return out;
}
template <typename... Rest>
Text Text_Concat(Text&& a, const Text& b, const Rest&... rest) {
  a += b;  // in place first, so `b` may even be `a` itself
  (text_ops_detail::AppendPart(a, rest), ...);
  return std::move(a);
}

Bytes Text_ToBytes(const Text& text);
Text Bytes_ToText(const Bytes& bytes);
Text Bytes_ToText(Bytes&& bytes);  // reuses the buffer
Int Bytes_Length(const Bytes& bytes);
Bytes Bytes_Blank(Int n);
Bytes Bytes_Left(const Bytes& bytes, Int n);
Bytes Bytes_Left(Bytes&& bytes, Int n);
Bytes Bytes_FromPointer(const void* address, Int n);

Bytes Bytes_Concat(std::initializer_list<Bytes> parts);
Bytes Bytes_Concat(Bytes&& head, std::initializer_list<Bytes> tail);
inline Bytes Bytes_Concat(const Bytes& a, const Bytes& b) {
  Bytes out;
  out.reserve(a.size() + b.size());
  out += a;
  out += b;
  return out;
}
// Appends in place: a growing body takes each chunk in amortised constant time per byte.
inline Bytes Bytes_Concat(Bytes&& a, const Bytes& b) {
  a += b;
  return std::move(a);
}

// The text between the first `start_marker` at or after `start` and the next
// `end_marker`, or the empty text. Quote tokens in both markers are double quotes.
Text Text_Between(const Text& text, const Text& start_marker, const Text& end_marker, Int start = 0,
                  bool ignore_case = false);

// Code page 936 to UTF-16LE bytes, the NUL unit kept unless `drop_terminator`.
// The empty text gives empty bytes.
Bytes Text_ToWide(const Text& text, bool drop_terminator = false);
// UTF-16LE units, up to the first NUL unit, to code page 936 text.
Text Wide_ToText(const Bytes& wide);

}  // namespace tavrolin
