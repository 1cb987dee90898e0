#include "tests/clipboard/scenarios.h"

#include <algorithm>
#include <thread>

#include "gtest/gtest.h"

namespace quillmore_test {
namespace {

const std::string kWorked =
    "select a, b from t where x = 1 and y = 2 or z = 3 order by a";
const std::string kWorkedOut =
    "select a,\n        b\n  from t\nwhere x = 1\n  and y = 2\n   or z = 3\n"
    "order by a";

const std::string kPaused = "select 1, 2 from t";

const std::vector<Scenario> kScenarios = {
    {.name = "WorkedExample", .text = kWorked, .after = kWorkedOut},
    {.name = "CrLfInput",
     .text = "SELECT *\r\nFROM orders o\r\nWHERE o.id IN (1,2)\r\n"
             "  AND o.state = 'open'\r\nORDER BY o.id",
     .after = "SELECT *\n  FROM\norders o\nWHERE o.id IN (1,\n       2)\n"
              "  AND o.state = 'open'\nORDER BY o.id"},
    {.name = "EmptyClipboard", .before = Before::kNothing, .after = ""},
    {.name = "ImageOnly", .before = Before::kImage, .after = ""},
    // Lone surrogates on Windows, bytes that are not UTF-8 elsewhere.
    {.name = "NonAscii",
     .text = "select 'caf\u00e9 \u20ac\U0001F600', \u8868 from t where x = "
             "'\xed\xa0\x80' or y = '\xed\xb0\x80'",
     .after = "select 'caf\u00e9 \u20ac\U0001F600',\n        \u8868\n  from t\n"
              "where x = '\xed\xa0\x80'\n   or y = '\xed\xb0\x80'"},
    {.name = "LargeText",
     .text = Large(kWorked + "\u00df"),
     .after = Large(kWorkedOut + "\u00df")},
    // A second run lays out the first one's result: a comma that had no
    // space after it now gets eight.
    {.name = "SecondRun",
     .text = "select a,b from t",
     .runs = 2,
     .after = "select a,\n        b\n  from t"},
    {.name = "PausedOwner",
     .text = kPaused,
     .pause_owner = true,
     .status = 1,
     .said = "quillmore: cannot read the clipboard: the owning program did "
             "not answer within 2 s (GetText, status 0x800705B4)",
     .after = kPaused,
     .desktops = kX11 | kWayland},
    {.name = "HundredPastes",
     .text = "select a, b from t where x = 1",
     .after = "select a,\n        b\n  from t\nwhere x = 1",
     .pastes = 100},
    // quillmore takes no arguments: it says so and touches nothing.
    {.name = "ArgumentsAreRefused",
     .text = kPaused,
     .arguments = {"--help", "x"},
     .status = 2,
     .said = "usage: quillmore (takes no arguments; lays out the SQL on the "
             "clipboard)",
     .after = kPaused},
    {.name = "NewCopyEndsTheServer",
     .text = "select a from t",
     .after = "select a\n  from t",
     .next_copy = "the next copy",
     .desktops = kX11 | kWayland},
};

std::string WithLineBreaks(const std::string& text, const std::string& br) {
  std::string out;
  for (char c : text) out += c == '\n' ? br : std::string(1, c);
  return out;
}

// Compares without printing megabytes when they differ.
::testing::AssertionResult Same(const std::optional<std::string>& got,
                                const std::string& want) {
  if (!got) return ::testing::AssertionFailure() << "no text on the clipboard";
  if (*got == want) return ::testing::AssertionSuccess();
  const auto at =
      std::mismatch(got->begin(), got->end(), want.begin(), want.end()).first -
      got->begin();
  return ::testing::AssertionFailure()
         << "got " << got->size() << " bytes, want " << want.size()
         << "; first difference at " << at << ": \"" << got->substr(at, 40)
         << "\" instead of \"" << want.substr(at, 40) << "\"";
}

bool Has(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

std::vector<Scenario> ScenariosFor(DesktopId desktop) {
  std::vector<Scenario> rows;
  for (const Scenario& s : kScenarios) {
    if (s.desktops & desktop) rows.push_back(s);
  }
  return rows;
}

void RunScenario(Desktop& d, const Scenario& s) {
  if (s.before == Before::kText) d.Copy(s.text, {});
  if (s.before == Before::kImage) {
    d.Copy(std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), d.image_type);
    ASSERT_TRUE(Has(d.Types(), d.image_type));
  }
  if (s.before == Before::kNothing) {
    ASSERT_EQ(d.Paste(), std::nullopt);
  }
  if (s.pause_owner) d.PauseOwner(true);
  Outcome run;
  for (int i = 0; i < s.runs && run.status <= 0; ++i) run = d.Run(s.arguments);
  if (s.pause_owner) d.PauseOwner(false);
  EXPECT_EQ(run.status, s.status);
  EXPECT_EQ(run.said, s.said);

  const std::string after = WithLineBreaks(s.after, d.line_break);
  for (int i = 0; i < s.pastes; ++i) {
    ASSERT_TRUE(Same(d.Paste(), after)) << "paste " << i;
  }
  const std::vector<std::string> types = d.Types();
  EXPECT_EQ(Has(types, d.text_type),
            s.status == 0 || s.before == Before::kText);
  if (s.before == Before::kImage) {
    EXPECT_FALSE(Has(types, d.image_type));
  }
  if (d.Servers() < 0) return;
  // A run that wrote the clipboard leaves one server behind; one that
  // failed leaves none.
  const int servers = s.status == 0 ? 1 : 0;
  EXPECT_TRUE(Eventually([&] { return d.Servers() == servers; }))
      << d.Servers() << " servers";
  if (!s.next_copy.empty()) {
    d.Copy(s.next_copy, {});
    EXPECT_TRUE(Eventually([&] { return d.Servers() == 0; }));
    EXPECT_EQ(d.Paste(), s.next_copy);
  }
}

std::string Large(const std::string& item) {
  std::string out = item;
  for (int i = 1; i < 50000; ++i) out += " " + item;
  return out;
}

bool Eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace quillmore_test
