// Code page 936 (Windows' GBK) conversion, on ICU. Never fails: bytes that are
// not valid 936 become U+FFFD, characters 936 lacks become '?'. Both directions
// are linear in the input.
#pragma once

#include <memory>
#include <string>
#include <string_view>

struct UConverter;  // ICU's

namespace tavrolin::cp936 {

struct ConverterCloser {
  void operator()(UConverter* converter) const;
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// The ICU converter behind every conversion here, with its U+FFFD and '?'
// rules, for code that streams other charsets into 936 through ICU itself.
// Empty when ICU cannot open it.
Converter OpenConverter();

std::u16string ToUtf16(std::string_view cp936);
std::string FromUtf16(std::u16string_view utf16);
// As WideCharToMultiByte with WC_COMPOSITECHECK: a base character followed by
// nonspacing marks becomes the precomposed character where 936 has one (e + U+0301
// is A8 A6); other marks stay separate characters.
std::string FromUtf16Precomposed(std::u16string_view utf16);

// For the edges of the program that speak UTF-8 (command line, JSON, files).
std::string ToUtf8(std::string_view cp936);
std::string FromUtf8(std::string_view utf8);

}  // namespace tavrolin::cp936
