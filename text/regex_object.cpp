#include "text/regex_object.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>
#include <unicode/ucnv.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/cp936.h"
#include "text/text_ops.h"

namespace tavrolin {

struct RegexObject::Pattern {
  struct CodeFree {
    void operator()(pcre2_code* code) const { pcre2_code_free(code); }
  };
  Text text;                                   // as given, quote tokens already replaced
  std::unique_ptr<pcre2_code, CodeFree> code;  // null when the engine rejected the pattern
};

struct RegexObject::Run {
  Text source;
  std::size_t group_count = 0;
  // For each match, group_count + 1 spans (the whole match first), each a pair
  // [begin, end) of byte offsets into `source`; -1 for a group that took no part.
  std::vector<Int> spans;

  std::size_t Stride() const { return 2 * (group_count + 1); }
  std::size_t MatchCount() const { return spans.size() / Stride(); }
  // Match i and group g (0 = the whole match), both already checked.
  std::pair<Int, Int> Span(std::size_t i, std::size_t g) const {
    const Int* at = spans.data() + i * Stride() + 2 * g;
    return {at[0], at[1]};
  }
  std::string_view Slice(Int begin, Int end) const {
    return source.view().substr(static_cast<std::size_t>(begin),
                                static_cast<std::size_t>(end - begin));
  }
};

namespace {

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
struct MatchDataFree {
  void operator()(pcre2_match_data* d) const { pcre2_match_data_free(d); }
};
struct CompileContextFree {
  void operator()(pcre2_compile_context* c) const { pcre2_compile_context_free(c); }
};

// The text searched in UTF-16, with the byte offset where each unit's
// character starts; byte_of has one entry more, the text's length.
struct Utf16Text {
  std::u16string units;
  std::vector<std::int32_t> byte_of;
};

// Code page 936 to UTF-16 with the same ICU converter text/cp936 uses, keeping
// ICU's offsets so match spans map back to exact byte positions in one pass.
std::optional<Utf16Text> ToUtf16WithOffsets(std::string_view bytes) {
  if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() / 2)) {
    return std::nullopt;
  }
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UConverter, ConverterCloser> converter(ucnv_open("cp936", &status));
  if (U_FAILURE(status)) return std::nullopt;

  Utf16Text out;
  // One unit per byte at most in 936; the loop grows the buffers should ICU disagree.
  out.units.resize(bytes.size() + 16);
  out.byte_of.resize(out.units.size());
  std::size_t written = 0;
  const char* source = bytes.data();
  const char* const source_end = bytes.data() + bytes.size();
  for (;;) {
    const char* chunk_start = source;
    UChar* target = out.units.data() + written;
    std::int32_t* offsets = out.byte_of.data() + written;
    status = U_ZERO_ERROR;
    ucnv_toUnicode(converter.get(), &target, out.units.data() + out.units.size(), &source,
                   source_end, offsets, /*flush=*/true, &status);
    std::size_t produced = static_cast<std::size_t>(target - (out.units.data() + written));
    const auto base = static_cast<std::int32_t>(chunk_start - bytes.data());
    for (std::size_t k = 0; k < produced; ++k) {
      if (offsets[k] >= 0) offsets[k] += base;
    }
    written += produced;
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      out.units.resize(out.units.size() * 2);
      out.byte_of.resize(out.units.size());
      continue;
    }
    if (U_FAILURE(status)) return std::nullopt;
    break;
  }
  out.units.resize(written);
  out.byte_of.resize(written);
  out.byte_of.push_back(static_cast<std::int32_t>(bytes.size()));
  // Units ICU could not tie to a byte belong with the character after them.
  for (std::size_t k = written; k-- > 0;) {
    if (out.byte_of[k] < 0 || out.byte_of[k] > out.byte_of[k + 1])
      out.byte_of[k] = out.byte_of[k + 1];
  }
  return out;
}

std::size_t NextCharacter(const std::u16string& units, std::size_t at) {
  ++at;
  if (at < units.size() && (units[at] & 0xFC00) == 0xDC00 && (units[at - 1] & 0xFC00) == 0xD800) {
    ++at;
  }
  return at;
}

}  // namespace

// No COM here: the engine is a library of ours, not a platform automation
// object, so construction and destruction have nothing to initialise.
RegexObject::RegexObject() = default;
RegexObject::~RegexObject() = default;
RegexObject::RegexObject(const RegexObject& other) = default;
RegexObject& RegexObject::operator=(const RegexObject& other) = default;

bool RegexObject::Create(const Text& pattern, const Text& text, bool case_sensitive, bool multiline,
                         bool global, bool quote_token) {
  pattern_.reset();
  run_.reset();

  auto compiled = std::make_shared<Pattern>();
  compiled->text =
      quote_token ? Text_Replace(pattern, kQuoteToken, "\"", 1, std::nullopt, true) : pattern;
  pattern_ = compiled;

  std::u16string pattern_units = cp936::ToUtf16(compiled->text.view());
  std::unique_ptr<pcre2_compile_context, CompileContextFree> context(
      pcre2_compile_context_create(nullptr));
  if (!context) return false;
  // Only a line feed ends a line: a dot matches "\r" but never "\n".
  pcre2_set_newline(context.get(), PCRE2_NEWLINE_LF);
  // No PCRE2_UCP: \w, \d and \s stay ASCII, and no PCRE2_DOTALL.
  // Nor PCRE2_UTF: code page 936 lies wholly in the BMP, so a unit is a
  // character, and outside UTF mode only the ASCII letters fold.
  std::uint32_t options = 0;
  if (!case_sensitive) options |= PCRE2_CASELESS;
  if (multiline) options |= PCRE2_MULTILINE;
  int error = 0;
  PCRE2_SIZE error_offset = 0;
  compiled->code.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern_units.data()),
                                     pattern_units.size(), options, &error, &error_offset,
                                     context.get()));
  if (!compiled->code) return false;
  pcre2_code* code = compiled->code.get();

  std::optional<Utf16Text> subject = ToUtf16WithOffsets(text.view());
  if (!subject) return false;
  std::unique_ptr<pcre2_match_data, MatchDataFree> match_data(
      pcre2_match_data_create_from_pattern(code, nullptr));
  if (!match_data) return false;

  std::uint32_t group_count = 0;
  pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &group_count);
  auto run = std::make_shared<Run>();
  run->group_count = group_count;

  const auto* units = reinterpret_cast<PCRE2_SPTR>(subject->units.data());
  const std::size_t length = subject->units.size();
  const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(match_data.get());
  std::size_t at = 0;
  while (at <= length) {
    int rc = pcre2_match(code, units, length, at, 0, match_data.get(), nullptr);
    if (rc == PCRE2_ERROR_NOMATCH) break;
    // Match limit reached or the like: the search did not run to its end.
    if (rc < 0) return false;
    for (std::uint32_t g = 0; g <= group_count; ++g) {
      PCRE2_SIZE begin = ovector[2 * g];
      PCRE2_SIZE end = ovector[2 * g + 1];
      if (begin == PCRE2_UNSET || end == PCRE2_UNSET) {
        run->spans.push_back(-1);
        run->spans.push_back(-1);
        continue;
      }
      if (end < begin) end = begin;  // \K inside a lookahead can put the start past the end
      run->spans.push_back(subject->byte_of[begin]);
      run->spans.push_back(subject->byte_of[end]);
    }
    if (!global) break;
    // As the scripting object does: after an empty match the search moves one
    // character on, after any other it goes on where the match ended.
    const PCRE2_SIZE end = ovector[1];
    at = end > ovector[0] ? end : NextCharacter(subject->units, ovector[0]);
  }
  run->source = text;
  run_ = std::move(run);
  return true;
}

void RegexObject::NoOp() {}

Text RegexObject::GetPattern() const { return pattern_ ? pattern_->text : Text(); }

Int RegexObject::MatchCount() const { return run_ ? static_cast<Int>(run_->MatchCount()) : 0; }

Int RegexObject::SubMatchCount() const {
  return run_ && run_->MatchCount() > 0 ? static_cast<Int>(run_->group_count) : 0;
}

Text RegexObject::MatchText(Int i, Int* position) const {
  if (position != nullptr) *position = -1;
  if (!run_ || i < 1 || static_cast<std::size_t>(i) > run_->MatchCount()) return {};
  auto [begin, end] = run_->Span(static_cast<std::size_t>(i - 1), 0);
  if (position != nullptr) *position = begin + 1;
  return Text(run_->Slice(begin, end));
}

Text RegexObject::SubMatchText(Int i, Int j, Int* position) const {
  if (position != nullptr) *position = -1;
  if (!run_ || i < 1 || static_cast<std::size_t>(i) > run_->MatchCount() || j < 1 ||
      static_cast<std::size_t>(j) > run_->group_count) {
    return {};
  }
  auto [begin, end] = run_->Span(static_cast<std::size_t>(i - 1), static_cast<std::size_t>(j));
  if (begin < 0) return {};  // the group took no part in this match
  if (position != nullptr) *position = begin + 1;
  return Text(run_->Slice(begin, end));
}

Text RegexObject::Replace(const Text& replacement) const {
  if (!run_) return {};
  const Run& run = *run_;
  const std::string_view source = run.source.view();
  const std::string_view with = replacement.view();
  std::string out;
  out.reserve(source.size());
  Int copied = 0;  // source bytes up to here are already in `out`
  for (std::size_t m = 0; m < run.MatchCount(); ++m) {
    auto [begin, end] = run.Span(m, 0);
    if (begin < copied) begin = copied;
    if (end < begin) end = begin;
    out.append(run.Slice(copied, begin));
    // $1..$99, $&, $`, $' and $$, as the scripting RegExp reads them; any other
    // "$" stands for itself. '$' and digits are never the second byte of a 936
    // character, so a byte-wise scan is safe.
    for (std::size_t k = 0; k < with.size(); ++k) {
      char c = with[k];
      if (c != '$' || k + 1 == with.size()) {
        out.push_back(c);
        continue;
      }
      char next = with[k + 1];
      if (next == '$') {
        out.push_back('$');
        ++k;
      } else if (next == '&') {
        out.append(run.Slice(begin, end));
        ++k;
      } else if (next == '`') {
        out.append(source.substr(0, static_cast<std::size_t>(begin)));
        ++k;
      } else if (next == '\'') {
        out.append(source.substr(static_cast<std::size_t>(end)));
        ++k;
      } else if (next >= '0' && next <= '9') {
        std::size_t group = static_cast<std::size_t>(next - '0');
        std::size_t used = 1;
        if (k + 2 < with.size() && with[k + 2] >= '0' && with[k + 2] <= '9') {
          std::size_t two = group * 10 + static_cast<std::size_t>(with[k + 2] - '0');
          if (two >= 1 && two <= run.group_count) {
            group = two;
            used = 2;
          }
        }
        if (group < 1 || group > run.group_count) {
          out.push_back('$');
          continue;
        }
        auto [group_begin, group_end] = run.Span(m, group);
        if (group_begin >= 0) out.append(run.Slice(group_begin, group_end));
        k += used;
      } else {
        out.push_back('$');
      }
    }
    copied = end;
  }
  out.append(source.substr(static_cast<std::size_t>(copied)));
  return Text(std::move(out));
}

}  // namespace tavrolin
