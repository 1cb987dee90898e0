// libFuzzer target. The first byte chooses what to check:
// - odd: the rest is a text, laid out; every layout property must hold,
//   the fused layout (in pieces of several sizes) giving the rule chain's
//   output among them;
// - even: the rest spells a pattern (one token per byte, up to a 0xFF byte)
//   and a text; the engine's replacement must equal the oracle's, in the
//   code unit, case mode, global mode and template the first byte selects.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "layout/pattern_engine.h"
#include "tests/layout/layout_properties.h"
#include "tests/layout/regex_oracle.h"

namespace quillmore {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "layout_fuzzer: %s\n", what.c_str());
  std::abort();
}

template <typename Unit, typename OracleChar>
void CheckAgainstOracle(const std::string& pattern, bool ignore_case,
                        bool global, const std::string& tmpl,
                        const std::basic_string<Unit>& text) {
  PatternEngine<Unit> engine;
  const std::basic_string<Unit> wide_pattern(pattern.begin(), pattern.end());
  if (!engine.Pattern(wide_pattern).ok()) return;  // Refused: nothing to do.
  engine.Global(global);
  engine.IgnoreCase(ignore_case);
  std::basic_string<Unit> got;
  const Status status = engine.Replace(
      text, std::basic_string<Unit>(tmpl.begin(), tmpl.end()), &got);
  if (!status.ok()) {
    // The one refusal at replacement time: $1 without a group.
    const std::regex groups(pattern, std::regex_constants::ECMAScript);
    if (tmpl.find("$1") != std::string::npos && groups.mark_count() == 0) {
      return;
    }
    Fail("Replace failed: " + status.cause + " for " + pattern);
  }
  std::basic_string<OracleChar> expected;
  try {
    expected = OracleReplace(
        std::basic_string<OracleChar>(pattern.begin(), pattern.end()),
        ignore_case, global,
        std::basic_string<OracleChar>(text.begin(), text.end()),
        std::basic_string<OracleChar>(tmpl.begin(), tmpl.end()));
  } catch (const std::regex_error& error) {
    if (error.code() == std::regex_constants::error_complexity ||
        error.code() == std::regex_constants::error_stack) {
      return;
    }
    Fail("accepted a pattern the oracle calls malformed: " + pattern);
  }
  if (std::basic_string<OracleChar>(got.begin(), got.end()) != expected) {
    Fail("differs from the oracle for pattern " + pattern);
  }
}

}  // namespace
}  // namespace quillmore

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  if (mode & 1) {
    const std::string violation =
        quillmore::LayoutPropertyViolation(rest, static_cast<unsigned>(size));
    if (!violation.empty()) quillmore::Fail(violation);
    return 0;
  }
  static const char* const kTokens[16] = {"a",   "o",   "r",  "A", " ", ",",
                                          "\\r", "\\n", "\t", "[", "]", "(",
                                          ")",   "|",   "+",  "d"};
  std::string pattern;
  std::size_t i = 0;
  for (; i < rest.size() && static_cast<std::uint8_t>(rest[i]) != 0xFF; ++i) {
    pattern += kTokens[static_cast<std::uint8_t>(rest[i]) & 15];
  }
  // The oracle backtracks and recurses: keep its inputs small.
  if (pattern.size() > 48) return 0;
  const std::string text =
      i < rest.size() ? rest.substr(i + 1, quillmore::OracleTextLimit(pattern))
                      : "";
  const bool ignore_case = mode & 2;
  const bool global = !(mode & 4);
  const std::string tmpl = (mode & 8) ? "<$1>" : "#";
  if (mode & 16) {
    std::u16string wide;
    for (unsigned char c : text) wide += c == 0xFE ? char16_t{0xD800} : c;
    quillmore::CheckAgainstOracle<char16_t, wchar_t>(pattern, ignore_case,
                                                     global, tmpl, wide);
  } else {
    quillmore::CheckAgainstOracle<char, char>(pattern, ignore_case, global,
                                              tmpl, text);
  }
  return 0;
}
