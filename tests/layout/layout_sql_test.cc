// The layout: the worked examples and the rules' consequences as one case
// table, run through the rule chain (UTF-8 and UTF-16) and the fused layout
// (whole and a unit at a time); how an engine failure ends the chain; and
// the properties over the SQL sample in tests/sql and generated text.
#include "layout/layout_sql.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "layout/fused_layout.h"
#include "tests/layout/layout_properties.h"

namespace quillmore {
namespace {

template <typename Unit>
std::basic_string<Unit> Widen(std::string_view text) {
  return std::basic_string<Unit>(text.begin(), text.end());
}

const struct {
  const char* input;
  const char* expected;
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
    {"select x", "select x"},
    {"  \r\n a \n\n\r b  ", " a b "},
    {"\r\n \r\n", " "},
    {"a\n\r\rb", "a b"},
    {"a\rb", "a b"},
    // Tabs are not flattened, and a keyword after a tab is not broken.
    {"select\ta\tfrom t", "select\ta\tfrom t"},
    {"a \t b", "a \t b"},
    // A comma: a line break and seven spaces after it.
    {"a,b", "a,\r\n       b"},
    {"a, b", "a,\r\n        b"},
    {",", ",\r\n       "},
    {",,", ",\r\n       ,\r\n       "},
    {"f('x,y')", "f('x,\r\n       y')"},
    // The comma's seventh space is the one the keyword rules break.
    {"select a, order_id from t",
     "select a,\r\n       \r\norder_id\r\n  from t"},
    {"a,where x", "a,\r\n      \r\nwhere x"},
    {"a,or b", "a,\r\n      \r\n   or b"},
    {"a,\r\nAND b", "a,\r\n       \r\n  AND b"},
    // Keywords keep their case; only the space in front is tested, so words
    // that begin with a keyword's letters break too.
    {"x WHERE y Or z aNd w FrOm v ORDER u",
     "x\r\nWHERE y\r\n   Or z\r\n  aNd w\r\n  FrOm v\r\nORDER u"},
    {"select origin from t", "select\r\n   origin\r\n  from t"},
    {"x orders whereas", "x\r\norders\r\nwhereas"},
    {"x ordinal", "x\r\n   ordinal"},
    {"x android fromage", "x\r\n  android\r\n  fromage"},
    {"x orange", "x\r\n   orange"},
    {"x wher fro an o ord", "x wher fro an o\r\n   ord"},
    // No space in front: at the start, after "(" or a tab.
    {"where x", "where x"},
    {"(select 1)or(x)", "(select 1)or(x)"},
    {"and\tor", "and\tor"},
    // ORDER is broken by the clause rule before the OR rule runs.
    {"x order by y", "x\r\norder by y"},
    {"a between 1 and 2", "a between 1\r\n  and 2"},
    // A leading run before a keyword becomes that keyword's line break.
    {"\r\n  where a or b and c", "\r\nwhere a\r\n   or b\r\n  and c"},
    {" or x", "\r\n   or x"},
    {"  from", "\r\n  from"},
    // No other keyword is touched.
    {"select a join b on c group by d having e union select f",
     "select a join b on c group by d having e union select f"},
    // Dollars and backslashes in the text are ordinary.
    {"a $1 \\1 $", "a $1 \\1 $"},
};

TEST(LayoutSql, CaseTableThroughTheChainAndTheFusedLayout) {
  for (const auto& c : kCases) {
    const std::string input = c.input;
    EXPECT_EQ(LayoutOf<char>(input), c.expected) << "chain: " << input;
    EXPECT_EQ(LayoutOf<char16_t>(Widen<char16_t>(input)),
              Widen<char16_t>(c.expected))
        << "chain, UTF-16: " << input;
    EXPECT_EQ(FusedLayoutSql<char>(input), c.expected) << "fused: " << input;
    EXPECT_EQ(FusedInPieces<char>(input, {1}, 16), c.expected)
        << "fused, 16-byte vectors, a unit at a time: " << input;
    EXPECT_EQ(FusedInPieces<char16_t>(Widen<char16_t>(input), {1}),
              Widen<char16_t>(c.expected))
        << "fused, UTF-16, a unit at a time: " << input;
  }
}

TEST(LayoutSql, UnitsTheRulesDoNotLookAtPassThrough) {
  // NUL and bytes that are not UTF-8; unpaired surrogates and characters
  // beyond the BMP; non-ASCII letters, which are not keyword letters.
  const std::string bytes("a\xff,\xfe\x00\xc3\x28$1\\n", 11);
  const std::string laid_out("a\xff,\r\n       \xfe\x00\xc3\x28$1\\n", 20);
  const std::u16string units = {0xDC00, 0,      u'$', u'1',   0xD83D, 0xDE00,
                                u' ',   0xD800, u' ', 0x00F6, u'r',   0x0157};
  EXPECT_EQ(LayoutOf<char>(bytes), laid_out);
  EXPECT_EQ(FusedLayoutSql<char>(bytes), laid_out);
  EXPECT_EQ(LayoutOf<char16_t>(units), units);
  EXPECT_EQ(FusedInPieces<char16_t>(units, {1}), units);
}

// An engine that fails on the first call of one operation in one rule, to
// show that the failure ends the chain as it is, with nothing after it.
class FailingEngine {
 public:
  FailingEngine(int rule, Operation operation)
      : rule_(rule), operation_(operation) {}
  Status Pattern(std::string_view p) {
    ++rule_now_;
    return Call(Operation::kPattern, [&] { return real_.Pattern(p); });
  }
  Status Global(bool g) {
    return Call(Operation::kGlobal, [&] { return real_.Global(g); });
  }
  Status IgnoreCase(bool i) {
    return Call(Operation::kIgnoreCase, [&] { return real_.IgnoreCase(i); });
  }
  Status Replace(std::string_view s, std::string_view r, std::string* out) {
    return Call(Operation::kReplace, [&] { return real_.Replace(s, r, out); });
  }
  int calls_after_failure = 0;

 private:
  template <typename Real>
  Status Call(Operation operation, Real real) {
    if (failed_) ++calls_after_failure;
    if (rule_now_ == rule_ && operation == operation_ && !failed_) {
      failed_ = true;
      return Status{status::kOutOfMemory, "injected"};
    }
    return real();
  }
  PatternEngine<char> real_;
  int rule_;
  Operation operation_;
  int rule_now_ = 0;
  bool failed_ = false;
};

TEST(LayoutSql, AnEngineFailureEndsTheChainUnchanged) {
  const struct {
    int rule;
    Operation operation;
  } cases[] = {{1, Operation::kPattern},
               {2, Operation::kGlobal},
               {3, Operation::kIgnoreCase},
               {5, Operation::kReplace}};
  for (const auto& c : cases) {
    FailingEngine engine(c.rule, c.operation);
    try {
      LayoutSql<char>(engine, "select a, b from t where x or y");
      ADD_FAILURE() << "no error from rule " << c.rule;
    } catch (const Error& error) {
      EXPECT_EQ(error.operation(), c.operation);
      EXPECT_EQ(error.interface_name(), "PatternEngine");
      EXPECT_EQ(error.code(), status::kOutOfMemory);
      EXPECT_EQ(error.cause(), "injected");
    }
    EXPECT_EQ(engine.calls_after_failure, 0) << "rule " << c.rule;
  }
}

std::vector<std::string> SampleTexts() {
  std::vector<std::string> texts;
  const std::filesystem::path root = QUILLMORE_SQL_SAMPLE_DIR;
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(root)) {
    if (entry.path().extension() != ".sql") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    texts.push_back(text.str());
  }
  return texts;
}

std::vector<std::string> GeneratedTexts() {
  std::mt19937 rng(7);
  const std::string pieces[] = {" ",   ",",     "\r\n",  "\n",  "\r",   "\t",
                                "a",   "WHERE", "order", " or", "And",  "from",
                                "x1",  "(",     "'",     "  ",  "\xff", "wher",
                                "ORD", "fRo",   "an",    "o",   "$1"};
  std::vector<std::string> texts;
  for (int i = 0; i < 3000; ++i) {
    std::string text;
    for (int n = rng() % 30; n > 0; --n) text += pieces[rng() % 23];
    texts.push_back(text);
  }
  // Long texts, for the vector scans and the random piece sizes.
  for (int i = 0; i < 20; ++i) {
    std::string text;
    while (text.size() < 20000) text += pieces[rng() % 23];
    texts.push_back(text);
  }
  return texts;
}

TEST(LayoutSqlProperties, HoldOnTheSqlSampleAndGeneratedText) {
  std::vector<std::string> texts = SampleTexts();
  ASSERT_GT(texts.size(), 100u) << "the SQL sample was not found";
  for (std::string& text : GeneratedTexts()) texts.push_back(std::move(text));
  std::uint32_t seed = 0;
  for (const std::string& text : texts) {
    ASSERT_EQ(LayoutPropertyViolation(text, ++seed), "")
        << "seed " << seed << ", text: " << text.substr(0, 300);
  }
}

TEST(LayoutSqlLarge, FiftyMillionSpacesAndTenMillionCommas) {
  const std::string spaces(50'000'000, ' ');
  EXPECT_EQ(LayoutOf<char>(spaces), " ");
  EXPECT_EQ(FusedLayoutSql<char>(spaces), " ");
  const std::string commas(10'000'000, ',');
  for (const std::string& out :
       {LayoutOf<char>(commas), FusedLayoutSql<char>(commas)}) {
    ASSERT_EQ(out.size(), 100'000'000u);
    for (std::size_t i = 0; i < out.size(); i += 10) {
      ASSERT_EQ(out.compare(i, 10, ",\r\n       "), 0) << "at " << i;
    }
  }
}

}  // namespace
}  // namespace quillmore
