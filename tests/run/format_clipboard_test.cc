// The run's failures that real clipboards cannot show: the layout runs out of
// memory, or the write fails. GetText's and Clear's are the desktop
// scenarios' (PausedOwner, and CopyAfterRead on Windows).
#include "run/format_clipboard.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "run/report.h"

namespace quillmore {
namespace {

struct FailureCase {
  const char* name;
  int failing_writes;  // how many SetTexts fail; at 0 the layout fails
  int copied_before;   // the write before which another program copies
  std::optional<std::string> after;
  int calls;  // how many clipboard calls ran: GetText, Clear, SetTexts
  std::string report;
};

class FakeClipboard : public ClipboardText<char> {
 public:
  explicit FakeClipboard(const FailureCase& c) : c(c) {}
  const FailureCase& c;
  std::optional<std::string> text = "a,b";
  int calls = 0;

  std::string GetText() override {
    ++calls;
    return *text;
  }
  void Clear() override {
    ++calls;
    text.reset();
  }
  void SetText(std::string value) override {
    const int write = ++calls - 2;  // 1 the result, 2 the source put back
    if (write == c.copied_before) text = "newer";
    if (write <= c.failing_writes) {
      throw Error(status::kAccessDenied, Operation::kSetText, "busy");
    }
    text = std::move(value);
  }
  bool LeftEmpty() const override { return !text; }
};

struct MaybeFailingEngine : PatternEngine<char> {
  explicit MaybeFailingEngine(bool fails) : fails(fails) {}
  Status Replace(std::string_view text, std::string_view replacement,
                 std::string* result) {
    if (!fails) return PatternEngine<char>::Replace(text, replacement, result);
    return {status::kOutOfMemory, "not enough memory for the result"};
  }
  bool fails;
};

class FormatClipboardFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FormatClipboardFailure, EndsTheRunAndTellsWhatHappened) {
  const FailureCase& c = GetParam();
  FakeClipboard clipboard(c);
  std::vector<std::string> reports;
  const int status = RunAndReport(
      [&] { return &clipboard; },
      [&] { return std::make_unique<MaybeFailingEngine>(!c.failing_writes); },
      [&](const std::string& line) { reports.push_back(line); });
  EXPECT_EQ(status, kExitFailure);
  EXPECT_EQ(clipboard.text, c.after);
  EXPECT_EQ(clipboard.calls, c.calls);
  EXPECT_EQ(reports, std::vector<std::string>{c.report});
}

std::string WriteFailed(std::string then) {
  return then.insert(0,
                     "quillmore: cannot write the clipboard: busy "
                     "(SetText, status 0x80070005)");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(EveryOutcome, FormatClipboardFailure, ::testing::Values(
    FailureCase{"LayoutFails", 0, 0, "a,b", 1,
        "quillmore: cannot lay out the text: not enough memory for the result "
        "(Replace, status 0x8007000E)"},
    // The source goes back, once, only while the run's Clear left it empty.
    FailureCase{"Restored", 1, 0, "a,b", 4,
        WriteFailed("; the original text was put back on the clipboard")},
    FailureCase{"CopiedAfterClear", 1, 1, "newer", 3, WriteFailed("")},
    FailureCase{"RestoreFails", 2, 0, std::nullopt, 4,
        WriteFailed("; the original text could not be put back either (busy), "
        "and the clipboard is left empty")},
    FailureCase{"Overtaken", 2, 2, "newer", 4,
        WriteFailed("; the original text was not put back: another "
        "program wrote the clipboard first, and its copy stays")}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace quillmore
