// quillmore on Wayland: each test starts its own headless sway; wl-copy and
// wl-paste are the other programs on the desktop. DISPLAY is unset, so
// nothing passes through X11 unless a test starts an X server on purpose.
// The table's scenarios run through the adapter below; after it come the
// cases only Wayland has: the choice among text types, readers that stall
// or vanish, a stopped or vanished compositor, and the choice of desktop;
// then the table of hostile owners, and two runs started together.
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "gtest/gtest.h"
#include "tests/clipboard/posix.h"

namespace quillmore_test {
namespace {

class WaylandDesktop : public Desktop {
 public:
  WaylandDesktop() : Desktop("text/plain;charset=utf-8", "image/png", "\n") {
    unsetenv("DISPLAY");
  }

  // wl-copy in the foreground serves until another program takes over.
  void Copy(const std::string& bytes, const std::string& type) override {
    std::vector<std::string> argv = {"wl-copy", "--foreground"};
    if (!type.empty()) argv.insert(argv.end(), {"--type", type});
    Own(argv, bytes, type);
  }
  // Takes the clipboard with argv and waits until it has.
  void Own(const std::vector<std::string>& argv, const std::string& bytes,
           const std::string& type = {}) {
    owner_ = std::make_unique<Process>(argv, TempFile(bytes));
    if (!Eventually([&] { return PasteAs(type).said == bytes; })) {
      throw std::runtime_error(argv[0] + " never took the clipboard");
    }
  }
  Outcome PasteAs(const std::string& type) {
    std::vector<std::string> argv = {"wl-paste", "--no-newline"};
    if (!type.empty()) argv.insert(argv.end(), {"--type", type});
    return RunProgram(argv);
  }
  std::optional<std::string> Paste() override {
    Outcome pasted = PasteAs({});
    if (pasted.status != 0) return std::nullopt;
    return pasted.said;
  }
  std::vector<std::string> Types() override {
    return Lines(RunProgram({"wl-paste", "--list-types"}).said);
  }
  using Desktop::Run;
  Outcome Run(const std::vector<std::string>& arguments) override {
    return RunQuillmore(arguments, tag_);
  }
  void PauseOwner(bool paused) override {
    kill(owner_->pid(), paused ? SIGSTOP : SIGCONT);
  }
  int Servers() override { return ProcessesWithEnv(tag_).size(); }

  std::optional<Sway> sway_{std::in_place};
  std::unique_ptr<Process> owner_;
  const std::string tag_ = TestTag();
};

QUILLMORE_DESKTOP_SCENARIOS(Wayland, kWayland,
                            std::make_unique<WaylandDesktop>());

// wl-copy offers every text type with the same bytes, whatever --type says;
// the peer offers only the types it is given, each with its own bytes, so
// the text shows which type was read.
TEST(WaylandOnly, ReadsThePreferredTextTypeAndLatin1) {
  WaylandDesktop d;
  d.Own({WAYLAND_PEER, TempFile("select plain from t"), "text/plain",
         TempFile("select utf8 from t"), "UTF8_STRING",
         TempFile("select string from t"), "STRING",
         TempFile("<b>select html</b>"), "text/html"},
        "select utf8 from t", "UTF8_STRING");
  EXPECT_EQ(d.Run().said, "");
  EXPECT_EQ(d.Paste(), "select utf8\n  from t");

  d.Own({WAYLAND_PEER, TempFile("select plain from t"), "text/plain",
         TempFile("select best from t"), "text/plain;charset=utf-8"},
        "select best from t", "text/plain;charset=utf-8");
  EXPECT_EQ(d.Run().said, "");
  EXPECT_EQ(d.Paste(), "select best\n  from t");

  d.Own({WAYLAND_PEER, TempFile("select 'caf\xe9' from t"), "STRING"},
        "select 'caf\xe9' from t", "STRING");
  EXPECT_EQ(d.Run().said, "");
  EXPECT_TRUE(Eventually([&] { return d.owner_->Ended(); }))
      << "the owner was not told that the clipboard was taken";
  for (const char* type :
       {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain"}) {
    EXPECT_EQ(d.PasteAs(type).said, "select 'caf\xc3\xa9'\n  from t") << type;
  }
  EXPECT_EQ(d.PasteAs("STRING").said, "select 'caf\xe9'\n  from t");
  EXPECT_EQ(d.PasteAs("TEXT").said, "select 'caf\xe9'\n  from t");
}

TEST(WaylandOnly, ReadersThatStallOrVanishBlockNobody) {
  WaylandDesktop d;
  d.Copy(Large("select a, b from t"), {});
  ASSERT_EQ(d.Run().said, "");
  const std::string expected = Large("select a,\n        b\n  from t");
  // wl-paste whose output nobody reads fills its pipe and stops reading
  // ours; the server goes on serving others meanwhile.
  auto stuck = std::make_unique<Process>(
      std::vector<std::string>{"sh", "-c", "wl-paste | sleep 60"});
  EXPECT_TRUE(d.Paste() == expected);
  stuck.reset();  // gone in the middle of the text
  EXPECT_TRUE(d.Paste() == expected);
  EXPECT_EQ(d.Servers(), 1);
}

TEST(WaylandOnly, AStoppedOrVanishedCompositor) {
  WaylandDesktop d;
  d.Copy("select kept from t", {});
  kill(d.sway_->pid(), SIGSTOP);
  const Outcome run = d.Run();
  kill(d.sway_->pid(), SIGCONT);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.said,
            "quillmore: cannot read the clipboard: no X display to use "
            "(DISPLAY is not set); the Wayland clipboard cannot be used "
            "either: the Wayland compositor \"wayland-1\" did not answer "
            "within 2 s (GetText, status 0x80004005)");
  EXPECT_EQ(d.Paste(), "select kept from t");

  ASSERT_EQ(d.Run().said, "");
  ASSERT_EQ(d.Servers(), 1);
  d.sway_.reset();
  EXPECT_TRUE(Eventually([&] { return d.Servers() == 0; }))
      << "the server outlived its compositor";
}

TEST(WaylandOnly, ChoosesWaylandWhereNamedAndX11Otherwise) {
  WaylandDesktop d;
  d.Copy("select a, b from w", {});
  const std::string wayland_display = getenv("WAYLAND_DISPLAY");
  setenv("WAYLAND_DISPLAY", "wayland-gone", 1);
  EXPECT_EQ(d.Run().said,
            "quillmore: cannot read the clipboard: no X display to use "
            "(DISPLAY is not set); the Wayland clipboard cannot be used "
            "either: cannot connect to the Wayland compositor "
            "\"wayland-gone\" (GetText, status 0x80004005)");
  Xvfb x;
  Process x_owner({"xclip", "-quiet", "-selection", "clipboard", "-i"},
                  TempFile("select c, d from x"));
  const auto x_paste = [] {
    return RunProgram({"xclip", "-o", "-selection", "clipboard"}).said;
  };
  ASSERT_TRUE(Eventually([&] { return x_paste() == "select c, d from x"; }));
  // No compositor behind WAYLAND_DISPLAY: X11.
  EXPECT_EQ(d.Run().said, "");
  EXPECT_EQ(x_paste(), "select c,\n        d\n  from x");
  // Both there: Wayland, and the X11 clipboard stays as it was.
  setenv("WAYLAND_DISPLAY", wayland_display.c_str(), 1);
  EXPECT_EQ(d.Run().said, "");
  EXPECT_EQ(d.Paste(), "select a,\n        b\n  from w");
  EXPECT_EQ(x_paste(), "select c,\n        d\n  from x");
}

// Hostile owners, and another program's copy in the middle of a read. The
// hostile peer plays the owners wl-copy cannot (see its opening comment);
// a row without one has wl-copy stopped while quillmore reads from it and
// another wl-copy take the clipboard meanwhile.
struct Hostile {
  const char* name;
  std::vector<std::string> owner = {};  // the peer's mode, its arguments
  std::string text;
  int status = 0;
  std::string said = {};   // how the one line begins
  std::string after = {};  // a paste afterwards; empty: the owner kept it
};

const std::string kTaken =
    "quillmore: cannot read the clipboard: another program took the "
    "clipboard while it was being read (GetText, status 0x80004005)";

const Hostile kHostile[] = {
    // It writes with a plain loop on the end it is given: that end must
    // block, or the text arrives cut short.
    {.name = "OwnerWritingThreeMegabytesWithABlockingLoop",
     .owner = {"wayland-blocking"},
     .text = Large("select a, b from t"),
     .after = Large("select a,\n        b\n  from t")},
    // A byte every 1.5 s, each within the wait for the next one: only the
    // whole read's deadline ends it.
    {.name = "TricklingOwner",
     .owner = {"wayland-trickle"},
     .text = "select 1 from t",
     .status = 1,
     .said = "quillmore: cannot read the clipboard: the owning program sent "
             "only "},
    {.name = "OwnerReplacedWhileRead",
     .text = "select old from t",
     .status = 1,
     .said = kTaken,
     .after = "select new from t"},
};

void PrintTo(const Hostile& h, std::ostream* os) { *os << h.name; }

class WaylandHostile : public ::testing::TestWithParam<Hostile> {};

TEST_P(WaylandHostile, ReadsTheWholeTextOrFailsLeavingTheClipboard) {
  const Hostile& h = GetParam();
  WaylandDesktop d;
  Outcome run;
  if (h.owner.empty()) {
    d.Copy(h.text, {});
    d.PauseOwner(true);
    auto running = std::async(std::launch::async, [&] { return d.Run(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    d.Copy(h.after, {});
    run = running.get();
  } else {
    std::vector<std::string> argv = {HOSTILE_PEER, h.owner[0],
                                     TempFile(h.text)};
    argv.insert(argv.end(), h.owner.begin() + 1, h.owner.end());
    d.owner_ = std::make_unique<Process>(argv);
    // Its types are listed at once; a paste would trickle.
    ASSERT_TRUE(Eventually([&] { return !d.Types().empty(); }));
    run = d.Run();
  }
  EXPECT_EQ(run.status, h.status);
  EXPECT_EQ(run.said.substr(0, h.said.size()), h.said) << run.said;
  if (h.after.empty()) {
    EXPECT_FALSE(d.owner_->Ended()) << "the owner lost the clipboard";
  } else {
    EXPECT_TRUE(d.Paste() == h.after) << "not the text expected";
  }
  EXPECT_EQ(d.Servers(), h.status == 0 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Table, WaylandHostile, ::testing::ValuesIn(kHostile),
                         [](const auto& info) { return info.param.name; });

// A double key press: two runs started together. Each lays the text out
// or fails because the other took the clipboard while it read; what stays
// is the laid-out text, never the empty one.
TEST(WaylandHostileRace, TwoRunsTogetherNeverLeaveTheEmptyText) {
  WaylandDesktop d;
  for (int round = 0; round < 10; ++round) {
    const std::string x = std::to_string(round);
    d.Copy("select a, b from t where x = " + x, {});
    const Outcome both = RunProgram(
        {"sh", "-c", "\"$0\" & \"$0\"; b=$?; wait $!; echo $? $b", QUILLMORE},
        {d.tag_}, true);
    for (const std::string& line : Lines(both.said)) {
      if (line == kTaken) continue;
      EXPECT_TRUE(line == "0 0" || line == "0 1" || line == "1 0") << line;
    }
    EXPECT_EQ(d.Paste(), "select a,\n        b\n  from t\nwhere x = " + x);
  }
}

}  // namespace
}  // namespace quillmore_test
