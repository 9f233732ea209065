#include "web/charset_decoder.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "text/cp936.h"

namespace tavrolin::web {
namespace {

// How an encoding is decoded: by an ICU converter, or by a table of our own
// where ICU has none that matches the Encoding Standard.
enum class Method { kUtf8, kIcu, kSingleByteTable, kReplacement };

struct Encoding {
  std::string_view name;  // the Encoding Standard's name
  Method method;
  const char* icu_name;  // for kIcu
};

// ICU 72 has no ISO-8859-16; its upper half, 0xA0..0xFF (below is Latin-1).
constexpr std::array<char16_t, 96> kIso8859_16High = {
    0x00A0, 0x0104, 0x0105, 0x0141, 0x20AC, 0x201E, 0x0160, 0x00A7, 0x0161, 0x00A9, 0x0218, 0x00AB,
    0x0179, 0x00AD, 0x017A, 0x017B, 0x00B0, 0x00B1, 0x010C, 0x0142, 0x017D, 0x201D, 0x00B6, 0x00B7,
    0x017E, 0x010D, 0x0219, 0x00BB, 0x0152, 0x0153, 0x0178, 0x017C, 0x00C0, 0x00C1, 0x00C2, 0x0102,
    0x00C4, 0x0106, 0x00C6, 0x00C7, 0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
    0x0110, 0x0143, 0x00D2, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x015A, 0x0170, 0x00D9, 0x00DA, 0x00DB,
    0x00DC, 0x0118, 0x021A, 0x00DF, 0x00E0, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x0107, 0x00E6, 0x00E7,
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x0111, 0x0144, 0x00F2, 0x00F3,
    0x00F4, 0x0151, 0x00F6, 0x015B, 0x0171, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x0119, 0x021B, 0x00FF};

// The Encoding Standard's encodings. GBK decodes with Windows' 936 table, as
// the rest of the program reads 936; ICU's "gb2312" is strict GB2312 and would
// garble the GBK-only characters pages labelled gb2312 actually hold.
constexpr Encoding kEncodings[] = {
    {"UTF-8", Method::kUtf8, "UTF-8"},
    {"IBM866", Method::kIcu, "ibm-866"},
    {"ISO-8859-2", Method::kIcu, "ISO-8859-2"},
    {"ISO-8859-3", Method::kIcu, "ISO-8859-3"},
    {"ISO-8859-4", Method::kIcu, "ISO-8859-4"},
    {"ISO-8859-5", Method::kIcu, "ISO-8859-5"},
    {"ISO-8859-6", Method::kIcu, "ISO-8859-6"},
    {"ISO-8859-7", Method::kIcu, "ISO-8859-7"},
    {"ISO-8859-8", Method::kIcu, "ISO-8859-8"},
    {"ISO-8859-8-I", Method::kIcu, "ISO-8859-8"},  // same bytes; only the display order differs
    {"ISO-8859-10", Method::kIcu, "ISO-8859-10"},
    {"ISO-8859-13", Method::kIcu, "ISO-8859-13"},
    {"ISO-8859-14", Method::kIcu, "ISO-8859-14"},
    {"ISO-8859-15", Method::kIcu, "ISO-8859-15"},
    {"ISO-8859-16", Method::kSingleByteTable, nullptr},
    {"KOI8-R", Method::kIcu, "KOI8-R"},
    {"KOI8-U", Method::kIcu, "KOI8-U"},
    {"macintosh", Method::kIcu, "macintosh"},
    {"windows-874", Method::kIcu, "windows-874"},
    {"windows-1250", Method::kIcu, "windows-1250"},
    {"windows-1251", Method::kIcu, "windows-1251"},
    {"windows-1252", Method::kIcu, "windows-1252"},
    {"windows-1253", Method::kIcu, "windows-1253"},
    {"windows-1254", Method::kIcu, "windows-1254"},
    {"windows-1255", Method::kIcu, "windows-1255"},
    {"windows-1256", Method::kIcu, "windows-1256"},
    {"windows-1257", Method::kIcu, "windows-1257"},
    {"windows-1258", Method::kIcu, "windows-1258"},
    {"x-mac-cyrillic", Method::kIcu, "x-mac-cyrillic"},
    {"GBK", Method::kIcu, "cp936"},
    {"gb18030", Method::kIcu, "gb18030"},
    {"Big5", Method::kIcu, "Big5-HKSCS"},
    {"EUC-JP", Method::kIcu, "EUC-JP"},
    {"ISO-2022-JP", Method::kIcu, "ISO-2022-JP"},
    {"Shift_JIS", Method::kIcu, "windows-31j"},
    {"EUC-KR", Method::kIcu, "windows-949"},
    {"replacement", Method::kReplacement, nullptr},
    {"UTF-16BE", Method::kIcu, "UTF-16BE"},
    {"UTF-16LE", Method::kIcu, "UTF-16LE"},
    {"x-user-defined", Method::kSingleByteTable, nullptr},
};

constexpr std::size_t IndexOf(std::string_view name) {
  for (std::size_t i = 0; i < std::size(kEncodings); ++i) {
    if (kEncodings[i].name == name) return i;
  }
  return std::size(kEncodings);  // fails the build through the table below
}

struct Label {
  std::string_view label;
  std::size_t encoding;
};

#define TAVROLIN_LABEL(label, name) \
  Label { label, IndexOf(name) }

// The Encoding Standard's label table, lower case.
constexpr Label kLabels[] = {
    TAVROLIN_LABEL("unicode-1-1-utf-8", "UTF-8"),
    TAVROLIN_LABEL("unicode11utf8", "UTF-8"),
    TAVROLIN_LABEL("unicode20utf8", "UTF-8"),
    TAVROLIN_LABEL("utf-8", "UTF-8"),
    TAVROLIN_LABEL("utf8", "UTF-8"),
    TAVROLIN_LABEL("x-unicode20utf8", "UTF-8"),
    TAVROLIN_LABEL("866", "IBM866"),
    TAVROLIN_LABEL("cp866", "IBM866"),
    TAVROLIN_LABEL("csibm866", "IBM866"),
    TAVROLIN_LABEL("ibm866", "IBM866"),
    TAVROLIN_LABEL("csisolatin2", "ISO-8859-2"),
    TAVROLIN_LABEL("iso-8859-2", "ISO-8859-2"),
    TAVROLIN_LABEL("iso-ir-101", "ISO-8859-2"),
    TAVROLIN_LABEL("iso8859-2", "ISO-8859-2"),
    TAVROLIN_LABEL("iso88592", "ISO-8859-2"),
    TAVROLIN_LABEL("iso_8859-2", "ISO-8859-2"),
    TAVROLIN_LABEL("iso_8859-2:1987", "ISO-8859-2"),
    TAVROLIN_LABEL("l2", "ISO-8859-2"),
    TAVROLIN_LABEL("latin2", "ISO-8859-2"),
    TAVROLIN_LABEL("csisolatin3", "ISO-8859-3"),
    TAVROLIN_LABEL("iso-8859-3", "ISO-8859-3"),
    TAVROLIN_LABEL("iso-ir-109", "ISO-8859-3"),
    TAVROLIN_LABEL("iso8859-3", "ISO-8859-3"),
    TAVROLIN_LABEL("iso88593", "ISO-8859-3"),
    TAVROLIN_LABEL("iso_8859-3", "ISO-8859-3"),
    TAVROLIN_LABEL("iso_8859-3:1988", "ISO-8859-3"),
    TAVROLIN_LABEL("l3", "ISO-8859-3"),
    TAVROLIN_LABEL("latin3", "ISO-8859-3"),
    TAVROLIN_LABEL("csisolatin4", "ISO-8859-4"),
    TAVROLIN_LABEL("iso-8859-4", "ISO-8859-4"),
    TAVROLIN_LABEL("iso-ir-110", "ISO-8859-4"),
    TAVROLIN_LABEL("iso8859-4", "ISO-8859-4"),
    TAVROLIN_LABEL("iso88594", "ISO-8859-4"),
    TAVROLIN_LABEL("iso_8859-4", "ISO-8859-4"),
    TAVROLIN_LABEL("iso_8859-4:1988", "ISO-8859-4"),
    TAVROLIN_LABEL("l4", "ISO-8859-4"),
    TAVROLIN_LABEL("latin4", "ISO-8859-4"),
    TAVROLIN_LABEL("csisolatincyrillic", "ISO-8859-5"),
    TAVROLIN_LABEL("cyrillic", "ISO-8859-5"),
    TAVROLIN_LABEL("iso-8859-5", "ISO-8859-5"),
    TAVROLIN_LABEL("iso-ir-144", "ISO-8859-5"),
    TAVROLIN_LABEL("iso8859-5", "ISO-8859-5"),
    TAVROLIN_LABEL("iso88595", "ISO-8859-5"),
    TAVROLIN_LABEL("iso_8859-5", "ISO-8859-5"),
    TAVROLIN_LABEL("iso_8859-5:1988", "ISO-8859-5"),
    TAVROLIN_LABEL("arabic", "ISO-8859-6"),
    TAVROLIN_LABEL("asmo-708", "ISO-8859-6"),
    TAVROLIN_LABEL("csiso88596e", "ISO-8859-6"),
    TAVROLIN_LABEL("csiso88596i", "ISO-8859-6"),
    TAVROLIN_LABEL("csisolatinarabic", "ISO-8859-6"),
    TAVROLIN_LABEL("ecma-114", "ISO-8859-6"),
    TAVROLIN_LABEL("iso-8859-6", "ISO-8859-6"),
    TAVROLIN_LABEL("iso-8859-6-e", "ISO-8859-6"),
    TAVROLIN_LABEL("iso-8859-6-i", "ISO-8859-6"),
    TAVROLIN_LABEL("iso-ir-127", "ISO-8859-6"),
    TAVROLIN_LABEL("iso8859-6", "ISO-8859-6"),
    TAVROLIN_LABEL("iso88596", "ISO-8859-6"),
    TAVROLIN_LABEL("iso_8859-6", "ISO-8859-6"),
    TAVROLIN_LABEL("iso_8859-6:1987", "ISO-8859-6"),
    TAVROLIN_LABEL("csisolatingreek", "ISO-8859-7"),
    TAVROLIN_LABEL("ecma-118", "ISO-8859-7"),
    TAVROLIN_LABEL("elot_928", "ISO-8859-7"),
    TAVROLIN_LABEL("greek", "ISO-8859-7"),
    TAVROLIN_LABEL("greek8", "ISO-8859-7"),
    TAVROLIN_LABEL("iso-8859-7", "ISO-8859-7"),
    TAVROLIN_LABEL("iso-ir-126", "ISO-8859-7"),
    TAVROLIN_LABEL("iso8859-7", "ISO-8859-7"),
    TAVROLIN_LABEL("iso88597", "ISO-8859-7"),
    TAVROLIN_LABEL("iso_8859-7", "ISO-8859-7"),
    TAVROLIN_LABEL("iso_8859-7:1987", "ISO-8859-7"),
    TAVROLIN_LABEL("sun_eu_greek", "ISO-8859-7"),
    TAVROLIN_LABEL("csiso88598e", "ISO-8859-8"),
    TAVROLIN_LABEL("csisolatinhebrew", "ISO-8859-8"),
    TAVROLIN_LABEL("hebrew", "ISO-8859-8"),
    TAVROLIN_LABEL("iso-8859-8", "ISO-8859-8"),
    TAVROLIN_LABEL("iso-8859-8-e", "ISO-8859-8"),
    TAVROLIN_LABEL("iso-ir-138", "ISO-8859-8"),
    TAVROLIN_LABEL("iso8859-8", "ISO-8859-8"),
    TAVROLIN_LABEL("iso88598", "ISO-8859-8"),
    TAVROLIN_LABEL("iso_8859-8", "ISO-8859-8"),
    TAVROLIN_LABEL("iso_8859-8:1988", "ISO-8859-8"),
    TAVROLIN_LABEL("visual", "ISO-8859-8"),
    TAVROLIN_LABEL("csiso88598i", "ISO-8859-8-I"),
    TAVROLIN_LABEL("iso-8859-8-i", "ISO-8859-8-I"),
    TAVROLIN_LABEL("logical", "ISO-8859-8-I"),
    TAVROLIN_LABEL("csisolatin6", "ISO-8859-10"),
    TAVROLIN_LABEL("iso-8859-10", "ISO-8859-10"),
    TAVROLIN_LABEL("iso-ir-157", "ISO-8859-10"),
    TAVROLIN_LABEL("iso8859-10", "ISO-8859-10"),
    TAVROLIN_LABEL("iso885910", "ISO-8859-10"),
    TAVROLIN_LABEL("l6", "ISO-8859-10"),
    TAVROLIN_LABEL("latin6", "ISO-8859-10"),
    TAVROLIN_LABEL("iso-8859-13", "ISO-8859-13"),
    TAVROLIN_LABEL("iso8859-13", "ISO-8859-13"),
    TAVROLIN_LABEL("iso885913", "ISO-8859-13"),
    TAVROLIN_LABEL("iso-8859-14", "ISO-8859-14"),
    TAVROLIN_LABEL("iso8859-14", "ISO-8859-14"),
    TAVROLIN_LABEL("iso885914", "ISO-8859-14"),
    TAVROLIN_LABEL("csisolatin9", "ISO-8859-15"),
    TAVROLIN_LABEL("iso-8859-15", "ISO-8859-15"),
    TAVROLIN_LABEL("iso8859-15", "ISO-8859-15"),
    TAVROLIN_LABEL("iso885915", "ISO-8859-15"),
    TAVROLIN_LABEL("iso_8859-15", "ISO-8859-15"),
    TAVROLIN_LABEL("l9", "ISO-8859-15"),
    TAVROLIN_LABEL("iso-8859-16", "ISO-8859-16"),
    TAVROLIN_LABEL("cskoi8r", "KOI8-R"),
    TAVROLIN_LABEL("koi", "KOI8-R"),
    TAVROLIN_LABEL("koi8", "KOI8-R"),
    TAVROLIN_LABEL("koi8-r", "KOI8-R"),
    TAVROLIN_LABEL("koi8_r", "KOI8-R"),
    TAVROLIN_LABEL("koi8-ru", "KOI8-U"),
    TAVROLIN_LABEL("koi8-u", "KOI8-U"),
    TAVROLIN_LABEL("csmacintosh", "macintosh"),
    TAVROLIN_LABEL("mac", "macintosh"),
    TAVROLIN_LABEL("macintosh", "macintosh"),
    TAVROLIN_LABEL("x-mac-roman", "macintosh"),
    TAVROLIN_LABEL("dos-874", "windows-874"),
    TAVROLIN_LABEL("iso-8859-11", "windows-874"),
    TAVROLIN_LABEL("iso8859-11", "windows-874"),
    TAVROLIN_LABEL("iso885911", "windows-874"),
    TAVROLIN_LABEL("tis-620", "windows-874"),
    TAVROLIN_LABEL("windows-874", "windows-874"),
    TAVROLIN_LABEL("cp1250", "windows-1250"),
    TAVROLIN_LABEL("windows-1250", "windows-1250"),
    TAVROLIN_LABEL("x-cp1250", "windows-1250"),
    TAVROLIN_LABEL("cp1251", "windows-1251"),
    TAVROLIN_LABEL("windows-1251", "windows-1251"),
    TAVROLIN_LABEL("x-cp1251", "windows-1251"),
    TAVROLIN_LABEL("ansi_x3.4-1968", "windows-1252"),
    TAVROLIN_LABEL("ascii", "windows-1252"),
    TAVROLIN_LABEL("cp1252", "windows-1252"),
    TAVROLIN_LABEL("cp819", "windows-1252"),
    TAVROLIN_LABEL("csisolatin1", "windows-1252"),
    TAVROLIN_LABEL("ibm819", "windows-1252"),
    TAVROLIN_LABEL("iso-8859-1", "windows-1252"),
    TAVROLIN_LABEL("iso-ir-100", "windows-1252"),
    TAVROLIN_LABEL("iso8859-1", "windows-1252"),
    TAVROLIN_LABEL("iso88591", "windows-1252"),
    TAVROLIN_LABEL("iso_8859-1", "windows-1252"),
    TAVROLIN_LABEL("iso_8859-1:1987", "windows-1252"),
    TAVROLIN_LABEL("l1", "windows-1252"),
    TAVROLIN_LABEL("latin1", "windows-1252"),
    TAVROLIN_LABEL("us-ascii", "windows-1252"),
    TAVROLIN_LABEL("windows-1252", "windows-1252"),
    TAVROLIN_LABEL("x-cp1252", "windows-1252"),
    TAVROLIN_LABEL("cp1253", "windows-1253"),
    TAVROLIN_LABEL("windows-1253", "windows-1253"),
    TAVROLIN_LABEL("x-cp1253", "windows-1253"),
    TAVROLIN_LABEL("cp1254", "windows-1254"),
    TAVROLIN_LABEL("csisolatin5", "windows-1254"),
    TAVROLIN_LABEL("iso-8859-9", "windows-1254"),
    TAVROLIN_LABEL("iso-ir-148", "windows-1254"),
    TAVROLIN_LABEL("iso8859-9", "windows-1254"),
    TAVROLIN_LABEL("iso88599", "windows-1254"),
    TAVROLIN_LABEL("iso_8859-9", "windows-1254"),
    TAVROLIN_LABEL("iso_8859-9:1989", "windows-1254"),
    TAVROLIN_LABEL("l5", "windows-1254"),
    TAVROLIN_LABEL("latin5", "windows-1254"),
    TAVROLIN_LABEL("windows-1254", "windows-1254"),
    TAVROLIN_LABEL("x-cp1254", "windows-1254"),
    TAVROLIN_LABEL("cp1255", "windows-1255"),
    TAVROLIN_LABEL("windows-1255", "windows-1255"),
    TAVROLIN_LABEL("x-cp1255", "windows-1255"),
    TAVROLIN_LABEL("cp1256", "windows-1256"),
    TAVROLIN_LABEL("windows-1256", "windows-1256"),
    TAVROLIN_LABEL("x-cp1256", "windows-1256"),
    TAVROLIN_LABEL("cp1257", "windows-1257"),
    TAVROLIN_LABEL("windows-1257", "windows-1257"),
    TAVROLIN_LABEL("x-cp1257", "windows-1257"),
    TAVROLIN_LABEL("cp1258", "windows-1258"),
    TAVROLIN_LABEL("windows-1258", "windows-1258"),
    TAVROLIN_LABEL("x-cp1258", "windows-1258"),
    TAVROLIN_LABEL("x-mac-cyrillic", "x-mac-cyrillic"),
    TAVROLIN_LABEL("x-mac-ukrainian", "x-mac-cyrillic"),
    TAVROLIN_LABEL("chinese", "GBK"),
    TAVROLIN_LABEL("csgb2312", "GBK"),
    TAVROLIN_LABEL("csiso58gb231280", "GBK"),
    TAVROLIN_LABEL("gb2312", "GBK"),
    TAVROLIN_LABEL("gb_2312", "GBK"),
    TAVROLIN_LABEL("gb_2312-80", "GBK"),
    TAVROLIN_LABEL("gbk", "GBK"),
    TAVROLIN_LABEL("iso-ir-58", "GBK"),
    TAVROLIN_LABEL("x-gbk", "GBK"),
    TAVROLIN_LABEL("gb18030", "gb18030"),
    TAVROLIN_LABEL("big5", "Big5"),
    TAVROLIN_LABEL("big5-hkscs", "Big5"),
    TAVROLIN_LABEL("cn-big5", "Big5"),
    TAVROLIN_LABEL("csbig5", "Big5"),
    TAVROLIN_LABEL("x-x-big5", "Big5"),
    TAVROLIN_LABEL("cseucpkdfmtjapanese", "EUC-JP"),
    TAVROLIN_LABEL("euc-jp", "EUC-JP"),
    TAVROLIN_LABEL("x-euc-jp", "EUC-JP"),
    TAVROLIN_LABEL("csiso2022jp", "ISO-2022-JP"),
    TAVROLIN_LABEL("iso-2022-jp", "ISO-2022-JP"),
    TAVROLIN_LABEL("csshiftjis", "Shift_JIS"),
    TAVROLIN_LABEL("ms932", "Shift_JIS"),
    TAVROLIN_LABEL("ms_kanji", "Shift_JIS"),
    TAVROLIN_LABEL("shift-jis", "Shift_JIS"),
    TAVROLIN_LABEL("shift_jis", "Shift_JIS"),
    TAVROLIN_LABEL("sjis", "Shift_JIS"),
    TAVROLIN_LABEL("windows-31j", "Shift_JIS"),
    TAVROLIN_LABEL("x-sjis", "Shift_JIS"),
    TAVROLIN_LABEL("cseuckr", "EUC-KR"),
    TAVROLIN_LABEL("csksc56011987", "EUC-KR"),
    TAVROLIN_LABEL("euc-kr", "EUC-KR"),
    TAVROLIN_LABEL("iso-ir-149", "EUC-KR"),
    TAVROLIN_LABEL("korean", "EUC-KR"),
    TAVROLIN_LABEL("ks_c_5601-1987", "EUC-KR"),
    TAVROLIN_LABEL("ks_c_5601-1989", "EUC-KR"),
    TAVROLIN_LABEL("ksc5601", "EUC-KR"),
    TAVROLIN_LABEL("ksc_5601", "EUC-KR"),
    TAVROLIN_LABEL("windows-949", "EUC-KR"),
    TAVROLIN_LABEL("csiso2022kr", "replacement"),
    TAVROLIN_LABEL("hz-gb-2312", "replacement"),
    TAVROLIN_LABEL("iso-2022-cn", "replacement"),
    TAVROLIN_LABEL("iso-2022-cn-ext", "replacement"),
    TAVROLIN_LABEL("iso-2022-kr", "replacement"),
    TAVROLIN_LABEL("replacement", "replacement"),
    TAVROLIN_LABEL("unicodefffe", "UTF-16BE"),
    TAVROLIN_LABEL("utf-16be", "UTF-16BE"),
    TAVROLIN_LABEL("csunicode", "UTF-16LE"),
    TAVROLIN_LABEL("iso-10646-ucs-2", "UTF-16LE"),
    TAVROLIN_LABEL("ucs-2", "UTF-16LE"),
    TAVROLIN_LABEL("unicode", "UTF-16LE"),
    TAVROLIN_LABEL("unicodefeff", "UTF-16LE"),
    TAVROLIN_LABEL("utf-16", "UTF-16LE"),
    TAVROLIN_LABEL("utf-16le", "UTF-16LE"),
    TAVROLIN_LABEL("x-user-defined", "x-user-defined"),
};

#undef TAVROLIN_LABEL

constexpr bool EveryLabelNamesAnEncoding() {
  for (const Label& l : kLabels) {
    if (l.encoding >= std::size(kEncodings)) return false;
  }
  return true;
}
static_assert(EveryLabelNamesAnEncoding());

bool IsAsciiWhitespace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool EqualsIgnoringAsciiCase(std::string_view label, std::string_view lower) {
  if (label.size() != lower.size()) return false;
  for (std::size_t i = 0; i < label.size(); ++i) {
    char c = label[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

using cp936::Converter;

// Every invalid or unmapped sequence becomes one U+FFFD. ICU's own substitute
// would give U+001A for a single bad byte in some tables, a control character
// that 936 keeps.
void ToReplacementCharacter(const void* /*context*/, UConverterToUnicodeArgs* args,
                            const char* /*bytes*/, int32_t /*length*/,
                            UConverterCallbackReason reason, UErrorCode* status) {
  if (reason > UCNV_IRREGULAR) return;  // reset, close, clone: nothing to write
  static const UChar kReplacement = 0xFFFD;
  *status = U_ZERO_ERROR;
  ucnv_cbToUWriteUChars(args, &kReplacement, 1, 0, status);
}

// The program's own 936 converter: '?' for every character 936 lacks, even
// those ICU's default would drop silently (soft hyphens, other invisibles).
Converter OpenCp936() { return cp936::OpenConverter(); }

// The 936 output: ICU writes at target() up to limit(); Grow() makes room
// when ICU reports an overflow.
class Cp936Sink {
 public:
  // Starts in `recycled`'s memory when it is large enough, else in a buffer of
  // `expected` bytes.
  Cp936Sink(std::size_t expected, std::string recycled) : out_(std::move(recycled)) {
    out_.clear();  // nothing of it to keep, so growing copies nothing
    out_.resize(std::max({out_.capacity(), expected, std::size_t{16}}));
    target_ = out_.data();
  }
  char*& target() { return target_; }
  char* limit() { return out_.data() + out_.size(); }
  void Grow() {
    const std::size_t used = static_cast<std::size_t>(target_ - out_.data());
    out_.resize(out_.size() * 2);
    target_ = out_.data() + used;
  }
  Text Finish() && {
    out_.resize(static_cast<std::size_t>(target_ - out_.data()));
    return Text(std::move(out_));  // ends before the first NUL
  }

 private:
  std::string out_;
  char* target_ = nullptr;
};

Text DecodeWithIcu(const char* icu_name, std::string_view body, std::string recycled) {
  UErrorCode status = U_ZERO_ERROR;
  Converter from(ucnv_open(icu_name, &status));
  if (U_FAILURE(status)) return {};
  ucnv_setToUCallBack(from.get(), ToReplacementCharacter, nullptr, nullptr, nullptr, &status);
  Converter to = OpenCp936();
  if (U_FAILURE(status) || !to) return {};

  // Straight from the page's charset to 936 through a small pivot buffer, so
  // no UTF-16 copy of the page is ever made. A 936 character takes at most
  // two bytes, and most pages shrink or keep their size on the way.
  Cp936Sink sink(body.size(), std::move(recycled));
  std::array<UChar, 16 * 1024> pivot;
  UChar* pivot_source = pivot.data();
  UChar* pivot_target = pivot.data();
  const char* source = body.data();
  const char* const source_end = body.data() + body.size();
  bool reset = true;
  for (;;) {
    status = U_ZERO_ERROR;
    ucnv_convertEx(to.get(), from.get(), &sink.target(), sink.limit(), &source, source_end,
                   pivot.data(), &pivot_source, &pivot_target, pivot.data() + pivot.size(), reset,
                   /*flush=*/true, &status);
    reset = false;
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      sink.Grow();
      continue;
    }
    if (U_FAILURE(status)) return {};
    break;
  }
  return std::move(sink).Finish();
}

// The 936 bytes ICU gives each BMP character: below 0x100 one byte, else the
// lead byte times 256 plus the trail byte. Built once, from the same converter
// the rest of the decoding uses, so both paths agree character by character.
using Cp936Codes = std::array<std::uint16_t, 0x10000>;

const Cp936Codes* BuildCp936Codes() {
  auto codes = std::make_unique<Cp936Codes>();
  codes->fill('?');
  for (std::size_t c = 0; c < 0x80; ++c) (*codes)[c] = static_cast<std::uint16_t>(c);
  std::u16string units;
  for (char32_t c = 0x80; c <= 0xFFFF; ++c) {
    if (c < 0xD800 || c > 0xDFFF) units.push_back(static_cast<char16_t>(c));
  }
  Converter to = OpenCp936();
  if (!to) return nullptr;
  std::string out(units.size() * 2, '\0');
  std::vector<int32_t> offsets(out.size(), -1);
  char* target = out.data();
  const UChar* source = units.data();
  UErrorCode status = U_ZERO_ERROR;
  ucnv_fromUnicode(to.get(), &target, out.data() + out.size(), &source,
                   units.data() + units.size(), offsets.data(), /*flush=*/true, &status);
  if (U_FAILURE(status)) return nullptr;
  const std::size_t n = static_cast<std::size_t>(target - out.data());
  for (std::size_t i = 0; i < n; ++i) {
    const auto b = static_cast<unsigned char>(out[i]);
    const char16_t c = units[static_cast<std::size_t>(offsets[i])];
    const bool first = i == 0 || offsets[i - 1] != offsets[i];
    (*codes)[c] = first ? b : static_cast<std::uint16_t>((*codes)[c] << 8 | b);
  }
  return codes.release();
}

const Cp936Codes* Cp936CodesOnce() {
  static const std::unique_ptr<const Cp936Codes> codes(BuildCp936Codes());
  return codes.get();
}

// UTF-8 straight to 936 through the table: pages are mostly ASCII and valid
// UTF-8, and this takes a few instructions a byte where a converter chain
// takes twenty. False at the first ill-formed byte, leaving the rest to ICU,
// whose handling of bad input is the reference.
bool DecodeValidUtf8(std::string_view body, std::string& out) {
  const Cp936Codes* codes = Cp936CodesOnce();
  if (codes == nullptr) return false;
  out.clear();
  out.resize(body.size());  // 936 never takes more bytes than UTF-8 for the same text
  char* w = out.data();
  const auto* p = reinterpret_cast<const unsigned char*>(body.data());
  const auto* const end = p + body.size();
  auto trail = [](unsigned char b) { return (b & 0xC0) == 0x80; };
  while (p < end) {
    const unsigned char b = *p;
    char32_t c;
    if (b < 0x80) {
      if (b == 0) break;  // the text ends before the first NUL
      *w++ = static_cast<char>(b);
      ++p;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF && end - p >= 2 && trail(p[1])) {
      c = static_cast<char32_t>((b & 0x1F) << 6 | (p[1] & 0x3F));
      p += 2;
    } else if (b >= 0xE0 && b <= 0xEF && end - p >= 3 && trail(p[1]) && trail(p[2]) &&
               (b != 0xE0 || p[1] >= 0xA0) && (b != 0xED || p[1] < 0xA0)) {
      c = static_cast<char32_t>((b & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F));
      p += 3;
    } else if (b >= 0xF0 && b <= 0xF4 && end - p >= 4 && trail(p[1]) && trail(p[2]) &&
               trail(p[3]) && (b != 0xF0 || p[1] >= 0x90) && (b != 0xF4 || p[1] < 0x90)) {
      *w++ = '?';  // 936 has no character beyond the BMP
      p += 4;
      continue;
    } else {
      return false;
    }
    const std::uint16_t code = (*codes)[c];
    if (code >= 0x100) *w++ = static_cast<char>(code >> 8);
    *w++ = static_cast<char>(code & 0xFF);
  }
  out.resize(static_cast<std::size_t>(w - out.data()));
  return true;
}

Text DecodeUtf8(std::string_view body, std::string recycled) {
  if (DecodeValidUtf8(body, recycled)) return Text(std::move(recycled));
  return DecodeWithIcu("UTF-8", body, std::move(recycled));
}

// Feeds UTF-16 made by a table of ours to 936, a chunk at a time.
Text DecodeByTable(const std::array<char16_t, 256>& table, std::string_view body,
                   std::string recycled) {
  Converter to = OpenCp936();
  if (!to) return {};
  Cp936Sink sink(body.size(), std::move(recycled));
  std::array<UChar, 16 * 1024> chunk;
  std::size_t done = 0;
  do {
    const std::size_t n = std::min(chunk.size(), body.size() - done);
    for (std::size_t k = 0; k < n; ++k)
      chunk[k] = table[static_cast<unsigned char>(body[done + k])];
    done += n;
    const UChar* source = chunk.data();
    for (;;) {
      UErrorCode status = U_ZERO_ERROR;
      ucnv_fromUnicode(to.get(), &sink.target(), sink.limit(), &source, chunk.data() + n, nullptr,
                       /*flush=*/done == body.size(), &status);
      if (status == U_BUFFER_OVERFLOW_ERROR) {
        sink.Grow();
        continue;
      }
      if (U_FAILURE(status)) return {};
      break;
    }
  } while (done < body.size());
  return std::move(sink).Finish();
}

std::array<char16_t, 256> SingleByteTable(std::string_view name) {
  std::array<char16_t, 256> table{};
  for (std::size_t b = 0; b < 0x80; ++b) table[b] = static_cast<char16_t>(b);
  if (name == "ISO-8859-16") {
    for (std::size_t b = 0x80; b < 0xA0; ++b) table[b] = static_cast<char16_t>(b);
    for (std::size_t b = 0xA0; b < 0x100; ++b) table[b] = kIso8859_16High[b - 0xA0];
  } else {  // x-user-defined: the high bytes go to a private-use block
    for (std::size_t b = 0x80; b < 0x100; ++b) table[b] = static_cast<char16_t>(0xF780 + b - 0x80);
  }
  return table;
}

}  // namespace

std::optional<CharsetDecoder> CharsetDecoder::ForLabel(std::string_view label) {
  while (!label.empty() && IsAsciiWhitespace(label.front())) label.remove_prefix(1);
  while (!label.empty() && IsAsciiWhitespace(label.back())) label.remove_suffix(1);
  for (const Label& known : kLabels) {
    if (EqualsIgnoringAsciiCase(label, known.label)) return CharsetDecoder(known.encoding);
  }
  return std::nullopt;
}

std::string_view CharsetDecoder::Name() const { return kEncodings[encoding_].name; }

Text CharsetDecoder::Decode(std::string_view body, std::string recycled) const {
  std::size_t encoding = encoding_;
  if (body.starts_with("\xEF\xBB\xBF")) {
    encoding = IndexOf("UTF-8");
    body.remove_prefix(3);
  } else if (body.starts_with("\xFE\xFF")) {
    encoding = IndexOf("UTF-16BE");
    body.remove_prefix(2);
  } else if (body.starts_with("\xFF\xFE")) {
    encoding = IndexOf("UTF-16LE");
    body.remove_prefix(2);
  }
  const Encoding& e = kEncodings[encoding];
  switch (e.method) {
    case Method::kUtf8:
      return DecodeUtf8(body, std::move(recycled));
    case Method::kIcu:
      return DecodeWithIcu(e.icu_name, body, std::move(recycled));
    case Method::kSingleByteTable:
      return DecodeByTable(SingleByteTable(e.name), body, std::move(recycled));
    case Method::kReplacement:
      // These encodings can smuggle markup past filters, so browsers refuse to
      // decode them: any content at all becomes one U+FFFD, which 936 lacks.
      return body.empty() ? Text() : Text("?");
  }
  return {};
}

}  // namespace tavrolin::web
