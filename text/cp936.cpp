#include "text/cp936.h"

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <memory>

namespace tavrolin::cp936 {

void ConverterCloser::operator()(UConverter* converter) const { ucnv_close(converter); }

namespace {

bool IsConversionError(UConverterCallbackReason reason) {
  return reason == UCNV_UNASSIGNED || reason == UCNV_ILLEGAL || reason == UCNV_IRREGULAR;
}

// Every byte sequence that is not 936 (a bad second byte, a lone lead byte at the
// end) becomes one U+FFFD. ICU's own substitute callback may write U+001A for a
// single bad byte, so it is not used.
void ToUnicodeReplacement(const void* /*context*/, UConverterToUnicodeArgs* args,
                          const char* /*bytes*/, int32_t /*length*/,
                          UConverterCallbackReason reason, UErrorCode* status) {
  if (!IsConversionError(reason)) return;
  static const UChar kReplacement = 0xFFFD;
  *status = U_ZERO_ERROR;
  ucnv_cbToUWriteUChars(args, &kReplacement, 1, 0, status);
}

// A code point 936 lacks (a surrogate pair counts as one, a lone surrogate too) becomes
// one '?', as WideCharToMultiByte's default character does.
void FromUnicodeReplacement(const void* /*context*/, UConverterFromUnicodeArgs* args,
                            const UChar* /*units*/, int32_t /*length*/, UChar32 /*code_point*/,
                            UConverterCallbackReason reason, UErrorCode* status) {
  if (!IsConversionError(reason)) return;
  *status = U_ZERO_ERROR;
  ucnv_cbFromUWriteBytes(args, "?", 1, 0, status);
}

bool IsNonspacingMark(char16_t unit) { return u_charType(unit) == U_NON_SPACING_MARK; }

bool IsSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// Whether 936 has the character itself; `strict` stops instead of substituting.
bool Encodable(UConverter* strict, UChar32 c) {
  if (c < 0 || c > 0xFFFF || IsSurrogate(static_cast<char16_t>(c))) return false;
  const auto unit = static_cast<UChar>(c);
  char bytes[4];
  UErrorCode status = U_ZERO_ERROR;
  ucnv_reset(strict);
  ucnv_fromUChars(strict, bytes, sizeof bytes, &unit, 1, &status);
  return U_SUCCESS(status);
}

}  // namespace

// ICU's "cp936" is windows-936-2000, Windows' table: byte 80 is the euro sign, FF is
// U+F8F5. ("gb2312" is a strict table that garbles GBK-only characters.)
Converter OpenConverter() {
  UErrorCode status = U_ZERO_ERROR;
  Converter converter(ucnv_open("cp936", &status));
  if (U_FAILURE(status)) return nullptr;
  ucnv_setToUCallBack(converter.get(), ToUnicodeReplacement, nullptr, nullptr, nullptr, &status);
  ucnv_setFromUCallBack(converter.get(), FromUnicodeReplacement, nullptr, nullptr, nullptr,
                        &status);
  if (U_FAILURE(status)) return nullptr;
  return converter;
}

std::u16string ToUtf16(std::string_view cp936) {
  std::u16string out;
  if (cp936.empty()) return out;
  Converter converter = OpenConverter();
  if (!converter) return out;
  // A byte yields at most one unit, so the first buffer is normally enough; the loop
  // is only a guard.
  out.resize(cp936.size());
  const char* source = cp936.data();
  const char* source_end = source + cp936.size();
  std::size_t written = 0;
  while (true) {
    UChar* target = out.data() + written;
    UErrorCode status = U_ZERO_ERROR;
    ucnv_toUnicode(converter.get(), &target, out.data() + out.size(), &source, source_end, nullptr,
                   /*flush=*/true, &status);
    written = static_cast<std::size_t>(target - out.data());
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      out.resize(out.size() * 2);
      continue;
    }
    if (U_FAILURE(status)) written = 0;
    break;
  }
  out.resize(written);
  return out;
}

std::string FromUtf16(std::u16string_view utf16) {
  std::string out;
  if (utf16.empty()) return out;
  Converter converter = OpenConverter();
  if (!converter) return out;
  // At most two bytes per unit (a surrogate pair becomes one '?').
  out.resize(utf16.size() * 2);
  const UChar* source = utf16.data();
  const UChar* source_end = source + utf16.size();
  std::size_t written = 0;
  while (true) {
    char* target = out.data() + written;
    UErrorCode status = U_ZERO_ERROR;
    ucnv_fromUnicode(converter.get(), &target, out.data() + out.size(), &source, source_end,
                     nullptr, /*flush=*/true, &status);
    written = static_cast<std::size_t>(target - out.data());
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      out.resize(out.size() * 2);
      continue;
    }
    if (U_FAILURE(status)) written = 0;
    break;
  }
  out.resize(written);
  return out;
}

std::string FromUtf16Precomposed(std::u16string_view utf16) {
  std::size_t first_mark = 0;
  while (first_mark < utf16.size() && !IsNonspacingMark(utf16[first_mark])) ++first_mark;
  if (first_mark == utf16.size()) return FromUtf16(utf16);

  UErrorCode status = U_ZERO_ERROR;
  const UNormalizer2* nfc = unorm2_getNFCInstance(&status);
  Converter strict(ucnv_open("cp936", &status));
  if (U_SUCCESS(status)) {
    ucnv_setFromUCallBack(strict.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                          &status);
  }
  if (U_FAILURE(status)) return FromUtf16(utf16);

  std::u16string composed(utf16.substr(0, first_mark));
  composed.reserve(utf16.size());
  for (std::size_t i = first_mark; i < utf16.size(); ++i) {
    const char16_t unit = utf16[i];
    if (IsNonspacingMark(unit) && !composed.empty() && !IsSurrogate(composed.back())) {
      UChar32 precomposed = unorm2_composePair(nfc, composed.back(), unit);
      if (Encodable(strict.get(), precomposed)) {
        composed.back() = static_cast<char16_t>(precomposed);
        continue;
      }
    }
    composed.push_back(unit);
  }
  return FromUtf16(composed);
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
