// The desktop scenarios, each written once: what is on the clipboard before
// quillmore runs, and what the run must leave there and say. Every desktop
// runs the whole table through an adapter of its own: x11_test.cc (Xvfb,
// xclip, xsel), wayland_test.cc (headless sway, wl-copy, wl-paste) and
// windows_test.cc (Wine's clipboard). Cases only one desktop has live in
// that desktop's file, after its adapter.
#ifndef QUILLMORE_TESTS_CLIPBOARD_SCENARIOS_H_
#define QUILLMORE_TESTS_CLIPBOARD_SCENARIOS_H_

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quillmore_test {

enum DesktopId : unsigned { kX11 = 1, kWayland = 2, kWindows = 4, kAll = 7 };

// How a run ended: its exit status and what it told the user (its stderr
// without the last line break on Linux, its message boxes on Windows).
struct Outcome {
  int status = -1;  // -1: it did not end by itself in time
  std::string said;
};

// One desktop as the scenarios see it. Texts are UTF-8 (WTF-8 on Windows,
// where "\xed\xa0\x80" stands for a lone surrogate) and carry the desktop's
// own line breaks.
class Desktop {
 public:
  Desktop(std::string text, std::string image, std::string line_break)
      : text_type(text), image_type(image), line_break(line_break) {}
  virtual ~Desktop() = default;
  // Another program takes the clipboard, offering bytes under one type (a
  // text type when type is empty), and keeps it until replaced. Returns once
  // a paste gives the bytes back.
  virtual void Copy(const std::string& bytes, const std::string& type) = 0;
  // What a paste of text gives; nullopt when the clipboard offers no text.
  virtual std::optional<std::string> Paste() = 0;
  virtual std::vector<std::string> Types() = 0;
  // Starts quillmore as a hotkey would, with these arguments (normally
  // none), and waits for it to end.
  virtual Outcome Run(const std::vector<std::string>& arguments) = 0;
  Outcome Run() { return Run({}); }
  // Stops (or resumes) the program that owns the clipboard.
  virtual void PauseOwner(bool paused) = 0;
  // How many quillmore processes serve the clipboard; -1 where the system
  // itself keeps the text and none is left behind.
  virtual int Servers() = 0;
  // The names of its text and image types, and its line break.
  const std::string text_type, image_type, line_break;
};

enum class Before { kText, kNothing, kImage };

// One row. A new one needs a name and what differs from a plain successful
// run; hostile cases that need a program of their own on the clipboard go in
// that desktop's file instead (see Copy and PauseOwner there).
struct Scenario {
  const char* name;
  Before before = Before::kText;
  std::string text = {};  // what Before::kText copies
  int runs = 1;
  std::vector<std::string> arguments = {};
  bool pause_owner = false;  // the owner is stopped while quillmore runs
  int status = 0;
  std::string said = {};   // the one line a failure reports
  std::string after = {};  // what a paste gives afterwards, "\n" per line break
  int pastes = 1;
  std::string next_copy = {};  // copied after the run; it must end the server
  unsigned desktops = kAll;
};

// The rows meant for one desktop.
std::vector<Scenario> ScenariosFor(DesktopId desktop);

inline void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }
inline std::string ScenarioName(const Scenario& s) { return s.name; }

// Runs one row on a desktop, checking it with gtest assertions.
void RunScenario(Desktop& desktop, const Scenario& scenario);

// 50,000 copies of item joined by a space, three megabytes of SQL: more
// than X11 sends in one piece. Laid out, each copy comes out as it does alone.
std::string Large(const std::string& item);

bool Eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Defines the parameterized test that runs every row meant for a desktop,
// given an expression that makes its adapter.
#define QUILLMORE_DESKTOP_SCENARIOS(Suite, id, make_desktop)  \
  class Suite : public ::testing::TestWithParam<Scenario> {}; \
  TEST_P(Suite, LeavesWhatTheTableSays) {                     \
    auto desktop = make_desktop;                              \
    RunScenario(*desktop, GetParam());                        \
  }                                                           \
  INSTANTIATE_TEST_SUITE_P(                                   \
      Table, Suite, ::testing::ValuesIn(ScenariosFor(id)),    \
      [](const auto& info) { return ScenarioName(info.param); })

}  // namespace quillmore_test

#endif  // QUILLMORE_TESTS_CLIPBOARD_SCENARIOS_H_
