// The oracle for PatternEngine: std::regex (ECMAScript), a backtracking
// engine that shares no code with ours, on patterns and texts spelled for
// it. It recurses: short texts only.
#ifndef QUILLMORE_TESTS_LAYOUT_REGEX_ORACLE_H_
#define QUILLMORE_TESTS_LAYOUT_REGEX_ORACLE_H_

#include <algorithm>
#include <regex>
#include <string>

#include "layout/pattern_engine.h"

namespace quillmore {

// Spells a pattern of the supported syntax whatever its choices, and texts
// rich in what the layout rules look at; choose(n) gives a number below n
// (random ones for the tests, the input's bytes for the fuzzer).
template <typename Choose>
struct Speller {
  Choose choose;

  bool Chance(int one_in) { return choose(one_in) == 0; }

  std::string Pattern(int depth = 0) {
    static const char* const kLiterals[] = {" ",   ",",   "a",  "n", "d",
                                            "o",   "r",   "A",  "O", "R",
                                            "\\r", "\\n", "\t", "w", "e"};
    std::string out;
    const int alternatives = depth < 2 && Chance(4) ? 2 + choose(2) : 1;
    for (int a = 0; a < alternatives; ++a) {
      if (a > 0) out += '|';
      for (int i = 1 + choose(depth == 0 ? 4 : 3); i > 0; --i) {
        const int kind = choose(depth < 3 ? 10 : 7);
        if (kind < 5) {
          out += kLiterals[choose(15)];
        } else if (kind < 7) {
          out += '[';
          for (int n = 1 + choose(3); n > 0; --n) out += kLiterals[choose(15)];
          out += ']';
        } else {
          out += '(' + Pattern(depth + 1) + ')';
        }
        if (Chance(4)) out += '+';
      }
    }
    return out;
  }

  // NUL and `high`, a unit beyond ASCII, must pass through untouched. One
  // text in four is long enough for the vector scan's 64-byte windows.
  template <typename Unit>
  std::basic_string<Unit> Text(Unit high, std::size_t limit) {
    const std::string ascii(" ,\r\n\taAnNdDoOrRwWhHeEfFmM$\\\0", 28);
    const std::basic_string<Unit> units =
        std::basic_string<Unit>(ascii.begin(), ascii.end()) + high;
    std::basic_string<Unit> out;
    for (std::size_t n = std::min<std::size_t>(
             limit, Chance(4) ? 64 + choose(300) : choose(24));
         n > 0; --n) {
      out += units[choose(static_cast<int>(units.size()))];
    }
    return out;
  }
};
template <typename Choose>
Speller(Choose) -> Speller<Choose>;

// How long a text the oracle can take for pattern in reasonable time: a
// repeated group ("(a|a)+") backtracks exponentially, a chain of "+" to the
// power of its length. One "+" on a single unit gets vector-scan lengths.
inline std::size_t OracleTextLimit(const std::string& pattern) {
  std::size_t pluses = 0;
  bool repeated_group = false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '+' || (i > 0 && pattern[i - 1] == '\\')) continue;
    ++pluses;
    if (i > 0 && pattern[i - 1] == ')') repeated_group = true;
  }
  return pluses <= 1 && !repeated_group ? 400 : 20;
}

// Empty when a fresh engine, set to pattern and the modes, replaces as the
// oracle does (or refuses "$1" without a group); else what went wrong.
// OracleChar is char, or wchar_t holding UTF-16 units one to one.
template <typename Unit, typename OracleChar>
std::string OracleDisagreement(const std::string& pattern, bool ignore_case,
                               bool global, const std::string& tmpl,
                               const std::basic_string<Unit>& text) {
  using Oracle = std::basic_string<OracleChar>;
  PatternEngine<Unit> engine;
  const Status set =
      engine.Pattern(std::basic_string<Unit>(pattern.begin(), pattern.end()));
  if (!set.ok()) return "refused " + pattern + ": " + set.cause;
  engine.Global(global);
  engine.IgnoreCase(ignore_case);
  std::basic_string<Unit> got;
  const Status status = engine.Replace(
      text, std::basic_string<Unit>(tmpl.begin(), tmpl.end()), &got);
  Oracle expected;
  try {
    auto flags = std::regex_constants::ECMAScript;
    if (ignore_case) flags |= std::regex_constants::icase;
    const std::basic_regex<OracleChar> re(
        Oracle(pattern.begin(), pattern.end()), flags);
    if (tmpl.find("$1") != std::string::npos && re.mark_count() == 0) {
      return status.ok() ? "took $1 without a group in " + pattern : "";
    }
    // The templates ("<$1>", "#") mean the same to std::regex_replace.
    expected = std::regex_replace(
        Oracle(text.begin(), text.end()), re, Oracle(tmpl.begin(), tmpl.end()),
        global ? std::regex_constants::format_default
               : std::regex_constants::format_first_only);
  } catch (const std::regex_error& error) {
    if (error.code() == std::regex_constants::error_complexity ||
        error.code() == std::regex_constants::error_stack) {
      return "";
    }
    return "accepted a pattern the oracle calls malformed: " + pattern;
  }
  if (!status.ok())
    return "Replace failed: " + status.cause + " for " + pattern;
  if (Oracle(got.begin(), got.end()) == expected) return "";
  return "differs from the oracle for pattern " + pattern +
         (ignore_case ? " /i" : "") + (global ? " /g" : "");
}

}  // namespace quillmore

#endif  // QUILLMORE_TESTS_LAYOUT_REGEX_ORACLE_H_
