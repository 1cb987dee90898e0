// PatternEngine on its own: what it refuses, the matching and replacement
// semantics unit by unit, an independent engine as oracle on generated
// patterns and texts, and inputs far larger than any clipboard.
#include "layout/pattern_engine.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

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

// Patterns outside the syntax fail with a status and a reason, never crash.

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
      // A refused pattern leaves no pattern behind ("$1" without a group is
      // the oracle's to check).
      std::basic_string<TypeParam> out;
      EXPECT_FALSE(engine.Replace(U<TypeParam>("abc"), {}, &out).ok());
    }
  }
}
// What the oracle below cannot show, since its patterns, texts and templates
// hold none of it: templates beyond "$1", escapes of metacharacters, and
// case folding next to the letters.

struct ReplaceCase {
  const char* pattern;
  bool ignore_case;
  const char* source;
  const char* replacement;
  const char* expected;
};

const std::vector<ReplaceCase> kReplaceCases = {
    // Only "$1" is special in a template; in the source nothing is.
    {"(a)", false, "a", "$$1$2$&\\1$", "$a$2$&\\1$"},
    {"(a)", false, "a", "$1$1", "aa"},
    {"x", false, "$1\\x$", "y", "$1\\y$"},
    // Ignore-case folds ASCII letters only: "[" and "{" differ by 32 too.
    {"\\[", true, "[{", "_", "_{"},
    {"\\(\\)\\|\\+\\[", false, "a()|+[b", "_", "a_b"},
    {"[\\]\\-\\\\]", false, "]-\\x", "_", "___x"},
    {"[[]", false, "a[", "_", "a_"},
    {"\\t", false, "a\tb", "_", "a_b"},
};

TYPED_TEST(PatternEngineTest, ReplacesAsTheCaseTableSays) {
  for (const ReplaceCase& c : kReplaceCases) {
    PatternEngine<TypeParam> engine;
    ASSERT_TRUE(engine.Pattern(U<TypeParam>(c.pattern)).ok()) << c.pattern;
    ASSERT_TRUE(engine.Global(true).ok());
    ASSERT_TRUE(engine.IgnoreCase(c.ignore_case).ok());
    std::basic_string<TypeParam> out;
    ASSERT_TRUE(
        engine
            .Replace(U<TypeParam>(c.source), U<TypeParam>(c.replacement), &out)
            .ok());
    EXPECT_EQ(out, U<TypeParam>(c.expected))
        << "pattern '" << c.pattern << "' on '" << c.source << "'";
  }
}

TYPED_TEST(PatternEngineTest, IgnoreCasePersistsUntilSetAgain) {
  PatternEngine<TypeParam> engine;
  std::basic_string<TypeParam> out;
  // Set before a pattern, it survives the pattern: only a call resets it.
  ASSERT_TRUE(engine.IgnoreCase(true).ok());
  ASSERT_TRUE(engine.Pattern(U<TypeParam>("b")).ok());
  ASSERT_TRUE(engine.Global(true).ok());
  ASSERT_TRUE(engine.Replace(U<TypeParam>("bB"), U<TypeParam>("_"), &out).ok());
  EXPECT_EQ(out, U<TypeParam>("__"));
  ASSERT_TRUE(engine.IgnoreCase(false).ok());
  ASSERT_TRUE(engine.Replace(U<TypeParam>("bB"), U<TypeParam>("_"), &out).ok());
  EXPECT_EQ(out, U<TypeParam>("_B"));
}

// Units pass through by value, NUL and unpaired surrogates included (the
// oracle's texts hold them); what only UTF-16 can show is here.
TEST(PatternEngineUnits, HighUnitsMatchOnlyThemselves) {
  PatternEngine<char16_t> wide;
  std::u16string wide_out;
  ASSERT_TRUE(wide.Global(true).ok());
  // A high unit in the pattern matches that unit and nothing else, even
  // where its low byte equals an ASCII unit (U+012C ends in 0x2C, a comma).
  ASSERT_TRUE(wide.Pattern(std::u16string{0x012C}).ok());
  ASSERT_TRUE(wide.Replace(std::u16string{u',', 0x012C}, u"_", &wide_out).ok());
  EXPECT_EQ(wide_out, u",_");
  // Ignore-case does not reach beyond ASCII: e-acute is not E-acute.
  ASSERT_TRUE(wide.IgnoreCase(true).ok());
  ASSERT_TRUE(wide.Pattern(u"\u00e9").ok());
  ASSERT_TRUE(wide.Replace(u"\u00c9\u00e9", u"_", &wide_out).ok());
  EXPECT_EQ(wide_out, u"\u00c9_");
}

TEST(PatternEngineResult, ReusesOrReplacesWhateverTheResultHeld) {
  PatternEngine<char> engine;
  ASSERT_TRUE(engine.Pattern(",").ok());
  ASSERT_TRUE(engine.Global(true).ok());
  // A result that held a longer text, a shorter one, or the source itself.
  std::string out(1000, 'x');
  ASSERT_TRUE(engine.Replace("a,b", ";;", &out).ok());
  EXPECT_EQ(out, "a;;b");
  out = "z";
  ASSERT_TRUE(engine.Replace("a,b,c", "", &out).ok());
  EXPECT_EQ(out, "abc");
  std::string text = "1,2,3,4,5,6,7,8,9,0,1,2,3,4,5,6,7,8";
  text.reserve(1000);
  ASSERT_TRUE(engine.Replace(text, "", &text).ok());
  EXPECT_EQ(text, "123456789012345678");
  ASSERT_TRUE(
      engine.Replace(std::string_view(text).substr(2, 3), "", &text).ok());
  EXPECT_EQ(text, "345");
}

// An independent engine as oracle: std::regex (ECMAScript), which backtracks,
// on short generated texts and patterns of the supported syntax.

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : rng_(seed) {}

  std::string Pattern(int depth = 0) {
    std::string out;
    const int alternatives = depth < 2 && Chance(4) ? 2 + Below(2) : 1;
    for (int a = 0; a < alternatives; ++a) {
      if (a > 0) out += '|';
      const int items = 1 + Below(depth == 0 ? 4 : 3);
      for (int i = 0; i < items; ++i) {
        const int kind = Below(depth < 3 ? 10 : 7);
        if (kind < 5) {
          out += Literal();
        } else if (kind < 7) {
          out += '[';
          for (int n = 1 + Below(3); n > 0; --n) out += Literal();
          out += ']';
        } else {
          out += '(' + Pattern(depth + 1) + ')';
        }
        if (Chance(4)) out += '+';
      }
    }
    return out;
  }

  // Rich in what the layout rules look at, plus units that must pass
  // through untouched: NUL, and `high`, a unit beyond ASCII. Mostly short,
  // but one in four long enough for the vector scan's 64-byte windows.
  template <typename Unit>
  std::basic_string<Unit> Text(Unit high, std::size_t limit) {
    const std::basic_string<Unit> units =
        U<Unit>(std::string(" ,\r\n\taAnNdDoOrRwWhHeEfFmM$\\\0", 28)) + high;
    std::basic_string<Unit> out;
    for (std::size_t n = std::min<std::size_t>(
             limit, Chance(4) ? 64 + Below(300) : Below(24));
         n > 0; --n) {
      out += units[Below(static_cast<int>(units.size()))];
    }
    return out;
  }

  int Below(int n) {
    return std::uniform_int_distribution<int>(0, n - 1)(rng_);
  }
  bool Chance(int one_in) { return Below(one_in) == 0; }

 private:
  std::string Literal() {
    static const char* const kLiterals[] = {" ",   ",",   "a",  "n", "d",
                                            "o",   "r",   "A",  "O", "R",
                                            "\\r", "\\n", "\t", "w", "e"};
    return kLiterals[Below(15)];
  }

  std::mt19937 rng_;
};

template <typename Unit, typename OracleChar>
void CompareWithOracle(std::uint32_t seed, Unit high) {
  Generator gen(seed);
  for (int p = 0; p < 1500; ++p) {
    const std::string pattern = gen.Pattern();
    const bool ignore_case = gen.Chance(2);
    const bool global = !gen.Chance(5);
    const std::string tmpl = gen.Chance(2) ? "<$1>" : "#";
    PatternEngine<Unit> engine;
    ASSERT_TRUE(engine.Pattern(U<Unit>(pattern)).ok()) << pattern;
    engine.Global(global);
    engine.IgnoreCase(ignore_case);
    for (int t = 0; t < 12; ++t) {
      const auto text = gen.Text<Unit>(high, OracleTextLimit(pattern));
      ASSERT_EQ((OracleDisagreement<Unit, OracleChar>(
                    engine, pattern, ignore_case, global, tmpl, text)),
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

// An input far beyond any clipboard: no recursion on the input's length.

TEST(PatternEngineLarge, TheGeneralMatcherKeepsNoStackPerUnit) {
  // A group under "+" is matched by the Pike VM; two million repetitions
  // must not grow any stack with the input.
  PatternEngine<char> engine;
  ASSERT_TRUE(engine.Pattern("( |,)+x|( )+").ok());
  ASSERT_TRUE(engine.Global(true).ok());
  std::string text(2'000'000, ' ');
  text += "x,";
  std::string out;
  ASSERT_TRUE(engine.Replace(text, "<$1>", &out).ok());
  EXPECT_EQ(out, "< >,");
}

}  // namespace
}  // namespace quillmore
