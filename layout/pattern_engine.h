// PatternEngine: a small pattern-replacement engine for exactly the syntax the
// layout rules need, with the interface of a classic scripting regex object
// (Pattern, Global, IgnoreCase, Replace).
//
// Syntax: literal units; bracket sets "[...]" of literal units; the escapes
// \r \n \t and a backslash before any ASCII punctuation; "+" after an item
// (greedy); capturing groups "(...)", numbered by their opening parenthesis;
// "|" alternatives, tried left to right. Anything else (".", "*", "?", "{",
// "^", "$", ranges and negation in sets, empty alternatives or groups) is
// refused with a failing status rather than guessed at. Since nothing in the
// syntax can match empty text, every match advances the search.
//
// Matching is leftmost-first, as a backtracking engine would do it, but the
// engine never backtracks: patterns that are a repeated set or a finite set
// of literals (all the layout rules) are matched by direct scanning, and
// everything else by a Pike VM, so the time is linear in the input and no
// recursion depends on the input's length.
//
// The engine is generic over the code unit (char for UTF-8 bytes, char16_t
// for UTF-16). Units are compared by value only; a unit outside a match is
// copied through unchanged whatever it is (NUL, invalid UTF-8, unpaired
// surrogates).
//
// Covered by tests/layout/pattern_engine_test.cc (refusals, the case table,
// std::regex as oracle, inputs far larger than a clipboard) and the fuzzer.
#ifndef QUILLMORE_LAYOUT_PATTERN_ENGINE_H_
#define QUILLMORE_LAYOUT_PATTERN_ENGINE_H_

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "base/status.h"

namespace quillmore {

namespace pattern_internal {
template <typename Unit>
struct Parsed;
template <typename Unit>
struct Compiled;
template <typename Unit>
struct Template;
}  // namespace pattern_internal

template <typename Unit>
class PatternEngine {
 public:
  using Text = std::basic_string<Unit>;
  using View = std::basic_string_view<Unit>;

  PatternEngine();
  ~PatternEngine();
  PatternEngine(PatternEngine&&) noexcept;
  PatternEngine& operator=(PatternEngine&&) noexcept;
  PatternEngine(const PatternEngine&) = delete;
  PatternEngine& operator=(const PatternEngine&) = delete;

  // Sets the pattern. A pattern outside the syntax above fails with
  // status::kInvalidArg and a cause naming the problem; the engine then has
  // no pattern until the next successful call.
  Status Pattern(View pattern);
  // Whether Replace replaces every match (true) or the first only (false,
  // the initial value).
  Status Global(bool global);
  // Whether ASCII letters match both their cases. Initially false.
  Status IgnoreCase(bool ignore_case);
  // Writes to *result the source with matches replaced by the template, in
  // which "$1" stands for what group 1 matched and every other unit stands
  // for itself. Fails when no pattern is set, or when the template uses $1
  // and the pattern has no group. *result's buffer is reused when it is
  // large enough; it may hold the source (the result then replaces it).
  Status Replace(View source, View replacement, Text* result);

 private:
  const pattern_internal::Compiled<Unit>* CompiledForSettings();
  // Writes the result of replacing in source into *out, moving it into a
  // larger buffer only when its capacity is short.
  void WriteResult(const pattern_internal::Compiled<Unit>& compiled,
                   const pattern_internal::Template<Unit>& tmpl, View source,
                   const std::make_unsigned_t<Unit>* noop, Text* out) const;

  std::unique_ptr<pattern_internal::Parsed<Unit>> parsed_;
  // The compiled program depends on IgnoreCase, so it is built on first use
  // and rebuilt only when that setting has changed.
  std::unique_ptr<pattern_internal::Compiled<Unit>> compiled_;
  bool global_ = false;
  bool ignore_case_ = false;
};

extern template class PatternEngine<char>;
extern template class PatternEngine<char16_t>;

}  // namespace quillmore

#endif  // QUILLMORE_LAYOUT_PATTERN_ENGINE_H_
