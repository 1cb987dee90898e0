// PatternEngine: what it refuses, what the std::regex oracle cannot show,
// the oracle on generated patterns and texts, and an input far beyond any
// clipboard.
#include "layout/pattern_engine.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "layout/matcher.h"
#include "layout/window_replace.h"
#include "tests/layout/regex_oracle.h"

namespace quillmore {
namespace {

template <typename Unit>
std::basic_string<Unit> U(std::string_view ascii) {
  return std::basic_string<Unit>(ascii.begin(), ascii.end());
}

template <typename Unit>
class PatternEngineTest : public ::testing::Test {};
using Units = ::testing::Types<char, char16_t>;
TYPED_TEST_SUITE(PatternEngineTest, Units);

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
      const Status status = engine.Pattern(U<TypeParam>(pattern));
      EXPECT_EQ(status.code, status::kInvalidArg) << pattern;
      EXPECT_NE(status.cause.find(reason), std::string::npos)
          << pattern << ": " << status.cause;
      std::basic_string<TypeParam> out;  // no pattern is left behind
      EXPECT_FALSE(engine.Replace(U<TypeParam>("abc"), {}, &out).ok());
    }
  }
}

// The oracle's patterns, texts and templates hold none of these.
const struct {
  const char* pattern;
  bool ignore_case;
  const char* source;
  const char* replacement;
  const char* expected;
} kReplaceCases[] = {
    // Only "$1" is special in a template; in the source nothing is.
    {"(a)", false, "a", "$$1$2$&\\1$", "$a$2$&\\1$"},
    {"(a)", false, "a", "$1$1", "aa"},
    {"x", false, "$1\\x$", "y", "$1\\y$"},
    // Ignore-case folds every ASCII letter both ways, and nothing else:
    // "[" and "{" differ by 32 too.
    {"[abcdefghijklmnopqrstuvwxyz]+", true,
     "ABCDEFGHIJKLMNOPQRSTUVWXYZ@[`{abcdefghijklmnopqrstuvwxyz", "_", "_@[`{_"},
    {"[ABCDEFGHIJKLMNOPQRSTUVWXYZ]+", true,
     "ABCDEFGHIJKLMNOPQRSTUVWXYZ@[`{abcdefghijklmnopqrstuvwxyz", "_", "_@[`{_"},
    {"\\[", true, "[{", "_", "_{"},
    {"\\(\\)\\|\\+\\[", false, "a()|+[b", "_", "a_b"},
    {"[\\]\\-\\\\]", false, "]-\\x", "_", "___x"},
    {"[[]", false, "a[", "_", "a_"},
    {"\\t", false, "a\tb", "_", "a_b"},
};

TYPED_TEST(PatternEngineTest, ReplacesAsTheCaseTableSays) {
  for (const auto& c : kReplaceCases) {
    PatternEngine<TypeParam> engine;
    ASSERT_TRUE(engine.Pattern(U<TypeParam>(c.pattern)).ok()) << c.pattern;
    ASSERT_TRUE(engine.Global(true).ok());
    ASSERT_TRUE(engine.IgnoreCase(c.ignore_case).ok());
    std::basic_string<TypeParam> out;
    ASSERT_TRUE(
        engine
            .Replace(U<TypeParam>(c.source), U<TypeParam>(c.replacement), &out)
            .ok());
    EXPECT_EQ(out, U<TypeParam>(c.expected)) << c.pattern << " on " << c.source;
  }
}

// Set before a pattern, IgnoreCase survives it: only a call resets it.
TYPED_TEST(PatternEngineTest, IgnoreCasePersistsUntilSetAgain) {
  PatternEngine<TypeParam> engine;
  std::basic_string<TypeParam> out;
  ASSERT_TRUE(engine.IgnoreCase(true).ok());
  ASSERT_TRUE(engine.Pattern(U<TypeParam>("b")).ok());
  ASSERT_TRUE(engine.Global(true).ok());
  ASSERT_TRUE(engine.Replace(U<TypeParam>("bB"), U<TypeParam>("_"), &out).ok());
  EXPECT_EQ(out, U<TypeParam>("__"));
  ASSERT_TRUE(engine.IgnoreCase(false).ok());
  ASSERT_TRUE(engine.Replace(U<TypeParam>("bB"), U<TypeParam>("_"), &out).ok());
  EXPECT_EQ(out, U<TypeParam>("_B"));
}

TEST(PatternEngineUnits, HighUnitsMatchOnlyThemselves) {
  PatternEngine<char16_t> wide;
  std::u16string out;
  ASSERT_TRUE(wide.Global(true).ok());
  // U+012C's low byte is a comma's.
  ASSERT_TRUE(wide.Pattern(std::u16string{0x012C}).ok());
  ASSERT_TRUE(wide.Replace(std::u16string{u',', 0x012C}, u"_", &out).ok());
  EXPECT_EQ(out, u",_");
  // Ignore-case does not reach beyond ASCII.
  ASSERT_TRUE(wide.IgnoreCase(true).ok());
  ASSERT_TRUE(wide.Pattern(u"\u00e9").ok());
  ASSERT_TRUE(wide.Replace(u"\u00c9\u00e9", u"_", &out).ok());
  EXPECT_EQ(out, u"\u00c9_");
}

// A result that held a longer text, a shorter one, or the source itself
// (growing, so writing over the source in place would lose it).
TEST(PatternEngineResult, ReusesOrReplacesWhateverTheResultHeld) {
  PatternEngine<char> engine;
  ASSERT_TRUE(engine.Pattern(",").ok());
  ASSERT_TRUE(engine.Global(true).ok());
  std::string out(1000, 'x');
  ASSERT_TRUE(engine.Replace("a,b", ";;", &out).ok());
  EXPECT_EQ(out, "a;;b");
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

template <typename Unit, typename OracleChar>
void CompareWithOracle(std::uint32_t seed, Unit high) {
  std::mt19937 rng(seed);
  Speller speller{[&](int n) { return static_cast<int>(rng() % n); }};
  for (int p = 0; p < 1500 / QUILLMORE_TEST_SCALE_DOWN; ++p) {
    const std::string pattern = speller.Pattern();
    const bool ignore_case = speller.Chance(2), global = !speller.Chance(5);
    const std::string tmpl = speller.Chance(2) ? "<$1>" : "#";
    for (int t = 0; t < 12; ++t) {
      const auto text = speller.Text(high, OracleTextLimit(pattern));
      ASSERT_EQ((OracleDisagreement<Unit, OracleChar>(pattern, ignore_case,
                                                      global, tmpl, text)),
                "")
          << "seed " << seed;
    }
  }
}

TEST(PatternEngineOracle, AgreesWithABacktrackingEngineOnBytes) {
  CompareWithOracle<char, char>(1, static_cast<char>(0xFF));
}

TEST(PatternEngineOracle, AgreesWithABacktrackingEngineOnUtf16Units) {
  CompareWithOracle<char16_t, wchar_t>(2, char16_t{0xD800});
}

// The window loop's baseline vectors, which the engine takes where the
// processor has no AVX2, give what the AVX2 ones give (where it has them:
// the oracle checks those) on the rules' shapes and a few others.
template <typename Unit>
void ExpectWidthsAgree() {
  using namespace pattern_internal;
  std::mt19937 rng(3);
  const std::string_view letters = " ,\r\nwhereORDERandfromORxyzab\t";
  std::basic_string<Unit> text;
  for (int k = 0; k < 5000; ++k) text += letters[rng() % letters.size()];
  for (const char* pattern : {"[\\r\\n ]+", "(,)", " ((where)|(order))",
                              " (or)", "[ab,x]+", "x(yz|y)", "(a|b)(x|y)"}) {
    Parsed<Unit> parsed;
    ASSERT_TRUE(ParsePattern<Unit>(U<Unit>(pattern), &parsed).ok());
    Compiled<Unit> compiled;
    CompilePattern<Unit>(parsed, true, &compiled);
    const auto replacement = U<Unit>("<$1>");
    const Template<Unit> tmpl(replacement);
    std::basic_string<Unit> results[2];
    std::size_t ends[2][2] = {};
    for (int k = 0; k < 2; ++k) {
      const Matcher<Unit> matcher(compiled, text, nullptr);
      const WindowReplace<Unit> loop{
          compiled, matcher.scan(), tmpl,
          reinterpret_cast<const std::make_unsigned_t<Unit>*>(text.data()),
          text.size()};
      results[k].reserve(8 * text.size());
      ResultWriter<Unit> writer(&results[k]);
      ASSERT_TRUE(loop.Run(&writer, &ends[k][0], &ends[k][1], 16 + 16 * k));
      writer.Finish();
    }
    EXPECT_TRUE(results[0] == results[1]) << pattern;
    EXPECT_EQ(ends[0][0], ends[1][0]) << pattern;
    EXPECT_EQ(ends[0][1], ends[1][1]) << pattern;
  }
}

TEST(PatternEngineWidths, TheBaselineWindowLoopAgreesWithTheWideOne) {
  ExpectWidthsAgree<char>();
  ExpectWidthsAgree<char16_t>();
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
