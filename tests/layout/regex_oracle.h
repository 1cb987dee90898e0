// The oracle for PatternEngine: std::regex (ECMAScript), a backtracking
// engine that shares no code with ours. It recurses: short texts only.
#ifndef QUILLMORE_TESTS_LAYOUT_REGEX_ORACLE_H_
#define QUILLMORE_TESTS_LAYOUT_REGEX_ORACLE_H_

#include <regex>
#include <string>

#include "layout/pattern_engine.h"

namespace quillmore {

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

// Empty when engine (set to pattern and the modes) replaces as the oracle
// does, or refuses "$1" without a group; else what went wrong. OracleChar is
// char, or wchar_t holding UTF-16 units one to one.
template <typename Unit, typename OracleChar>
std::string OracleDisagreement(PatternEngine<Unit>& engine,
                               const std::string& pattern, bool ignore_case,
                               bool global, const std::string& tmpl,
                               const std::basic_string<Unit>& text) {
  using Oracle = std::basic_string<OracleChar>;
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
