// LayoutSql: the worked examples, the rules' consequences case by case, the
// calls it makes on its engine, and properties checked over real SQL.
#include "layout/layout_sql.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/layout/layout_properties.h"

namespace quillmore {
namespace {

template <typename Unit>
std::basic_string<Unit> Widen(std::string_view text) {
  return std::basic_string<Unit>(text.begin(), text.end());
}

template <typename Unit>
std::basic_string<Unit> Layout(const std::basic_string<Unit>& text) {
  return LayoutOf<Unit>(text);
}

// Compares both code units: the UTF-16 layout of an ASCII text must be the
// UTF-8 layout, unit for unit.
void ExpectLayout(std::string_view input, std::string_view expected) {
  EXPECT_EQ(Layout<char>(std::string(input)), expected) << "input: " << input;
  EXPECT_EQ(Layout<char16_t>(Widen<char16_t>(input)), Widen<char16_t>(expected))
      << "input (UTF-16): " << input;
}

TEST(LayoutSql, WorkedExampleOnOneLine) {
  ExpectLayout(
      "select a, b from t where x = 1 and y = 2 or z = 3 order by a",
      "select a,\r\n        b\r\n  from t\r\nwhere x = 1\r\n  and y = 2\r\n"
      "   or z = 3\r\norder by a");
}

TEST(LayoutSql, WorkedExampleOnSeveralLines) {
  ExpectLayout(
      "SELECT *\r\nFROM orders o\r\nWHERE o.id IN (1,2)\r\n"
      "  AND o.state = 'open'\r\nORDER BY o.id",
      "SELECT *\r\n  FROM\r\norders o\r\nWHERE o.id IN (1,\r\n       2)\r\n"
      "  AND o.state = 'open'\r\nORDER BY o.id");
}

TEST(LayoutSql, FlatteningKeepsOneSpaceAndNeverTrims) {
  const struct {
    const char* input;
    const char* expected;
  } cases[] = {
      {"", ""},
      {"select x", "select x"},
      {"  \r\n a \n\n\r b  ", " a b "},
      {"\r\n \r\n", " "},
      {"a\n\r\rb", "a b"},
      // Tabs are not flattened, and a keyword after a tab is not broken.
      {"select\ta\tfrom t", "select\ta\tfrom t"},
      {"a \t b", "a \t b"},
  };
  for (const auto& c : cases) ExpectLayout(c.input, c.expected);
}

TEST(LayoutSql, CommasBreakWithSevenSpacesAfter) {
  const struct {
    const char* input;
    const char* expected;
  } cases[] = {
      {"a,b", "a,\r\n       b"},
      {"a, b", "a,\r\n        b"},
      {",", ",\r\n       "},
      {"f('x,y')", "f('x,\r\n       y')"},
      // The comma's seven spaces end in the space that the keyword rules
      // turn into their line break.
      {"select a, order_id from t",
       "select a,\r\n       \r\norder_id\r\n  from t"},
      {"a,where x", "a,\r\n      \r\nwhere x"},
      {"a,or b", "a,\r\n      \r\n   or b"},
  };
  for (const auto& c : cases) ExpectLayout(c.input, c.expected);
}

TEST(LayoutSql, KeywordsBreakAfterASpaceWhateverFollowsAndKeepTheirCase) {
  const struct {
    const char* input;
    const char* expected;
  } cases[] = {
      {"x WHERE y Or z aNd w FrOm v ORDER u",
       "x\r\nWHERE y\r\n   Or z\r\n  aNd w\r\n  FrOm v\r\nORDER u"},
      // Only the space in front is tested, so words that begin with a
      // keyword's letters break too.
      {"select origin from t", "select\r\n   origin\r\n  from t"},
      {"x orders whereas", "x\r\norders\r\nwhereas"},
      // "ordinal" does not begin with ORDER; it is broken as OR.
      {"x ordinal", "x\r\n   ordinal"},
      {"x android fromage", "x\r\n  android\r\n  fromage"},
      {"x orange", "x\r\n   orange"},
      // No space in front: at the start, after "(" or a tab.
      {"where x", "where x"},
      {"(select 1)or(x)", "(select 1)or(x)"},
      {"and\tor", "and\tor"},
      // ORDER is broken by the clause rule before the OR rule runs, so it is
      // never taken for OR.
      {"x order by y", "x\r\norder by y"},
      {"a between 1 and 2", "a between 1\r\n  and 2"},
      // No other keyword is touched.
      {"select a join b on c group by d having e union select f",
       "select a join b on c group by d having e union select f"},
  };
  for (const auto& c : cases) ExpectLayout(c.input, c.expected);
}

TEST(LayoutSql, ALeadingRunBeforeAKeywordBecomesALineBreak) {
  ExpectLayout("\r\n  where a or b and c", "\r\nwhere a\r\n   or b\r\n  and c");
  ExpectLayout(" or x", "\r\n   or x");
  ExpectLayout("  from", "\r\n  from");
}

TEST(LayoutSql, UnitsTheRulesDoNotLookAtPassThrough) {
  // NUL, bytes that are not UTF-8, "$1" and backslashes in the text.
  const std::string bytes("\x00\xff\xc3\x28$1\\n\\r$", 11);
  EXPECT_EQ(Layout<char>(bytes), bytes);
  EXPECT_EQ(Layout<char>("a\xff,\xfe" + std::string(1, '\0')),
            "a\xff,\r\n       \xfe" + std::string(1, '\0'));
  // Unpaired surrogates and characters beyond the BMP in UTF-16.
  const std::u16string units = {0xDC00, 0, u'$', u'1', 0xD83D, 0xDE00, 0xD800};
  EXPECT_EQ(Layout<char16_t>(units), units);
  // Non-ASCII letters are not keyword letters, whatever their case.
  EXPECT_EQ(Layout<char16_t>(u"x \u00f6r \u00d6R"), u"x \u00f6r \u00d6R");
}

// ---------------------------------------------------------------------------
// The calls on the engine: one engine, settings never reset, and the first
// failing status ends the chain.

struct Call {
  std::string name;
  std::string argument;
  bool operator==(const Call& other) const {
    return name == other.name && argument == other.argument;
  }
};

class RecordingEngine {
 public:
  explicit RecordingEngine(int fail_at = -1) : fail_at_(fail_at) {}

  Status Pattern(std::string_view pattern) {
    return Record("Pattern", std::string(pattern),
                  [&] { return real_.Pattern(pattern); });
  }
  Status Global(bool global) {
    return Record("Global", global ? "true" : "false",
                  [&] { return real_.Global(global); });
  }
  Status IgnoreCase(bool ignore_case) {
    return Record("IgnoreCase", ignore_case ? "true" : "false",
                  [&] { return real_.IgnoreCase(ignore_case); });
  }
  Status Replace(std::string_view source, std::string_view replacement,
                 std::string* result) {
    return Record("Replace", std::string(replacement),
                  [&] { return real_.Replace(source, replacement, result); });
  }

  const std::vector<Call>& calls() const { return calls_; }

 private:
  template <typename Real>
  Status Record(const char* name, std::string argument, Real real) {
    calls_.push_back({name, std::move(argument)});
    if (static_cast<int>(calls_.size()) - 1 == fail_at_) {
      return Status{status::kFail, "injected failure"};
    }
    return real();
  }

  PatternEngine<char> real_;
  int fail_at_;
  std::vector<Call> calls_;
};

std::vector<Call> ExpectedCalls() {
  std::vector<Call> calls;
  for (const LayoutRule& rule : kLayoutRules) {
    calls.push_back({"Pattern", std::string(rule.pattern)});
    calls.push_back({"Global", "true"});
    if (rule.set_ignore_case) calls.push_back({"IgnoreCase", "true"});
    calls.push_back({"Replace", std::string(rule.replacement)});
  }
  return calls;
}

TEST(LayoutSqlEngineCalls, OneEngineSetThenUsedRuleByRule) {
  RecordingEngine engine;
  EXPECT_EQ(LayoutSql<char>(engine, "a,b"), "a,\r\n       b");
  const std::vector<Call> expected = ExpectedCalls();
  ASSERT_EQ(engine.calls().size(), expected.size());
  EXPECT_TRUE(engine.calls() == expected);
  // The first two rules run with ignore-case untouched; it is set from the
  // third on and never set back.
  EXPECT_EQ(engine.calls()[2].name, "Replace");
  EXPECT_EQ(engine.calls()[8].name, "IgnoreCase");
}

TEST(LayoutSqlEngineCalls, TheFirstFailingCallEndsTheChain) {
  const std::vector<Call> expected = ExpectedCalls();
  for (std::size_t k = 0; k < expected.size(); ++k) {
    RecordingEngine engine(static_cast<int>(k));
    try {
      LayoutSql<char>(engine, "select a, b from t where x or y");
      ADD_FAILURE() << "no error when call " << k << " failed";
    } catch (const Error& error) {
      EXPECT_EQ(OperationName(error.operation()), expected[k].name);
      EXPECT_EQ(error.interface_name(), "PatternEngine");
      EXPECT_EQ(error.code(), status::kFail);
      EXPECT_EQ(error.cause(), "injected failure");
    }
    EXPECT_EQ(engine.calls().size(), k + 1) << "calls went on after " << k;
  }
}

// ---------------------------------------------------------------------------
// Properties over real SQL and generated text.

std::vector<std::string> CorpusTexts() {
  std::vector<std::string> texts;
  const std::filesystem::path root = QUILLMORE_CORPUS_DIR;
  if (!std::filesystem::exists(root)) return texts;
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
  const std::string pieces[] = {" ",  ",",     "\r\n",  "\n",  "\r",  "\t",
                                "a",  "WHERE", "order", " or", "And", "from",
                                "x1", "(",     ")",     "'",   "  ",  "\xff"};
  std::vector<std::string> texts;
  for (int i = 0; i < 3000; ++i) {
    std::string text;
    for (int n = rng() % 30; n > 0; --n) text += pieces[rng() % 18];
    texts.push_back(text);
  }
  return texts;
}

TEST(LayoutSqlProperties, HoldOnRealAndGeneratedSql) {
  std::vector<std::string> texts = CorpusTexts();
  const std::size_t corpus = texts.size();
  for (std::string& text : GeneratedTexts()) texts.push_back(std::move(text));
  EXPECT_GT(corpus, 300u) << "the SQL corpus was not found";
  for (const std::string& text : texts) {
    ASSERT_EQ(LayoutPropertyViolation(text), "") << text;
  }
}

TEST(LayoutSqlLarge, FiftyMillionSpacesAndTenMillionCommas) {
  EXPECT_EQ(Layout<char>(std::string(50'000'000, ' ')), " ");
  const std::string out = Layout<char>(std::string(10'000'000, ','));
  ASSERT_EQ(out.size(), 100'000'000u);
  for (std::size_t i = 0; i < out.size(); i += 10) {
    ASSERT_EQ(out.compare(i, 10, ",\r\n       "), 0) << "at " << i;
  }
}

}  // namespace
}  // namespace quillmore
