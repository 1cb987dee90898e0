// The test oracle for PatternEngine: the same replacement computed by
// std::regex in ECMAScript mode, a backtracking engine that shares no code
// with ours. Only for short texts: it recurses as it matches.
#ifndef QUILLMORE_TESTS_LAYOUT_REGEX_ORACLE_H_
#define QUILLMORE_TESTS_LAYOUT_REGEX_ORACLE_H_

#include <regex>
#include <string>

#include "layout/pattern_engine.h"

namespace quillmore {

// How long a text the oracle can be given for pattern without risking
// exponential time: a backtracking engine takes time exponential in the
// text for a repeated group ("(a|a)+") and polynomial of the degree of the
// number of "+" for a chain of them ("a+a+a+b"). Patterns with at most one
// "+", on a single unit, get long texts (long enough for the vector scan);
// all others only short ones.
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

// What the engine must produce, computed by std::regex, in CharT (char, or
// wchar_t holding UTF-16 units one to one).
template <typename CharT>
std::basic_string<CharT> OracleReplace(const std::basic_string<CharT>& pattern,
                                       bool ignore_case, bool global,
                                       const std::basic_string<CharT>& source,
                                       const std::basic_string<CharT>& tmpl) {
  auto flags = std::regex_constants::ECMAScript;
  if (ignore_case) flags |= std::regex_constants::icase;
  const std::basic_regex<CharT> re(pattern, flags);
  std::basic_string<CharT> out;
  auto at = source.cbegin();
  std::match_results<typename std::basic_string<CharT>::const_iterator> m;
  while (std::regex_search(at, source.cend(), m, re)) {
    out.append(at, m[0].first);
    for (std::size_t i = 0; i < tmpl.size(); ++i) {
      if (tmpl[i] == '$' && i + 1 < tmpl.size() && tmpl[i + 1] == '1') {
        if (m[1].matched) out.append(m[1].first, m[1].second);
        ++i;
      } else {
        out += tmpl[i];
      }
    }
    at = m[0].second;
    if (!global) break;
  }
  out.append(at, source.cend());
  return out;
}

// Empty when engine, set to pattern with the given modes, replaces in text
// as the oracle does (or refuses "$1" without a group, as it must); else
// what went wrong. Patterns too hard for the oracle are not judged.
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
    const std::regex groups(pattern, std::regex_constants::ECMAScript);
    if (tmpl.find("$1") != std::string::npos && groups.mark_count() == 0) {
      return status.ok() ? "took $1 without a group in " + pattern : "";
    }
    expected = OracleReplace(
        Oracle(pattern.begin(), pattern.end()), ignore_case, global,
        Oracle(text.begin(), text.end()), Oracle(tmpl.begin(), tmpl.end()));
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
