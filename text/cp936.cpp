#include "text/cp936.h"

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <memory>

namespace tavrolin::cp936 {
namespace {

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// ICU's "cp936" is windows-936-2000: byte 80 is the euro sign, as on Windows.
// (Its "gb2312" is a strict table that garbles GBK-only characters.)
Converter OpenCp936() {
  UErrorCode status = U_ZERO_ERROR;
  Converter converter(ucnv_open("cp936", &status));
  if (U_FAILURE(status)) return nullptr;
  // Characters 936 lacks become '?', as WideCharToMultiByte's default does.
  ucnv_setSubstChars(converter.get(), "?", 1, &status);
  return converter;
}

}  // namespace

std::u16string ToUtf16(std::string_view cp936) {
  std::u16string out;
  if (cp936.empty()) return out;
  Converter converter = OpenCp936();
  if (!converter) return out;
  // Each byte yields at most one UTF-16 unit, so one pass into a buffer of that size suffices.
  out.resize(cp936.size());
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = ucnv_toUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()),
                            cp936.data(), static_cast<int32_t>(cp936.size()), &status);
  if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING) return {};
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string FromUtf16(std::u16string_view utf16) {
  std::string out;
  if (utf16.empty()) return out;
  Converter converter = OpenCp936();
  if (!converter) return out;
  // At most two bytes per unit (a surrogate pair becomes one "?").
  out.resize(utf16.size() * 2);
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = ucnv_fromUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()),
                              utf16.data(), static_cast<int32_t>(utf16.size()), &status);
  if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING) return {};
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string ToUtf8(std::string_view cp936) {
  std::u16string utf16 = ToUtf16(cp936);
  std::string out(utf16.size() * 3, '\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = 0;
  u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &n, utf16.data(),
                     static_cast<int32_t>(utf16.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING) return {};
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string FromUtf8(std::string_view utf8) {
  std::u16string utf16(utf8.size(), u'\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = 0;
  u_strFromUTF8WithSub(utf16.data(), static_cast<int32_t>(utf16.size()), &n, utf8.data(),
                       static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING) return {};
  utf16.resize(static_cast<std::size_t>(n));
  return FromUtf16(utf16);
}

}  // namespace tavrolin::cp936
