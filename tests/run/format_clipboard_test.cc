// The run and its failure path, with a clipboard that fails on command: real
// clipboards cannot be made to fail at each step, so this one stands in for
// them. The real backends are tested against real clipboards elsewhere.
#include "run/format_clipboard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "run/report.h"

namespace quillmore {
namespace {

class FakeClipboard : public ClipboardText<char> {
 public:
  // What the clipboard holds: text (or none) and whether other formats,
  // such as an image, are on it too.
  std::optional<std::string> text;
  bool other_formats = false;
  // Operations that fail; SetText can fail just the first time, so that
  // putting the source back succeeds, or every time.
  std::vector<std::string> failing;
  bool set_text_fails_once = false;
  std::vector<std::string> calls;

  std::string GetText() override {
    Enter(Operation::kGetText);
    return text.value_or("");
  }
  void Clear() override {
    Enter(Operation::kClear);
    text.reset();
    other_formats = false;
  }
  void SetText(std::string_view value) override {
    Enter(Operation::kSetText);
    text = std::string(value);
  }

 private:
  void Enter(Operation operation) {
    const std::string name = OperationName(operation);
    calls.push_back(name);
    bool fail = false;
    for (const auto& f : failing) fail = fail || f == name;
    if (operation == Operation::kSetText && set_text_fails_once) {
      fail = std::count(calls.begin(), calls.end(), "SetText") == 1;
    }
    if (fail) {
      throw Error(status::kAccessDenied, "ClipboardText", operation,
                  "another program holds the clipboard open");
    }
  }
};

auto RealEngine() {
  return [] { return std::make_unique<PatternEngine<char>>(); };
}

TEST(FormatClipboard, LaysOutTheTextAndWritesItBack) {
  FakeClipboard clipboard;
  clipboard.text = "select a, b from t where x = 1";
  FormatClipboard(clipboard, RealEngine());
  EXPECT_EQ(clipboard.text,
            "select a,\r\n        b\r\n  from t\r\nwhere x = 1");
  EXPECT_EQ(clipboard.calls,
            (std::vector<std::string>{"GetText", "Clear", "SetText"}));
}

TEST(FormatClipboard, ClearsAndWritesEvenWhenNothingChanges) {
  // No text (only an image), and a text the rules leave as it is: both go
  // through every step, so the image is gone and the text is rewritten.
  FakeClipboard image;
  image.other_formats = true;
  FormatClipboard(image, RealEngine());
  EXPECT_EQ(image.text, "");
  EXPECT_FALSE(image.other_formats);
  EXPECT_EQ(image.calls.size(), 3u);

  FakeClipboard plain;
  plain.text = "select 1";
  plain.other_formats = true;
  FormatClipboard(plain, RealEngine());
  EXPECT_EQ(plain.text, "select 1");
  EXPECT_FALSE(plain.other_formats);
  EXPECT_EQ(plain.calls.size(), 3u);
}

// What each failing step leaves behind and what the user is told.
struct FailureCase {
  const char* name;
  std::vector<std::string> failing;
  bool set_text_fails_once;
  bool engine_fails;
  std::optional<std::string> clipboard_after;
  std::vector<std::string> calls;
  const char* report;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class FormatClipboardFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FormatClipboardFailure, EndsTheRunAndTellsWhatHappened) {
  const FailureCase& c = GetParam();
  FakeClipboard clipboard;
  clipboard.text = "a,b";
  clipboard.failing = c.failing;
  clipboard.set_text_fails_once = c.set_text_fails_once;
  std::vector<std::string> reports;
  const int status = RunAndReport(
      [&] {
        // The run must not own the fake; hand it a view that forwards.
        struct Borrowed : ClipboardText<char> {
          FakeClipboard* fake;
          std::string GetText() override { return fake->GetText(); }
          void Clear() override { fake->Clear(); }
          void SetText(std::string_view t) override { fake->SetText(t); }
        };
        auto borrowed = std::make_unique<Borrowed>();
        borrowed->fake = &clipboard;
        return borrowed;
      },
      [&] {
        if (c.engine_fails) {
          throw Error(status::kOutOfMemory, "PatternEngine", Operation::kCreate,
                      "not enough memory for the engine");
        }
        return std::make_unique<PatternEngine<char>>();
      },
      [&](const std::string& line) { reports.push_back(line); });

  EXPECT_EQ(status, kExitFailure);
  EXPECT_EQ(clipboard.text, c.clipboard_after);
  EXPECT_EQ(clipboard.calls, c.calls);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], c.report);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, FormatClipboardFailure,
    ::testing::Values(
        FailureCase{"Read",
                    {"GetText"},
                    false,
                    false,
                    "a,b",
                    {"GetText"},
                    "quillmore: cannot read the clipboard: another program "
                    "holds the clipboard open (GetText, status 0x80070005)"},
        FailureCase{"CreateEngine",
                    {},
                    false,
                    true,
                    "a,b",
                    {"GetText"},
                    "quillmore: cannot lay out the text: not enough "
                    "memory for the engine (Create, status 0x8007000E)"},
        FailureCase{"Clear",
                    {"Clear"},
                    false,
                    false,
                    "a,b",
                    {"GetText", "Clear"},
                    "quillmore: cannot empty the clipboard: another program "
                    "holds the clipboard open (Clear, status 0x80070005)"},
        // The write fails after the clear: the source goes back, once.
        FailureCase{"WriteThenRestore",
                    {},
                    true,
                    false,
                    "a,b",
                    {"GetText", "Clear", "SetText", "SetText"},
                    "quillmore: cannot write the clipboard: another program "
                    "holds the clipboard open (SetText, status 0x80070005); "
                    "the original text was put back on the clipboard"},
        FailureCase{"WriteAndRestoreFail",
                    {"SetText"},
                    false,
                    false,
                    std::nullopt,
                    {"GetText", "Clear", "SetText", "SetText"},
                    "quillmore: cannot write the clipboard: another program "
                    "holds the clipboard open (SetText, status 0x80070005); "
                    "the original text could not be put back either "
                    "(another program holds the clipboard open), and the "
                    "clipboard is empty"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FormatClipboard, AnEngineFailureLeavesTheClipboardUntouched) {
  struct FailingReplace : PatternEngine<char> {
    Status Replace(std::string_view, std::string_view, std::string*) {
      return {status::kOutOfMemory, "not enough memory for the result"};
    }
  };
  FakeClipboard clipboard;
  clipboard.text = "a,b";
  try {
    FormatClipboard(clipboard,
                    [] { return std::make_unique<FailingReplace>(); });
    FAIL() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(DescribeFailure(error),
              "quillmore: cannot lay out the text: not enough memory for the "
              "result (Replace, status 0x8007000E)");
  }
  EXPECT_EQ(clipboard.text, "a,b");
  EXPECT_EQ(clipboard.calls, std::vector<std::string>{"GetText"});
}

}  // namespace
}  // namespace quillmore
