// The layout: a case table (the worked examples and the rules'
// consequences), the chain's calls to the engine, and the properties over
// each case, the SQL sample in tests/sql and generated text.
#include "layout/layout_sql.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "layout/fused_layout.h"
#include "layout/matcher.h"
#include "layout/window_replace.h"
#include "tests/layout/layout_properties.h"

namespace quillmore {
namespace {

using std::literals::string_view_literals::operator""sv;

const struct {
  std::string_view input;
  std::string_view expected;
} kCases[] = {
    // The two worked examples.
    {"select a, b from t where x = 1 and y = 2 or z = 3 order by a",
     "select a,\r\n        b\r\n  from t\r\nwhere x = 1\r\n  and y = 2\r\n"
     "   or z = 3\r\norder by a"},
    {"SELECT *\r\nFROM orders o\r\nWHERE o.id IN (1,2)\r\n"
     "  AND o.state = 'open'\r\nORDER BY o.id",
     "SELECT *\r\n  FROM\r\norders o\r\nWHERE o.id IN (1,\r\n       2)\r\n"
     "  AND o.state = 'open'\r\nORDER BY o.id"},
    // Runs of CR, LF and spaces become one space; nothing is trimmed.
    {"", ""},
    {"  \r\n a \n\n\r b  ", " a b "},
    {"\r\n \r\n", " "},
    {"a\n\r\rb", "a b"},
    // Tabs are not flattened, and a keyword after a tab is not broken.
    {"select\ta\tfrom t", "select\ta\tfrom t"},
    // A comma: a line break and seven spaces after it.
    {"a,b", "a,\r\n       b"},
    {",,", ",\r\n       ,\r\n       "},
    {"f('x,y')", "f('x,\r\n       y')"},
    // The comma's seventh space is the one the keyword rules break.
    {"select a, order_id from t",
     "select a,\r\n       \r\norder_id\r\n  from t"},
    {"a,where x", "a,\r\n      \r\nwhere x"},
    {"a,\r\nAND b", "a,\r\n       \r\n  AND b"},
    // Keywords keep their case; words that begin with one break too.
    {"x WHERE y Or z aNd w FrOm v ORDER u",
     "x\r\nWHERE y\r\n   Or z\r\n  aNd w\r\n  FrOm v\r\nORDER u"},
    {"x orders whereas", "x\r\norders\r\nwhereas"},
    {"x ordinal", "x\r\n   ordinal"},
    {"x android fromage", "x\r\n  android\r\n  fromage"},
    {"x wher fro an o ord", "x wher fro an o\r\n   ord"},
    // No space in front: at the start or after a tab.
    {"where x", "where x"},
    {"and\tor", "and\tor"},
    // ORDER is broken by the clause rule before the OR rule runs.
    {"x order by y", "x\r\norder by y"},
    // A leading run before a keyword becomes that keyword's line break.
    {"\r\n  where a or b and c", "\r\nwhere a\r\n   or b\r\n  and c"},
    {" or x", "\r\n   or x"},
    // No other keyword is touched.
    {"select a join b on c group by d having e union select f",
     "select a join b on c group by d having e union select f"},
    // Dollars and backslashes are ordinary, NUL and bytes beyond ASCII too.
    {"a $1 \\1 $", "a $1 \\1 $"},
    {"a\xff,\xfe\0\xc3\x28$1\\n"sv, "a\xff,\r\n       \xfe\0\xc3\x28$1\\n"sv},
};

TEST(LayoutSql, CaseTableThroughTheChainAndTheFusedLayout) {
  for (const auto& c : kCases) {
    EXPECT_EQ(LayoutOf<char>(c.input), c.expected) << c.input;
    EXPECT_EQ(LayoutPropertyViolation(std::string(c.input)), "") << c.input;
  }
}

// Unpaired surrogates, characters beyond the BMP, and non-ASCII letters,
// which are not keyword letters.
TEST(LayoutSql, Utf16UnitsBeyondAsciiPassThrough) {
  const std::u16string units = {0xDC00, 0,      u'$', u'1',   0xD83D, 0xDE00,
                                u' ',   0xD800, u' ', 0x00F6, u'r',   0x0157};
  EXPECT_EQ(LayoutOf<char16_t>(units), units);
  EXPECT_EQ(FusedInPieces<char16_t>(units, {1}), units);
}

// Each rule takes the direct matcher and the window loop made for its
// shape: a silent fall-back to the Pike VM, to a check unit by unit or to a
// scan a unit at a time would keep every result and lose the speed.
template <typename Unit>
void ExpectDirectStrategies() {
  using namespace pattern_internal;
  bool ignore_case = false;
  for (const LayoutRule& rule : kLayoutRules) {
    ignore_case = ignore_case || rule.set_ignore_case;
    Parsed<Unit> parsed;
    ASSERT_TRUE(
        ParsePattern<Unit>(WidenAscii<Unit>(rule.pattern), &parsed).ok());
    Compiled<Unit> compiled;
    CompilePattern<Unit>(parsed, ignore_case, &compiled);
    const bool run = &rule == &kLayoutRules[0];
    EXPECT_EQ(compiled.strategy, run ? Strategy::kRun : Strategy::kLiterals)
        << rule.pattern;
    EXPECT_EQ(compiled.word_literals.size(), compiled.literals.size())
        << rule.pattern;
    const auto replacement = WidenAscii<Unit>(rule.replacement);
    EXPECT_TRUE(Template<Unit>(replacement).compact) << rule.pattern;
    const U<Unit> space = ' ';
    const Matcher<Unit> matcher(compiled, {}, run ? &space : nullptr);
    EXPECT_TRUE(WindowReplace<Unit>::Takes(compiled, matcher.scan()))
        << rule.pattern;
  }
}

TEST(LayoutSql, EachRuleTakesItsDirectStrategy) {
  ExpectDirectStrategies<char>();
  ExpectDirectStrategies<char16_t>();
}

// The real engine, recording each call and failing call number fail_at
// (from 1; 0 for none).
class FailingEngine {
 public:
  explicit FailingEngine(std::size_t fail_at) : fail_at_(fail_at) {}
  Status Pattern(std::string_view p) {
    return Call(Operation::kPattern, &Real::Pattern, p);
  }
  Status Global(bool g) { return Call(Operation::kGlobal, &Real::Global, g); }
  Status IgnoreCase(bool i) {
    return Call(Operation::kIgnoreCase, &Real::IgnoreCase, i);
  }
  Status Replace(std::string_view s, std::string_view r, std::string* out) {
    return Call(Operation::kReplace, &Real::Replace, s, r, out);
  }
  std::vector<Operation> calls;

 private:
  using Real = PatternEngine<char>;
  template <typename Method, typename... Args>
  Status Call(Operation operation, Method method, Args... args) {
    calls.push_back(operation);
    if (calls.size() == fail_at_) return {status::kOutOfMemory, "injected"};
    return (real_.*method)(args...);
  }
  Real real_;
  std::size_t fail_at_;
};

TEST(LayoutSql, CallsTheEngineInOrderAndStopsAtItsFirstFailure) {
  constexpr Operation P = Operation::kPattern, G = Operation::kGlobal,
                      I = Operation::kIgnoreCase, R = Operation::kReplace;
  const std::vector<Operation> order = {P, G, R, P, G, R, P, G, I,
                                        R, P, G, I, R, P, G, I, R};
  FailingEngine whole(0);
  EXPECT_EQ(LayoutSql<char>(whole, "a, b where c"),
            "a,\r\n        b\r\nwhere c");
  ASSERT_EQ(whole.calls, order);
  for (std::size_t k = 1; k <= order.size(); ++k) {
    FailingEngine engine(k);
    try {
      LayoutSql<char>(engine, "select a, b from t where x or y");
      ADD_FAILURE() << "no error from call " << k;
    } catch (const Error& error) {
      EXPECT_EQ(error.operation(), order[k - 1]);
      EXPECT_EQ(error.interface_name(), "PatternEngine");
      EXPECT_EQ(error.code(), status::kOutOfMemory);
      EXPECT_EQ(error.cause(), "injected");
    }
    EXPECT_EQ(engine.calls.size(), k) << "calls after the failure";
  }
}

// Short generated texts for the rules' corners, long ones for the vector
// scans and the random piece sizes.
TEST(LayoutSqlProperties, HoldOnTheSqlSampleAndGeneratedText) {
  std::vector<std::string> texts;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(
           QUILLMORE_SQL_SAMPLE_DIR)) {
    if (entry.path().extension() != ".sql") continue;
    std::ostringstream text;
    text << std::ifstream(entry.path(), std::ios::binary).rdbuf();
    texts.push_back(text.str());
  }
  ASSERT_GT(texts.size(), 100u) << "the SQL sample was not found";
  std::mt19937 rng(7);
  const std::string pieces[] = {" ",   ",",     "\r\n",  "\n",  "\r",   "\t",
                                "a",   "WHERE", "order", " or", "And",  "from",
                                "x1",  "(",     "'",     "  ",  "\xff", "wher",
                                "ORD", "fRo",   "an",    "o",   "$1"};
  const int kShort = 3000 / QUILLMORE_TEST_SCALE_DOWN;
  for (int i = 0; i < kShort + 20; ++i) {
    std::string text;
    for (std::size_t n = i < kShort ? rng() % 30 : 4000; n > 0; --n) {
      text += pieces[rng() % 23];
    }
    texts.push_back(text);
  }
  std::uint32_t seed = 0;
  for (const std::string& text : texts) {
    ASSERT_EQ(LayoutPropertyViolation(text, ++seed), "")
        << "seed " << seed << ", text: " << text.substr(0, 300);
  }
}

// Far beyond any clipboard: no stack or counter grows with the input.
TEST(LayoutSqlLarge, MillionsOfSpacesAndCommas) {
  const std::string spaces(50'000'000 / QUILLMORE_TEST_SCALE_DOWN, ' ');
  EXPECT_EQ(LayoutOf<char>(spaces), " ");
  EXPECT_EQ(FusedLayoutSql<char>(spaces), " ");
  const std::string commas(10'000'000 / QUILLMORE_TEST_SCALE_DOWN, ',');
  std::string expected;
  for (std::size_t i = 0; i < commas.size(); ++i) expected += ",\r\n       ";
  EXPECT_TRUE(LayoutOf<char>(commas) == expected);
  EXPECT_TRUE(FusedLayoutSql<char>(commas) == expected);
  // A comma run long enough for the window scan, ending where a piece does.
  const std::string run = "x" + std::string(300, ',') + " or y";
  for (const int width : {16, FusedLayout<char>::BestVectorBytes()}) {
    EXPECT_EQ(FusedInPieces<char>(run, {301, run.size()}, width),
              LayoutOf<char>(run));
  }
}

}  // namespace
}  // namespace quillmore
