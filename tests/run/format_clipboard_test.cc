// The run's failure path, with a clipboard that fails on command: real
// clipboards cannot be made to fail at each step (tests/clipboard runs the
// backends against real ones).
#include "run/format_clipboard.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "run/report.h"

namespace quillmore {
namespace {

class FakeClipboard : public ClipboardText<char> {
 public:
  std::optional<std::string> text = "a,b";
  // "SetTextOnce" fails only the first SetText, so the restore succeeds;
  // "SetTextOvertaken" fails both, another program copying in between.
  std::string failing;
  // As on X11 and Wayland: Clear empties nothing, the write replaces.
  bool replaces = false;
  std::vector<std::string> calls;

  std::string GetText() override {
    Enter(Operation::kGetText);
    return text.value_or("");
  }
  void Clear() override {
    Enter(Operation::kClear);
    if (!replaces) text.reset();
  }
  void SetText(std::string_view value) override {
    Enter(Operation::kSetText);
    text = std::string(value);
  }
  bool LeftEmpty() const override { return !text; }

 private:
  void Enter(Operation operation) {
    calls.push_back(OperationName(operation));
    const bool set_text = calls.back() == "SetText";
    if (failing == "SetTextOvertaken" && set_text && calls.size() == 4) {
      text = "newer";
    }
    if (failing == calls.back() ||
        ((failing == "SetTextReplacing" || failing == "SetTextOvertaken") &&
         set_text) ||
        (failing == "SetTextOnce" && set_text && calls.size() == 3)) {
      throw Error(status::kAccessDenied, "ClipboardText", operation,
                  "another program holds the clipboard open");
    }
  }
};

// Replace fails as when memory runs out.
struct MaybeFailingEngine : PatternEngine<char> {
  explicit MaybeFailingEngine(bool fails) : fails(fails) {}
  Status Replace(std::string_view text, std::string_view replacement,
                 std::string* result) {
    if (!fails) return PatternEngine<char>::Replace(text, replacement, result);
    return {status::kOutOfMemory, "not enough memory for the result"};
  }
  bool fails;
};

struct FailureCase {
  std::string failing;  // the step that fails, and the case's name
  std::optional<std::string> after;
  std::vector<std::string> calls;
  const char* report;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.failing; }

class FormatClipboardFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FormatClipboardFailure, EndsTheRunAndTellsWhatHappened) {
  const FailureCase& c = GetParam();
  FakeClipboard clipboard;
  clipboard.failing = c.failing;
  clipboard.replaces = c.failing == "SetTextReplacing";
  std::vector<std::string> reports;
  const int status = RunAndReport(
      [&] { return &clipboard; },
      [&] {
        return std::make_unique<MaybeFailingEngine>(c.failing == "Replace");
      },
      [&](const std::string& line) { reports.push_back(line); });
  EXPECT_EQ(status, kExitFailure);
  EXPECT_EQ(clipboard.text, c.after);
  EXPECT_EQ(clipboard.calls, c.calls);
  EXPECT_EQ(reports, std::vector<std::string>{c.report});
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(EveryStep, FormatClipboardFailure, ::testing::Values(
    FailureCase{"GetText", "a,b", {"GetText"},
        "quillmore: cannot read the clipboard: another program holds the "
        "clipboard open (GetText, status 0x80070005)"},
    FailureCase{"Replace", "a,b", {"GetText"},
        "quillmore: cannot lay out the text: not enough memory for the result "
        "(Replace, status 0x8007000E)"},
    FailureCase{"Clear", "a,b", {"GetText", "Clear"},
        "quillmore: cannot empty the clipboard: another program holds the "
        "clipboard open (Clear, status 0x80070005)"},
    // The write fails after the clear: the source goes back, once.
    FailureCase{"SetTextOnce", "a,b", {"GetText", "Clear", "SetText", "SetText"},
        "quillmore: cannot write the clipboard: another program holds the "
        "clipboard open (SetText, status 0x80070005); the original text was "
        "put back on the clipboard"},
    // Nothing was emptied: the clipboard keeps what it has (perhaps a newer
    // copy), and nothing is put back over it.
    FailureCase{"SetTextReplacing", "a,b", {"GetText", "Clear", "SetText"},
        "quillmore: cannot write the clipboard: another program holds the "
        "clipboard open (SetText, status 0x80070005)"},
    FailureCase{"SetText", std::nullopt, {"GetText", "Clear", "SetText", "SetText"},
        "quillmore: cannot write the clipboard: another program holds the "
        "clipboard open (SetText, status 0x80070005); the original text could "
        "not be put back either (another program holds the clipboard open), "
        "and the clipboard is left empty"},
    // Another program copies before the source goes back: its copy stays.
    FailureCase{"SetTextOvertaken", "newer",
        {"GetText", "Clear", "SetText", "SetText"},
        "quillmore: cannot write the clipboard: another program holds the "
        "clipboard open (SetText, status 0x80070005); the original text was "
        "not put back: another program wrote the clipboard first, and its "
        "copy stays"}),
    [](const auto& info) { return info.param.failing; });
// clang-format on

}  // namespace
}  // namespace quillmore
