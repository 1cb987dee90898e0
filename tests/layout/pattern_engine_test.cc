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

// ---------------------------------------------------------------------------
// Patterns outside the syntax fail with a status and a reason, never crash.

TYPED_TEST(PatternEngineTest, RefusesWhatItDoesNotSupport) {
  const struct {
    std::string pattern;
    const char* reason;
  } cases[] = {
      {"", "empty"},
      {"a|", "empty alternative"},
      {"|a", "empty alternative"},
      {"()", "empty alternative"},
      {"(a", "no matching ')'"},
      {"a)", "no matching '('"},
      {"[ab", "no matching ']'"},
      {"[]", "empty set"},
      {"[^a]", "negated"},
      {"[a-z]", "ranges"},
      {"+a", "nothing to repeat"},
      {"a++", "cannot follow"},
      {"a*", "metacharacter"},
      {"a?", "metacharacter"},
      {".", "metacharacter"},
      {"a{2}", "metacharacter"},
      {"^a", "metacharacter"},
      {"a$", "metacharacter"},
      {"a]", "metacharacter"},
      {"\\d", "escape"},
      {"\\", "ends in a backslash"},
      {std::string(70, '(') + "a" + std::string(70, ')'), "nest too deeply"},
  };
  for (const auto& c : cases) {
    PatternEngine<TypeParam> engine;
    const Status status = engine.Pattern(U<TypeParam>(c.pattern));
    EXPECT_EQ(status.code, status::kInvalidArg) << c.pattern;
    EXPECT_NE(status.cause.find(c.reason), std::string::npos)
        << c.pattern << ": " << status.cause;
    // A refused pattern leaves no pattern behind.
    std::basic_string<TypeParam> out;
    EXPECT_FALSE(engine.Replace(U<TypeParam>("abc"), {}, &out).ok());
  }
}

TYPED_TEST(PatternEngineTest, ReplaceNeedsAPatternAndGroupOneForDollarOne) {
  PatternEngine<TypeParam> engine;
  std::basic_string<TypeParam> out;
  EXPECT_EQ(engine.Replace(U<TypeParam>("x"), U<TypeParam>("y"), &out).code,
            status::kInvalidArg);
  ASSERT_TRUE(engine.Pattern(U<TypeParam>("a")).ok());
  const Status status =
      engine.Replace(U<TypeParam>("a"), U<TypeParam>("<$1>"), &out);
  EXPECT_EQ(status.code, status::kInvalidArg);
  EXPECT_NE(status.cause.find("no group"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Matching and replacement, case by case.

struct ReplaceCase {
  const char* pattern;
  bool ignore_case;
  bool global;
  const char* source;
  const char* replacement;
  const char* expected;
};

// The semantics the rules rely on, one case per line.
const std::vector<ReplaceCase> kReplaceCases = {
    // Alternatives are tried left to right; the first that matches wins
    // even when a later one would be longer.
    {"a|ab", false, true, "ab", "X", "Xb"},
    {"ab|a", false, true, "ab", "X", "X"},
    // "+" takes as many as there are, then gives back what the rest needs.
    {"a+", false, true, "caaat", "X", "cXt"},
    {"(a+)a", false, true, "aaaa", "<$1>", "<aaa>"},
    {"(a|ab)+c", false, true, "ababc", "X", "X"},
    // The leftmost match wins over a longer one further right.
    {"b+|a+b+", false, true, "aabbb", "X", "X"},
    // Matches never overlap and replaced text is not searched again.
    {"aa", false, true, "aaaaa", "a", "aaa"},
    {"a", false, true, "aaa", "aa", "aaaaaa"},
    // Global false replaces the first match only.
    {"a", false, false, "aaa", "X", "Xaa"},
    {"[ ]+", false, false, "a  b  c", " ", "a b  c"},
    // No match: the source comes back as it was.
    {"zz", false, true, "abc", "X", "abc"},
    {"a", false, true, "", "X", ""},
    // Group 1 is the first opening parenthesis, however deeply nested the
    // groups after it are; a repeated group holds its last repetition; a
    // group that took no part stands for nothing.
    {" ((where)|(order))", true, true, "a WHERE b", "[$1]", "a[WHERE] b"},
    {"(x)(y)", false, true, "xy", "$1", "x"},
    {"(ab)+", false, true, "ababab", "<$1>", "<ab>"},
    {"(a)|b", false, true, "ab", "<$1>", "<a><>"},
    // Only "$1" is special in a template; in the source nothing is.
    {"(a)", false, true, "a", "$$1$2$&\\1$", "$a$2$&\\1$"},
    {"(a)", false, true, "a", "$1$1", "aa"},
    {"x", false, true, "$1\\x$", "y", "$1\\y$"},
    // Ignore-case folds ASCII letters only: "[" and "{" differ by 32 too.
    {"or", true, true, "OR Or oR or", "_", "_ _ _ _"},
    {"or", false, true, "OR Or oR or", "_", "OR Or oR _"},
    {"[ab]+", true, true, "xAbBax", "_", "x_x"},
    {"\\[", true, true, "[{", "_", "_{"},
    // Escapes, in sets and outside them.
    {"[\\r\\n ]+", false, true, "a\r\n \r b\n", " ", "a b "},
    {"\\r\\n", false, true, "a\r\nb\n\r", "|", "a|b\n\r"},
    {"\\t", false, true, "a\tb", "_", "a_b"},
    {"\\(\\)\\|\\+\\[", false, true, "a()|+[b", "_", "a_b"},
    {"[\\]\\-\\\\]", false, true, "]-\\x", "_", "___x"},
    {"[[]", false, true, "a[", "_", "a_"},
};

TYPED_TEST(PatternEngineTest, ReplacesAsTheCaseTableSays) {
  for (const ReplaceCase& c : kReplaceCases) {
    PatternEngine<TypeParam> engine;
    ASSERT_TRUE(engine.Pattern(U<TypeParam>(c.pattern)).ok()) << c.pattern;
    ASSERT_TRUE(engine.Global(c.global).ok());
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
  ASSERT_TRUE(engine.IgnoreCase(true).ok());
  ASSERT_TRUE(engine.Pattern(U<TypeParam>("a")).ok());
  ASSERT_TRUE(engine.Global(true).ok());
  // The setting survives a new pattern: nothing resets it but a call.
  ASSERT_TRUE(engine.Pattern(U<TypeParam>("b")).ok());
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

// ---------------------------------------------------------------------------
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
  // through untouched. `high` is a unit beyond ASCII.
  template <typename Unit>
  std::basic_string<Unit> Text(Unit high, std::size_t limit) {
    static constexpr char kUnits[] = " ,\r\n\taAnNdDoOrRwWhHeEfFmM$\\";
    std::basic_string<Unit> out;
    // Mostly short, but one in four long enough for the vector scan, which
    // works in windows of 64 bytes.
    const int length = static_cast<int>(
        std::min<std::size_t>(limit, Chance(4) ? 64 + Below(300) : Below(24)));
    for (int n = length; n > 0; --n) {
      const int pick = Below(sizeof kUnits + 1);
      if (pick == sizeof kUnits - 1) {
        out += Unit(0);
      } else if (pick == sizeof kUnits) {
        out += high;
      } else {
        out += static_cast<Unit>(kUnits[pick]);
      }
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
    return kLiterals[Below(sizeof kLiterals / sizeof *kLiterals)];
  }

  std::mt19937 rng_;
};

template <typename Unit, typename OracleChar>
void CompareWithOracle(std::uint32_t seed, Unit high) {
  Generator gen(seed);
  int compared = 0;
  for (int p = 0; p < 1500; ++p) {
    const std::string pattern = gen.Pattern();
    const bool ignore_case = gen.Chance(2);
    const bool global = !gen.Chance(5);
    const std::string tmpl = gen.Chance(2) ? "<$1>" : "#";
    PatternEngine<Unit> engine;
    ASSERT_TRUE(engine.Pattern(U<Unit>(pattern)).ok()) << pattern;
    engine.Global(global);
    engine.IgnoreCase(ignore_case);
    const bool has_group = pattern.find('(') != std::string::npos;
    for (int t = 0; t < 12; ++t) {
      const auto text = gen.Text<Unit>(high, OracleTextLimit(pattern));
      std::basic_string<Unit> got;
      const Status status = engine.Replace(text, U<Unit>(tmpl), &got);
      if (tmpl[0] == '<' && !has_group) {
        ASSERT_FALSE(status.ok());
        continue;
      }
      ASSERT_TRUE(status.ok()) << status.cause;
      const std::basic_string<OracleChar> expected = OracleReplace(
          std::basic_string<OracleChar>(pattern.begin(), pattern.end()),
          ignore_case, global,
          std::basic_string<OracleChar>(text.begin(), text.end()),
          std::basic_string<OracleChar>(tmpl.begin(), tmpl.end()));
      ASSERT_EQ(std::basic_string<OracleChar>(got.begin(), got.end()), expected)
          << "pattern " << pattern << (ignore_case ? " /i" : "")
          << (global ? " /g" : "") << ", seed " << seed;
      ++compared;
    }
  }
  EXPECT_GT(compared, 5000);
}

TEST(PatternEngineOracle, AgreesWithABacktrackingEngineOnBytes) {
  CompareWithOracle<char, char>(1, static_cast<char>(0xFF));
}

TEST(PatternEngineOracle, AgreesWithABacktrackingEngineOnUtf16Units) {
  CompareWithOracle<char16_t, wchar_t>(2, char16_t{0xD800});
}

// ---------------------------------------------------------------------------
// Inputs far beyond any clipboard: no recursion, no quadratic time.

TEST(PatternEngineLarge, AHundredMillionSpacesAreOneMatch) {
  PatternEngine<char> engine;
  ASSERT_TRUE(engine.Pattern("[\\r\\n ]+").ok());
  ASSERT_TRUE(engine.Global(true).ok());
  std::string text = "a" + std::string(100'000'000, ' ') + "b";
  std::string out;
  ASSERT_TRUE(engine.Replace(text, " ", &out).ok());
  EXPECT_EQ(out, "a b");
}

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
