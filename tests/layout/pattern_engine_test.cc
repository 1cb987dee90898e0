// PatternEngine: what it refuses, what the std::regex oracle cannot show,
// the oracle on generated patterns and texts, and inputs beyond any clipboard.
#include "layout/pattern_engine.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "layout/layout_sql.h"
#include "layout/matcher.h"
#include "layout/window_replace.h"
#include "tests/layout/oracles.h"

namespace quillmore {
namespace {

template <typename Unit>
class PatternEngineTest : public ::testing::Test {};
using Units = ::testing::Types<char, char16_t>;
TYPED_TEST_SUITE(PatternEngineTest, Units);

// Each refusal names its reason, and leaves no pattern behind.
TYPED_TEST(PatternEngineTest, RefusesWhatItDoesNotSupport) {
  const std::vector<std::pair<const char*, std::vector<std::string>>> cases = {
      {"empty", {""}},
      {"empty alternative", {"a|", "()"}},
      {"no matching", {"(a", "a)", "[ab"}},
      {"empty set", {"[]"}},
      {"negated", {"[^a]"}},
      {"ranges", {"[a-z]"}},
      {"nothing to repeat", {"+a"}},
      {"cannot follow", {"a++"}},
      {"metacharacter", {"a*", "a?", ".", "a{2}", "^a", "a$", "a]"}},
      {"escape", {"\\d"}},
      {"ends in a backslash", {"\\"}},
      {"nest too deeply", {std::string(70, '(') + "a" + std::string(70, ')')}}};
  for (const auto& [reason, patterns] : cases) {
    for (const std::string& pattern : patterns) {
      PatternEngine<TypeParam> engine;
      const Status status = engine.Pattern(WidenAscii<TypeParam>(pattern));
      EXPECT_EQ(status.code, status::kInvalidArg) << pattern;
      EXPECT_NE(status.cause.find(reason), std::string::npos) << status.cause;
      std::basic_string<TypeParam> out;
      EXPECT_FALSE(engine.Replace(WidenAscii<TypeParam>("abc"), {}, &out).ok());
    }
  }
}

// The oracle's patterns, texts and templates hold none of these. The rows
// share one engine, whose IgnoreCase, set before each Pattern, must hold.
const struct {
  const char* pattern;
  bool ignore_case;
  const char* source;
  const char* replacement;
  const char* expected;
} kReplaceCases[] = {
    // Only "$1" is special in a template; in the source nothing is.
    {"(a)", false, "a", "$1$$1$2$&\\1$1", "a$a$2$&\\1a"},
    {"x", false, "$1\\x$", "y", "$1\\y$"},
    // Ignore-case folds every ASCII letter both ways, and nothing else:
    // "[" and "{" differ by 32 too, and so do the bytes 0x89 and 0xA9.
    {"[abcdefghijklmnopqrstuvwxyz]+", true,
     "ABCDEFGHIJKLMNOPQRSTUVWXYZ@[`{abcdefghijklmnopqrstuvwxyz", "_", "_@[`{_"},
    {"[ABCDEFGHIJKLMNOPQRSTUVWXYZ]+", true,
     "ABCDEFGHIJKLMNOPQRSTUVWXYZ@[`{abcdefghijklmnopqrstuvwxyz", "_", "_@[`{_"},
    {"\\[", true, "[{", "_", "_{"},
    {"\xa9", true, "\x89\xa9", "_", "\x89_"},
    {"b", false, "bB", "_", "_B"},
    {"\\(\\)\\|\\+\\[", false, "a()|+[b", "_", "a_b"},
    {"[\\]\\-\\\\]", false, "]-\\x", "_", "___x"},
    {"[[]", false, "a[", "_", "a_"},
    {"\\t", false, "a\tb", "_", "a_b"},
};

TYPED_TEST(PatternEngineTest, ReplacesAsTheCaseTableSays) {
  const auto w = WidenAscii<TypeParam>;
  PatternEngine<TypeParam> engine;
  ASSERT_TRUE(engine.Global(true).ok());
  for (const auto& c : kReplaceCases) {
    ASSERT_TRUE(engine.IgnoreCase(c.ignore_case).ok());
    ASSERT_TRUE(engine.Pattern(w(c.pattern)).ok());
    std::basic_string<TypeParam> out;
    ASSERT_TRUE(engine.Replace(w(c.source), w(c.replacement), &out).ok());
    EXPECT_EQ(out, w(c.expected)) << c.pattern;
  }
}

// A result that holds the source, or part of it, growing or shrinking:
// written over in place, a growing source would be lost.
TEST(PatternEngineResult, ReplacesASourceThatTheResultHolds) {
  PatternEngine<char> engine;
  ASSERT_TRUE(engine.Pattern(",").ok());
  ASSERT_TRUE(engine.Global(true).ok());
  std::string text = "1,2,3,4,5,6,7,8,9,0,1,2,3,4,5,6,7,8";
  text.reserve(1000);
  ASSERT_TRUE(engine.Replace(text, "", &text).ok());
  EXPECT_EQ(text, "123456789012345678");
  ASSERT_TRUE(
      engine.Replace(std::string_view(text).substr(2, 3), "", &text).ok());
  EXPECT_EQ(text, "345");
  std::string grown, expected;
  for (int i = 0; i < 100; ++i) grown += "x,", expected += "x;;";
  grown.reserve(1000);
  ASSERT_TRUE(engine.Replace(grown, ";;", &grown).ok());
  EXPECT_EQ(grown, expected);
}

TEST(PatternEngineOracle, AgreesWithABacktrackingEngine) {
  std::mt19937 rng(1);
  Speller speller{[&](int n) { return static_cast<int>(rng() % n); }};
  for (int p = 0; p < 3000 / QUILLMORE_TEST_SCALE_DOWN; ++p) {
    const std::string pattern = speller.Pattern();
    const int mode = speller.choose(32);
    for (int t = 0; t < 12; ++t) {
      ASSERT_EQ(OracleDisagreement(pattern, mode, speller.Text()), "")
          << "pattern " << p;
    }
  }
}

// A silent fall-back to the Pike VM, or to a check or scan unit by unit,
// keeps every result and loses the speed. The window loop's baseline, for
// processors without AVX2, is checked against the AVX2 one.
TYPED_TEST(PatternEngineTest, EachRuleTakesItsWindowLoopAndBothWidthsAgree) {
  using namespace pattern_internal;
  using Unit = TypeParam;
  std::mt19937 rng(3);
  const std::string_view letters = " ,\r\nwhereORDERandfromORxyzab\t";
  std::basic_string<Unit> text;
  for (int k = 0; k < 5000; ++k) text += letters[rng() % letters.size()];
  bool ignore_case = false;
  for (const LayoutRule& rule : kLayoutRules) {
    ignore_case = ignore_case || rule.set_ignore_case;
    const bool run = &rule == &kLayoutRules[0];
    Parsed<Unit> parsed;
    ASSERT_TRUE(
        ParsePattern<Unit>(WidenAscii<Unit>(rule.pattern), &parsed).ok());
    Compiled<Unit> compiled;
    CompilePattern<Unit>(parsed, ignore_case, &compiled);
    EXPECT_EQ(compiled.strategy, run ? Strategy::kRun : Strategy::kLiterals)
        << rule.pattern;
    EXPECT_EQ(compiled.word_literals.size(), compiled.literals.size())
        << rule.pattern;
    const auto replacement = WidenAscii<Unit>(rule.replacement);
    const Template<Unit> tmpl(replacement);
    EXPECT_TRUE(tmpl.compact) << rule.pattern;
    const U<Unit> space = ' ';
    auto replace = [&](int width) {
      const Matcher<Unit> matcher(compiled, text, run ? &space : nullptr);
      EXPECT_TRUE(WindowReplace<Unit>::Takes(compiled, matcher.scan()))
          << rule.pattern;
      const WindowReplace<Unit> loop{
          compiled, matcher.scan(), tmpl,
          reinterpret_cast<const U<Unit>*>(text.data()), text.size()};
      std::basic_string<Unit> out;
      out.reserve(8 * text.size());
      ResultWriter<Unit> writer(&out);
      std::size_t from = 0, copied = 0;
      EXPECT_TRUE(loop.Run(&writer, &from, &copied, width));
      writer.Finish();
      return std::tuple(out, from, copied);
    };
    EXPECT_TRUE(replace(16) == replace(32)) << rule.pattern;
  }
}

// A group under "+" goes to the Pike VM, which must keep no stack per unit.
TEST(PatternEngineLarge, TheGeneralMatcherKeepsNoStackPerUnit) {
  PatternEngine<char> engine;
  ASSERT_TRUE(engine.Pattern("( |,)+x|( )+").ok());
  ASSERT_TRUE(engine.Global(true).ok());
  std::string text(2'000'000 / QUILLMORE_TEST_SCALE_DOWN, ' ');
  text += "x,";
  std::string out;
  ASSERT_TRUE(engine.Replace(text, "<$1>", &out).ok());
  EXPECT_EQ(out, "< >,");
}

}  // namespace
}  // namespace quillmore
