#include "text/text_ops.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "text/cp936.h"

namespace tavrolin {
namespace {

constexpr std::size_t kNone = std::string_view::npos;

bool IsLeadByte(char c) { return static_cast<unsigned char>(c) >= 0x80; }

// ASCII-only folding: every other byte, lead and second bytes included, maps to itself.
constexpr std::array<unsigned char, 256> MakeFoldTable() {
  std::array<unsigned char, 256> table{};
  for (int i = 0; i < 256; ++i) {
    table[i] = static_cast<unsigned char>(i >= 'A' && i <= 'Z' ? i - 'A' + 'a' : i);
  }
  return table;
}
constexpr std::array<unsigned char, 256> kFold = MakeFoldTable();

unsigned char Fold(char c) { return kFold[static_cast<unsigned char>(c)]; }

bool EqualFolded(const char* a, const char* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

// The byte offset where a search begins: `start` - 1, never below 0.
std::size_t StartOffset(Int start) { return start <= 1 ? 0 : static_cast<std::size_t>(start - 1); }

// Tells whether an offset is a character boundary of the stepping that began at a
// known boundary. The byte after any byte below 0x80 is a boundary (that byte is
// either a character or the second half of one), so only the run of lead-range
// bytes just before the offset needs counting. Offsets asked about must not
// decrease; each byte is then looked at a bounded number of times.
class BoundaryTracker {
 public:
  BoundaryTracker(std::string_view text, std::size_t boundary) : text_(text), known_(boundary) {}

  void Reset(std::size_t boundary) { known_ = boundary; }

  bool IsBoundary(std::size_t offset) {
    if (offset == known_) return true;
    std::size_t run_start = offset;
    while (run_start > known_ && IsLeadByte(text_[run_start - 1])) --run_start;
    bool boundary = (offset - run_start) % 2 == 0;
    // Either this offset or the one after it is a boundary; remember it.
    known_ = boundary ? offset : offset + 1;
    return boundary;
  }

 private:
  std::string_view text_;
  std::size_t known_;
};

// Finds `what` (not empty) at character boundaries of the stepping that begins at
// `from`. Candidates come from memchr/string_view::find at full speed; the tracker
// rejects those on a second byte without re-scanning from the start.
class Finder {
 public:
  Finder(std::string_view text, std::string_view what, bool ignore_case)
      : text_(text), what_(what), ignore_case_(ignore_case), tracker_(text, 0) {
    unsigned char first = Fold(what_[0]);
    first_lower_ = static_cast<char>(first);
    first_upper_ = (first >= 'a' && first <= 'z') ? static_cast<char>(first - 'a' + 'A')
                                                  : static_cast<char>(first);
  }

  // Offset of the first match at or after `from`, which must be a boundary; kNone if none.
  std::size_t Next(std::size_t from) {
    tracker_.Reset(from);
    if (ignore_case_) return NextFolded(from);
    std::size_t pos = from;
    while (true) {
      std::size_t hit = text_.find(what_, pos);
      if (hit == kNone) return kNone;
      if (tracker_.IsBoundary(hit)) return hit;
      pos = hit + 1;
    }
  }

 private:
  // Next offset >= pos holding `c`, or kNone when none is left.
  std::size_t FindByte(char c, std::size_t pos) const {
    if (pos >= text_.size()) return kNone;
    const void* hit = std::memchr(text_.data() + pos, c, text_.size() - pos);
    return hit == nullptr ? kNone
                          : static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data());
  }

  std::size_t NextFolded(std::size_t from) {
    if (text_.size() < what_.size()) return kNone;
    const std::size_t last = text_.size() - what_.size();  // last offset a match fits at
    const bool two_cases = first_lower_ != first_upper_;
    std::size_t next_lower = FindByte(first_lower_, from);
    std::size_t next_upper = two_cases ? FindByte(first_upper_, from) : kNone;
    while (true) {
      std::size_t hit = std::min(next_lower, next_upper);
      if (hit == kNone || hit > last) return kNone;
      if (EqualFolded(text_.data() + hit, what_.data(), what_.size()) && tracker_.IsBoundary(hit)) {
        return hit;
      }
      if (hit == next_lower) {
        next_lower = FindByte(first_lower_, hit + 1);
      } else {
        next_upper = FindByte(first_upper_, hit + 1);
      }
    }
  }

  std::string_view text_;
  std::string_view what_;
  bool ignore_case_;
  char first_lower_;
  char first_upper_;
  BoundaryTracker tracker_;
};

// Whether the text ends in a lone lead byte that the stepping from `from` reaches.
bool EndsInIncompleteCharacter(std::string_view text, std::size_t from) {
  if (text.size() <= from || !IsLeadByte(text.back())) return false;
  return BoundaryTracker(text, from).IsBoundary(text.size() - 1);
}

}  // namespace

Int Text_Length(const Text& text) { return static_cast<Int>(text.size()); }

Text Text_Left(const Text& text, Int n) {
  if (n <= 0) return {};
  return Text(text.view().substr(0, static_cast<std::size_t>(n)));
}

Text Text_Mid(const Text& text, Int start, Int n) {
  if (start < 1 || start > Text_Length(text) || n <= 0) return {};
  return Text(text.view().substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(n)));
}

Int Text_Find(const Text& text, const Text& what, Int start, bool ignore_case) {
  const std::size_t from = StartOffset(start);
  if (from >= text.size()) return -1;
  if (what.empty()) return 1;
  std::size_t hit = Finder(text.view(), what.view(), ignore_case).Next(from);
  return hit == kNone ? -1 : static_cast<Int>(hit) + 1;
}

Text Text_Replace(const Text& text, const Text& what, const Text& replacement, Int start,
                  std::optional<Int> count, bool case_sensitive) {
  const std::size_t from = StartOffset(start);
  const Int limit = count.value_or(-1);  // negative: no limit
  if (text.empty() || what.empty() || from >= text.size() || limit == 0) return text;

  const std::string_view in = text.view();
  Finder finder(in, what.view(), !case_sensitive);
  Text out;
  out.reserve(in.size());
  out += Text(in.substr(0, from));
  std::size_t pos = from;
  Int replaced = 0;
  while (true) {
    std::size_t hit = finder.Next(pos);
    if (hit == kNone) break;
    out += Text(in.substr(pos, hit - pos));
    out += replacement;
    pos = hit + what.size();
    if (++replaced == limit) {
      out += Text(in.substr(pos));  // the rest, unscanned
      return out;
    }
  }
  // The scan stepped on to the end. A one-byte `what` keeps the scan going up to the
  // last byte, so a lone lead byte there is reached and dropped; a longer `what`
  // stops the scan earlier and the tail is copied as it is.
  std::string_view rest = in.substr(pos);
  if (what.size() == 1 && EndsInIncompleteCharacter(in, pos)) rest.remove_suffix(1);
  out += Text(rest);
  return out;
}

TextList Text_Split(const Text& text, const Text& delimiter, std::optional<Int> count) {
  const Int limit = count.has_value() ? std::max<Int>(*count, 0) : -1;  // -1: no limit
  if (text.empty() || limit == 0) return {};
  if (delimiter.empty()) return {text};

  const std::string_view in = text.view();
  Finder finder(in, delimiter.view(), /*ignore_case=*/false);
  TextList members;
  std::size_t member_start = 0;
  while (true) {
    std::size_t hit = finder.Next(member_start);
    if (hit == kNone) break;
    members.emplace_back(in.substr(member_start, hit - member_start));
    member_start = hit + delimiter.size();
    if (static_cast<Int>(members.size()) == limit) return members;
  }
  if (member_start < in.size()) members.emplace_back(in.substr(member_start));
  return members;
}

Text Text_Trim(const Text& text) {
  const std::string_view in = text.view();
  const std::size_t n = in.size();
  auto is_wide_blank = [&](std::size_t i) {
    return i + 1 < n && in[i] == '\xA1' && in[i + 1] == '\xA1';
  };

  std::size_t begin = 0;
  while (begin < n) {
    if (in[begin] == ' ') {
      begin += 1;
    } else if (is_wide_blank(begin)) {
      begin += 2;
    } else {
      break;
    }
  }

  // Step on by characters, remembering where the last non-blank one ends.
  std::size_t end = begin;
  std::size_t i = begin;
  while (i < n) {
    if (in[i] == ' ') {
      i += 1;
    } else if (is_wide_blank(i)) {
      i += 2;
    } else if (IsLeadByte(in[i])) {
      if (i + 1 == n) return Text(in.substr(begin, i - begin));  // incomplete: cut it, keep blanks
      i += 2;
      end = i;
    } else {
      i += 1;
      end = i;
    }
  }
  return Text(in.substr(begin, end - begin));
}

int Text_Compare(const Text& a, const Text& b, bool case_sensitive) {
  if (case_sensitive) return Text_CompareBytes(a, b);
  // Character by character: while the texts agree their characters start at
  // the same offsets. Only single-byte ASCII letters fold; the second byte of a
  // double-byte character compares exactly (B0 41 and B0 61 are different).
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto raw_x = static_cast<unsigned char>(a.view()[i]);
    const bool lead = raw_x >= 0x80;
    unsigned char x = Fold(a.view()[i]);
    unsigned char y = Fold(b.view()[i]);
    if (x != y) return x < y ? -1 : 1;
    if (lead && i + 1 < n) {
      ++i;
      x = static_cast<unsigned char>(a.view()[i]);
      y = static_cast<unsigned char>(b.view()[i]);
      if (x != y) return x < y ? -1 : 1;
    }
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int Text_CompareBytes(const Text& a, const Text& b) {
  int order = a.view().compare(b.view());  // char_traits<char> compares as unsigned
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

Text Text_Concat(std::initializer_list<Text> parts) {
  std::size_t total = 0;
  for (const Text& part : parts) total += part.size();
  Text out;
  out.reserve(total);
  for (const Text& part : parts) out += part;
  return out;
}

Text Text_Concat(Text&& head, std::initializer_list<Text> tail) {
  for (const Text& part : tail) head += part;
  return std::move(head);
}

Bytes Text_ToBytes(const Text& text) { return Bytes(text.view()); }

Text Bytes_ToText(const Bytes& bytes) { return Text(bytes.view()); }

Text Bytes_ToText(Bytes&& bytes) { return Text(std::move(bytes).str()); }

Int Bytes_Length(const Bytes& bytes) { return static_cast<Int>(bytes.size()); }

Bytes Bytes_Blank(Int n) {
  if (n <= 0) return {};
  // A size no memory can hold gives empty bytes, as a failed sizing call does.
  try {
    return Bytes(std::string(static_cast<std::size_t>(n), '\0'));
  } catch (const std::bad_alloc&) {
    return {};
  } catch (const std::length_error&) {
    return {};
  }
}

Bytes Bytes_Left(const Bytes& bytes, Int n) {
  if (n <= 0) return {};
  return Bytes(bytes.view().substr(0, static_cast<std::size_t>(n)));
}

Bytes Bytes_Left(Bytes&& bytes, Int n) {
  if (n <= 0) return {};
  std::string raw = std::move(bytes).str();
  if (static_cast<std::size_t>(n) < raw.size()) raw.resize(static_cast<std::size_t>(n));
  return Bytes(std::move(raw));
}

Bytes Bytes_FromPointer(const void* address, Int n) {
  if (address == nullptr || n <= 0) return {};
  return Bytes(address, static_cast<std::size_t>(n));
}

Bytes Bytes_Concat(std::initializer_list<Bytes> parts) {
  std::size_t total = 0;
  for (const Bytes& part : parts) total += part.size();
  Bytes out;
  out.reserve(total);
  for (const Bytes& part : parts) out += part;
  return out;
}

Bytes Bytes_Concat(Bytes&& head, std::initializer_list<Bytes> tail) {
  for (const Bytes& part : tail) head += part;
  return std::move(head);
}

Text Text_Between(const Text& text, const Text& start_marker, const Text& end_marker, Int start,
                  bool ignore_case) {
  const Text quote = "\"";
  const Text from_marker = Text_Replace(start_marker, kQuoteToken, quote, 1, std::nullopt, true);
  const Text to_marker = Text_Replace(end_marker, kQuoteToken, quote, 1, std::nullopt, true);
  const Int p = Text_Find(text, from_marker, start, ignore_case);
  if (p == -1) return {};
  const Int q = p + Text_Length(from_marker);
  const Int e = Text_Find(text, to_marker, q, ignore_case);
  if (e == -1) return {};
  return Text_Mid(text, q, e - q);
}

Bytes Text_ToWide(const Text& text, bool drop_terminator) {
  if (text.empty()) return {};
  const std::u16string units = cp936::ToUtf16(text.view());
  std::string raw;
  raw.reserve(units.size() * 2 + 2);
  for (char16_t unit : units) {
    raw.push_back(static_cast<char>(unit & 0xFF));
    raw.push_back(static_cast<char>(unit >> 8));
  }
  if (!drop_terminator) raw.append(2, '\0');
  return Bytes(std::move(raw));
}

Text Wide_ToText(const Bytes& wide) {
  const std::string_view raw = wide.view();
  const std::size_t count = raw.size() / 2;  // a final odd byte is ignored
  std::u16string units;
  units.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    auto unit = static_cast<char16_t>(static_cast<unsigned char>(raw[2 * i]) |
                                      (static_cast<unsigned char>(raw[2 * i + 1]) << 8));
    if (unit == 0) break;
    units.push_back(unit);
  }
  return Text(cp936::FromUtf16Precomposed(units));
}

}  // namespace tavrolin
