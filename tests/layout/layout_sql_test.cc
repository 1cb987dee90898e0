// The layout: a case table, the chain's engine failures, and the properties
// over real and generated SQL.
#include "layout/layout_sql.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "layout/fused_layout.h"
#include "tests/layout/oracles.h"

namespace quillmore {
namespace {

using std::literals::string_view_literals::operator""sv;

const std::pair<std::string_view, std::string_view> kCases[] = {
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
    {"  \r\n a \n\r\rb  ", " a b "},
    // Tabs stay; a keyword at the start or after a tab is not broken.
    {"where\ta\tfrom\tor", "where\ta\tfrom\tor"},
    // A comma: a line break and seven spaces after it.
    {"f(',,')", "f(',\r\n       ,\r\n       ')"},
    // The comma's seventh space is the one the keyword rules break.
    {"select a, order_id from t",
     "select a,\r\n       \r\norder_id\r\n  from t"},
    {"a,where x,\r\nAND b", "a,\r\n      \r\nwhere x,\r\n       \r\n  AND b"},
    // Keywords keep their case; words that begin with one break too.
    {"x WHERE y Or z aNd w FrOm v ORDER u",
     "x\r\nWHERE y\r\n   Or z\r\n  aNd w\r\n  FrOm v\r\nORDER u"},
    {"x orders whereas ordinal android fromage wher fro an o ord",
     "x\r\norders\r\nwhereas\r\n   ordinal\r\n  android\r\n  fromage wher fro "
     "an o\r\n   ord"},
    // A leading run before a keyword becomes that keyword's line break.
    {"\r\n  where a or b and c", "\r\nwhere a\r\n   or b\r\n  and c"},
    {" or x", "\r\n   or x"},
    // Other keywords, "$", "\\", NUL and bytes beyond ASCII are ordinary.
    {"x join on group having union", "x join on group having union"},
    {"a\xff,\xfe\0\xc3\x28$1\\n"sv, "a\xff,\r\n       \xfe\0\xc3\x28$1\\n"sv},
};

// The real engine, failing its call number fail_at (from 1; 0 for none).
struct FailingEngine {
  Status Pattern(std::string_view p) {
    return Fails(Operation::kPattern) ? kInjected : real.Pattern(p);
  }
  Status Global(bool g) {
    return Fails(Operation::kGlobal) ? kInjected : real.Global(g);
  }
  Status IgnoreCase(bool i) {
    return Fails(Operation::kIgnoreCase) ? kInjected : real.IgnoreCase(i);
  }
  Status Replace(std::string_view s, std::string_view r, std::string* out) {
    return Fails(Operation::kReplace) ? kInjected : real.Replace(s, r, out);
  }
  bool Fails(Operation operation) {
    calls.push_back(operation);
    return calls.size() == fail_at;
  }
  std::size_t fail_at;
  std::vector<Operation> calls = {};
  PatternEngine<char> real = {};
  inline static const Status kInjected{status::kOutOfMemory, "injected"};
};

// Whichever call fails, its failure is thrown as given, and no call follows.
TEST(LayoutSql, StopsAtTheEnginesFirstFailure) {
  FailingEngine whole{0};
  LayoutSql<char>(whole, "a");
  for (std::size_t k = 1; k <= whole.calls.size(); ++k) {
    FailingEngine engine{k};
    try {
      LayoutSql<char>(engine, "a");
      ADD_FAILURE() << "no error from call " << k;
    } catch (const Error& error) {
      EXPECT_EQ(error.operation(), whole.calls[k - 1]);
      EXPECT_EQ(error.code(), status::kOutOfMemory);
      EXPECT_STREQ(error.what(), "injected");
    }
    EXPECT_EQ(engine.calls.size(), k) << "calls after the failure";
  }
}

// The real engine, noting each rule whose result did not fit the buffer it
// was given (the buffer then moves).
struct MovingEngine : PatternEngine<char> {
  Status Replace(std::string_view s, std::string_view r, std::string* out) {
    const char* const before = out->data();
    const Status status = PatternEngine<char>::Replace(s, r, out);
    moved += out->data() != before;
    return status;
  }
  int moved = 0;
};

// The chain reserves its two buffers at the start, and every rule writes
// into one of them: a rule that allocates afresh doubles the pages a large
// text touches. The worst case is a text whose commas make it longest and
// whose rule 1 shortens nothing.
TEST(LayoutSql, EveryRuleWritesIntoTheRoomReservedAtTheStart) {
  std::string csv;
  while (csv.size() < 200'000) csv += "83021,7,-1.5,2024-01-31,x,y,\"q\",0\n";
  std::string sql;
  while (sql.size() < 200'000) {
    sql +=
        "SELECT a.id, b.name\n  FROM a, b\n WHERE a.id = b.id\n"
        "   AND b.x IN (1, 2) OR b.y = 3\n ORDER BY 1, 2;\n";
  }
  for (const std::string* text : {&csv, &sql}) {
    MovingEngine engine;
    LayoutSql<char>(engine, *text);
    EXPECT_EQ(engine.moved, 0) << text->substr(0, 40);
  }
}

// Every property on the table, the SQL sample, short generated texts (the
// rules' corners) and long ones (the vector scans, random piece sizes).
TEST(LayoutSql, CaseTableAndPropertiesOnRealAndGeneratedSql) {
  std::vector<std::string> texts;
  for (const auto& [input, expected] : kCases) {
    EXPECT_EQ(LayoutOf<char>(input), expected) << input;
    texts.emplace_back(input);
  }
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
  // The fused layout as the filter feeds it, a read's worth at a time.
  constexpr std::size_t kFilterPiece = std::size_t{1} << 17;
  const std::string spaces(50'000'000 / QUILLMORE_TEST_SCALE_DOWN, ' ');
  EXPECT_EQ(LayoutOf<char>(spaces), " ");
  EXPECT_EQ(FusedInPieces<char>(spaces, {kFilterPiece}), " ");
  const std::string commas(10'000'000 / QUILLMORE_TEST_SCALE_DOWN, ',');
  std::string expected;
  for (std::size_t i = 0; i < commas.size(); ++i) expected += ",\r\n       ";
  EXPECT_TRUE(LayoutOf<char>(commas) == expected);
  EXPECT_TRUE(FusedInPieces<char>(commas, {kFilterPiece}) == expected);
  // A comma run long enough for the window scan, ending where a piece does.
  const std::string run = "x" + std::string(300, ',') + " or y";
  for (const int width : {16, 32, 64}) {
    if (!FusedLayout<char>::Runs(width)) continue;
    EXPECT_EQ(FusedInPieces<char>(run, {301, run.size()}, width),
              LayoutOf<char>(run));
  }
}

}  // namespace
}  // namespace quillmore
