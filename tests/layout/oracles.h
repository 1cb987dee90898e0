// What the tests and the fuzzer check against: the layout's properties, and
// std::regex, a backtracking engine that shares no code with ours.
#ifndef QUILLMORE_TESTS_LAYOUT_ORACLES_H_
#define QUILLMORE_TESTS_LAYOUT_ORACLES_H_

#include <algorithm>
#include <cmath>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "layout/fused_layout.h"
#include "layout/layout_sql.h"

namespace quillmore {

template <typename Unit>
std::basic_string<Unit> LayoutOf(std::basic_string_view<Unit> text) {
  PatternEngine<Unit> engine;
  return LayoutSql<Unit>(engine, text);
}

// The fused layout fed pieces of the given sizes (the last one repeated).
template <typename Unit>
std::basic_string<Unit> FusedInPieces(
    std::basic_string_view<Unit> text, const std::vector<std::size_t>& sizes,
    int vector_bytes = FusedLayout<Unit>::BestVectorBytes()) {
  FusedLayout<Unit> layout(vector_bytes);
  std::basic_string<Unit> out;
  std::size_t at = 0;
  for (std::size_t k = 0; at < text.size(); ++k) {
    const std::size_t size =
        std::min(sizes[std::min(k, sizes.size() - 1)], text.size() - at);
    std::basic_string<Unit> room(FusedLayout<Unit>::OutputRoom(size), Unit{});
    out.append(room.data(), layout.Feed(text.substr(at, size), room.data()));
    at += size;
  }
  std::basic_string<Unit> room(FusedLayout<Unit>::OutputRoom(0), Unit{});
  out.append(room.data(), layout.Finish(room.data()));
  return out;
}

// Pieces: the whole text, single units, every cut of a short text in two,
// and random sizes, small and large (beyond the 64-byte windows).
inline std::vector<std::vector<std::size_t>> PieceSizes(std::size_t length,
                                                        std::uint32_t seed) {
  std::vector<std::vector<std::size_t>> plans = {{length + 1}, {1}, {}};
  for (std::size_t k = 1; k < length && length <= 64; ++k) {
    plans.push_back({k, length});
  }
  std::mt19937 rng(seed);
  for (std::size_t total = 0; total <= length; total += plans[2].back()) {
    plans[2].push_back(rng() % 5 ? 1 + rng() % 7 : 8 + rng() % 5000);
  }
  return plans;
}

// Bytes as UTF-16: ASCII as it is, the rest as unpaired surrogates whose low
// byte is ASCII (a comma's, a keyword letter's), to pass through untouched.
inline std::u16string Wide(const std::string& bytes) {
  std::u16string wide;
  for (unsigned char c : bytes) wide += c < 0x80 ? c : 0xD800 | (c & 0x7F);
  return wide;
}

// Empty when every property holds for text; otherwise which one failed.
inline std::string LayoutPropertyViolation(const std::string& text,
                                           std::uint32_t seed = 1) {
  const std::string once = LayoutOf<char>(text);
  // A fresh engine for each rule: none may rely on a setting left before.
  std::string chained = text;
  for (const LayoutRule& rule : kLayoutRules) {
    PatternEngine<char> fresh;
    std::string next;
    ApplyLayoutRule<char>(fresh, rule, chained, &next);
    chained.swap(next);
  }
  if (chained != once) return "a rule relies on a setting of the rule before";
  const std::u16string wide = Wide(text), wide_once = Wide(once);
  if (LayoutOf<char16_t>(wide) != wide_once) return "UTF-16 differs";
  // The baseline's vectors and, where the processor has them, AVX2's and
  // AVX-512's.
  for (const int width : {16, 32, 64}) {
    if (!FusedLayout<char>::Runs(width)) continue;
    for (const auto& sizes : PieceSizes(text.size(), seed)) {
      if (FusedInPieces<char>(text, sizes, width) != once ||
          FusedInPieces<char16_t>(wide, sizes, width) != wide_once) {
        return "the fused layout differs from the rule chain with " +
               std::to_string(width) + "-byte vectors";
      }
    }
  }
  return {};
}

// Valid patterns and texts rich in what the rules look at, whatever
// choose(n) (below n: random, or the fuzzer's input bytes) gives.
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

  // NUL and 0xAC (a comma's low byte, made Wide) too; one text in four long
  // enough for the vector scan's 64-byte windows.
  std::string Text() {
    static const std::string kUnits(" ,\r\n\taAnNdDoOrRwWhHeEfFmM$\\\0\xac",
                                    29);
    std::string out;
    for (int n = Chance(4) ? 64 + choose(300) : choose(24); n > 0; --n) {
      out += kUnits[choose(static_cast<int>(kUnits.size()))];
    }
    return out;
  }
};
template <typename Choose>
Speller(Choose) -> Speller<Choose>;

// At most how many ways std::regex may try to match p from one place of a
// text of n units, from p[*at] to the end of the group: ways add up over
// alternatives and multiply along a sequence; "+" on a unit gives up to n,
// on a group of w ways up to n * w^n.
inline double BacktrackWays(const std::string& p, std::size_t* at, double n) {
  double ways = 0, sequence = 1;
  for (; *at < p.size() && p[*at] != ')'; ++*at) {
    if (p[*at] == '|') {
      ways += sequence, sequence = 1;
      continue;
    }
    double item = 1;
    const bool group = p[*at] == '(';
    if (group) {
      item = BacktrackWays(p, &++*at, n);  // *at is then at the ")"
    } else if (p[*at] == '[') {
      while (p[++*at] != ']') *at += p[*at] == '\\';
    } else {
      *at += p[*at] == '\\';
    }
    if (*at + 1 < p.size() && p[*at + 1] == '+') {
      ++*at, item = group ? n * std::pow(item, n) : n;
    }
    sequence *= item;
  }
  return ways + sequence;
}

// The longest prefix, up to 400 units, on which std::regex's steps (units
// times pattern length times ways) stay below 1e8, seconds under the
// sanitizers, whatever the text: "(a|A)+b" gets a short one, so no fuzzer
// input can run into the timeout inside the oracle.
inline std::size_t OracleTextLimit(const std::string& pattern,
                                   std::size_t length) {
  std::size_t n = std::min<std::size_t>(length, 400), at = 0;
  while (n > 0 && n * pattern.size() * BacktrackWays(pattern, &at, n) > 1e8) {
    n = n * 3 / 4, at = 0;
  }
  return n;
}

// Empty when a fresh engine in mode (2 ignore case, 4 first match only, 8
// template "<$1>", else "#") replaces as the oracle does, or refuses "$1"
// without a group; else what went wrong. The engine takes the whole text
// too, the oracle only the prefix OracleTextLimit allows.
template <typename Unit, typename OracleChar>
std::string OracleDisagreement(const std::string& pattern, int mode,
                               std::basic_string<Unit> text) {
  using Oracle = std::basic_string<OracleChar>;
  const bool ignore_case = mode & 2, global = !(mode & 4);
  const std::string tmpl = mode & 8 ? "<$1>" : "#";
  PatternEngine<Unit> engine;
  const Status set =
      engine.Pattern(std::basic_string<Unit>(pattern.begin(), pattern.end()));
  if (!set.ok()) return "refused " + pattern + ": " + set.cause;
  engine.Global(global);
  engine.IgnoreCase(ignore_case);
  const std::basic_string<Unit> replacement(tmpl.begin(), tmpl.end());
  std::basic_string<Unit> got;
  Status status = engine.Replace(text, replacement, &got);
  const std::size_t limit = OracleTextLimit(pattern, text.size());
  if (status.ok() && limit < text.size()) {
    text.resize(limit);
    status = engine.Replace(text, replacement, &got);
  }
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
  } catch (const std::regex_error&) {
    return "accepted a pattern the oracle calls malformed: " + pattern;
  }
  if (!status.ok())
    return "Replace failed: " + status.cause + " for " + pattern;
  if (Oracle(got.begin(), got.end()) == expected) return "";
  return "differs from the oracle for pattern " + pattern +
         (ignore_case ? " /i" : "") + (global ? " /g" : "");
}

// The same, in UTF-16 units (Wide) where mode has bit 16.
inline std::string OracleDisagreement(const std::string& pattern, int mode,
                                      const std::string& text) {
  return mode & 16
             ? OracleDisagreement<char16_t, wchar_t>(pattern, mode, Wide(text))
             : OracleDisagreement<char, char>(pattern, mode, text);
}

}  // namespace quillmore

#endif  // QUILLMORE_TESTS_LAYOUT_ORACLES_H_
