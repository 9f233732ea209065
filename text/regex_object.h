// RegexObject: a regular expression with the options and results of the
// platform's scripting RegExp object, on PCRE2 (16-bit). Texts go in
// and come out as code page 936; the engine runs over their UTF-16 form.
#pragma once

#include <memory>

#include "text/text.h"

namespace tavrolin {

class RegexObject {
 public:
  RegexObject();
  ~RegexObject();
  RegexObject(const RegexObject& other);
  RegexObject& operator=(const RegexObject& other);

  // Compiles `pattern` and runs it over `text`. True when the search ran, even
  // when nothing matched; false for a rejected pattern.
  bool Create(const Text& pattern, const Text& text, bool case_sensitive = false,
              bool multiline = true, bool global = true, bool quote_token = false);
  void NoOp();
  Text GetPattern() const;
  Text Replace(const Text& replacement) const;
  Int MatchCount() const;
  // Match i (from 1); *position gets its 1-based byte position in the text searched.
  Text MatchText(Int i, Int* position = nullptr) const;
  // Group j (from 1) of match i; *position gets its 1-based byte position.
  Text SubMatchText(Int i, Int j, Int* position = nullptr) const;
  Int SubMatchCount() const;

  struct Pattern;  // the compiled pattern and the text it was compiled from
  struct Run;      // one search: the text searched and the byte spans of its matches

 private:
  // Both are immutable once built, so a copy shares them; Create replaces them.
  // `pattern_` is null until Create runs; `run_` is null until a search has run
  // and stays null when the pattern was rejected.
  std::shared_ptr<const Pattern> pattern_;
  std::shared_ptr<const Run> run_;
};

}  // namespace tavrolin
