// quillmore against a real Wayland compositor: each test starts its own
// headless sway and uses wl-clipboard's wl-copy and wl-paste as the other
// programs on the desktop. The program under test is the built quillmore
// executable, run exactly as a hotkey would start it. DISPLAY is unset, so
// nothing here can pass through X11 by accident, except where a test starts
// an X server on purpose to check the choice between the two.
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gtest/gtest.h"
#include "layout/layout_sql.h"
#include "layout/pattern_engine.h"
#include "tests/clipboard/wayland_harness.h"
#include "tests/clipboard/x11_harness.h"

namespace quillmore::testing {
namespace {

const std::string kQuillmore = QUILLMORE_BINARY;
const std::string kPeer = WAYLAND_PEER_BINARY;
const std::string kTempDir = TEST_TEMP_DIR;

// The laid-out text as it should appear on a Wayland clipboard: the
// layout's CR LF line breaks written as LF.
std::string LaidOut(std::string_view source) {
  PatternEngine<char> engine;
  std::string text = LayoutSql<char>(engine, source);
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out.push_back(text[i]);
  }
  return out;
}

std::string WriteTemp(const std::string& name, const std::string& data) {
  const std::string path =
      kTempDir + "/" + std::to_string(getpid()) + "-" + name;
  std::ofstream(path, std::ios::binary) << data;
  return path;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool Has(const std::vector<std::string>& list, const std::string& s) {
  return std::find(list.begin(), list.end(), s) != list.end();
}

class WaylandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("DISPLAY");
    // Every test gets its own tags, so the processes a run or a copy leaves
    // behind can be told apart from those of tests running alongside.
    const std::string id =
        std::to_string(getpid()) + "-" +
        ::testing::UnitTest::GetInstance()->current_test_info()->name();
    tag_ = "QUILLMORE_TEST_TAG=" + id;
    copy_tag_ = "QUILLMORE_TEST_COPY=" + id;
  }

  // Copies text with wl-copy, as a user's editor would.
  void Copy(const std::string& text, const std::string& type = {}) {
    std::vector<std::string> argv = {"wl-copy"};
    if (!type.empty()) argv.insert(argv.end(), {"--type", type});
    RunOptions options;
    options.input = text;
    options.has_input = true;
    options.capture = false;  // wl-copy's background half keeps them open
    options.env = {copy_tag_};
    const RunResult copied = RunProgram(argv, options);
    ASSERT_EQ(copied.exit_status, 0) << "wl-copy failed";
    // The background half serves the text; wait until it really does.
    ASSERT_TRUE(Eventually([&] { return Paste(type).out == text; }))
        << "wl-copy never took the clipboard";
  }

  RunResult Paste(const std::string& type = {}) {
    std::vector<std::string> argv = {"wl-paste", "--no-newline"};
    if (!type.empty()) argv.insert(argv.end(), {"--type", type});
    return RunProgram(argv);
  }

  std::string PastedText() {
    const RunResult pasted = Paste();
    EXPECT_EQ(pasted.exit_status, 0) << pasted.err;
    return pasted.out;
  }

  std::vector<std::string> Types() {
    return Lines(RunProgram({"wl-paste", "--list-types"}).out);
  }

  RunResult RunQuillmore(RunOptions options = {}) {
    options.env.push_back(tag_);
    return RunProgram({kQuillmore}, options);
  }

  // Runs quillmore and expects a clean success: exit 0, nothing printed,
  // and its stdout and stderr released (Run reads them to end of file).
  void RunQuillmoreOk(RunOptions options = {}) {
    const RunResult run = RunQuillmore(options);
    ASSERT_FALSE(run.timed_out) << "quillmore or its server held a pipe open";
    ASSERT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
  }

  std::vector<pid_t> Servers() { return ProcessesWithEnv(tag_); }
  // wl-copy's serving half; not the cat it starts for each paste, which
  // carries the same environment.
  std::vector<pid_t> Copiers() {
    std::vector<pid_t> copiers;
    for (const pid_t pid : ProcessesWithEnv(copy_tag_)) {
      std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
      std::string name;
      if (std::getline(comm, name) && name == "wl-copy") copiers.push_back(pid);
    }
    return copiers;
  }

  std::optional<Sway> sway_{std::in_place};
  std::string tag_;
  std::string copy_tag_;
};

TEST_F(WaylandTest, LaysOutTheFirstWorkedExample) {
  Copy("select a, b from t where x = 1 and y = 2 or z = 3 order by a");
  RunQuillmoreOk();
  EXPECT_EQ(PastedText(),
            "select a,\n"
            "        b\n"
            "  from t\n"
            "where x = 1\n"
            "  and y = 2\n"
            "   or z = 3\n"
            "order by a");
}

TEST_F(WaylandTest, LaysOutTheSecondWorkedExampleWithCrLfInput) {
  Copy(
      "SELECT *\r\nFROM orders o\r\nWHERE o.id IN (1,2)\r\n"
      "  AND o.state = 'open'\r\nORDER BY o.id");
  RunQuillmoreOk();
  EXPECT_EQ(PastedText(),
            "SELECT *\n"
            "  FROM\n"
            "orders o\n"
            "WHERE o.id IN (1,\n"
            "       2)\n"
            "  AND o.state = 'open'\n"
            "ORDER BY o.id");
}

TEST_F(WaylandTest, OffersEveryTextTypeAndLatin1WhereItFits) {
  Copy("select 'caf\xc3\xa9' from t");
  RunQuillmoreOk();
  const std::vector<std::string> types = Types();
  for (const char* type : {"text/plain;charset=utf-8", "UTF8_STRING",
                           "text/plain", "TEXT", "STRING"}) {
    EXPECT_TRUE(Has(types, type)) << type;
  }
  const std::string utf8 = "select 'caf\xc3\xa9'\n  from t";
  EXPECT_EQ(Paste("text/plain;charset=utf-8").out, utf8);
  EXPECT_EQ(Paste("UTF8_STRING").out, utf8);
  EXPECT_EQ(Paste("text/plain").out, utf8);
  EXPECT_EQ(Paste("STRING").out, "select 'caf\xe9'\n  from t");
  EXPECT_EQ(Paste("TEXT").out, "select 'caf\xe9'\n  from t");
}

TEST_F(WaylandTest, ReadsALatin1StringOnlyOwnerAsUtf8) {
  Process owner(
      {kPeer, "own", WriteTemp("latin1", "select 'caf\xe9' from t"), "STRING"});
  ASSERT_EQ(owner.ReadLine(), "ready");
  ASSERT_EQ(Types(), std::vector<std::string>{"STRING"});
  RunQuillmoreOk();
  EXPECT_EQ(PastedText(), "select 'caf\xc3\xa9'\n  from t");
  EXPECT_TRUE(Eventually([&] { return owner.Ended(); }))
      << "the owner was not told that the clipboard was taken";
}

TEST_F(WaylandTest, ReadsTheMostPreferredTextTypeOnOffer) {
  // Different bytes under each type show which one was read.
  Process owner({kPeer, "own", WriteTemp("plain", "select plain from t"),
                 "text/plain", WriteTemp("utf8", "select utf8 from t"),
                 "UTF8_STRING", WriteTemp("string", "select string from t"),
                 "STRING", WriteTemp("html", "<b>select html</b>"),
                 "text/html"});
  ASSERT_EQ(owner.ReadLine(), "ready");
  RunQuillmoreOk();
  EXPECT_EQ(PastedText(), "select utf8\n  from t");

  Process second({kPeer, "own", WriteTemp("plain2", "select plain from t"),
                  "text/plain", WriteTemp("best", "select best from t"),
                  "text/plain;charset=utf-8"});
  ASSERT_EQ(second.ReadLine(), "ready");
  RunQuillmoreOk();
  EXPECT_EQ(PastedText(), "select best\n  from t");
}

TEST_F(WaylandTest, EmptyClipboardBecomesEmptyText) {
  ASSERT_NE(Paste().exit_status, 0) << "the new compositor has a selection";
  RunQuillmoreOk();
  EXPECT_TRUE(Has(Types(), "text/plain;charset=utf-8"));
  const RunResult pasted = Paste();
  EXPECT_EQ(pasted.exit_status, 0) << pasted.err;
  EXPECT_EQ(pasted.out, "");
}

TEST_F(WaylandTest, ImageOnlyClipboardEndsWithEmptyTextAndNoImage) {
  Copy(std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), "image/png");
  ASSERT_TRUE(Has(Types(), "image/png"));
  RunQuillmoreOk();
  const std::vector<std::string> types = Types();
  EXPECT_FALSE(Has(types, "image/png"));
  EXPECT_TRUE(Has(types, "text/plain;charset=utf-8"));
  EXPECT_EQ(PastedText(), "");
  // Clear ended the image's owner: wl-copy serves until it is replaced.
  EXPECT_TRUE(Eventually([&] { return Copiers().empty(); }));
}

TEST_F(WaylandTest, NonAsciiAndInvalidUtf8BytesSurvive) {
  const std::string source =
      "select '\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80', \xff\xfe\xc3 from t "
      "where x = '\x80\xed\xa0\x80' or y = 1\n";
  Copy(source);
  RunQuillmoreOk();
  EXPECT_EQ(PastedText(), LaidOut(source));
  // Neither valid UTF-8 nor Latin-1: STRING and TEXT are not offered.
  const std::vector<std::string> types = Types();
  EXPECT_FALSE(Has(types, "STRING"));
  EXPECT_FALSE(Has(types, "TEXT"));
  EXPECT_TRUE(Has(types, "text/plain;charset=utf-8"));
}

TEST_F(WaylandTest, ThreeMegabytesGoBothWaysAndASlowReaderBlocksNobody) {
  std::string source;
  while (source.size() < 3 * 1024 * 1024) {
    source += "select a, b from t where x = 1 and y = '\xc3\xa9' or z = 3\n";
  }
  Copy(source);
  RunQuillmoreOk();
  const std::string expected = LaidOut(source);
  // Compared as a whole, without printing megabytes when they differ.
  const auto same = [&](const std::string& pasted) {
    return ::testing::AssertionResult(pasted == expected)
           << "pasted " << pasted.size() << " bytes, expected "
           << expected.size();
  };
  EXPECT_TRUE(same(PastedText()));

  // A reader that stops reading: wl-paste whose output nobody reads fills
  // its pipe and stops taking the text from ours. The server goes on
  // serving others meanwhile.
  Process stuck({"wl-paste", "--no-newline"});
  EXPECT_TRUE(same(PastedText()));
  EXPECT_TRUE(same(PastedText()));
  EXPECT_FALSE(stuck.Ended()) << "the stuck reader got all the text";
  // A reader that vanishes in the middle of the text costs the server
  // nothing but that reader.
  kill(stuck.pid(), SIGKILL);
  EXPECT_TRUE(Eventually([&] { return stuck.Ended(); }));
  EXPECT_TRUE(same(PastedText()));
  EXPECT_EQ(Servers().size(), 1u);
}

TEST_F(WaylandTest, PausedOwnerFailsWithinTheDeadlineAndKeepsTheClipboard) {
  const std::string text = "select 1, 2 from t";
  Copy(text);
  const std::vector<pid_t> owners = Copiers();
  ASSERT_EQ(owners.size(), 1u);
  kill(owners[0], SIGSTOP);
  const RunResult run = RunQuillmore();
  kill(owners[0], SIGCONT);
  EXPECT_FALSE(run.timed_out);
  EXPECT_LT(run.elapsed.count(), 10000) << "no answer must not mean a hang";
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "quillmore: cannot read the clipboard: the owning program did not "
            "answer within 2 s (GetText, status 0x800705B4)\n");
  // Nothing changed: the owner still holds the clipboard, text untouched.
  EXPECT_EQ(PastedText(), text);
  EXPECT_EQ(Copiers(), owners);
  EXPECT_TRUE(Servers().empty());
}

TEST_F(WaylandTest, TextOutlivesTheProgramForAHundredPastes) {
  const std::string source = "select a, b from t where x = 1";
  Copy(source);
  RunQuillmoreOk();
  ASSERT_EQ(Servers().size(), 1u) << "no server holds the text";
  // Our Clear replaced wl-copy's selection, which ended it.
  EXPECT_TRUE(Eventually([&] { return Copiers().empty(); }));
  const std::string expected = LaidOut(source);
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(PastedText(), expected) << "paste " << i;
  }
  EXPECT_EQ(Servers().size(), 1u);
}

TEST_F(WaylandTest, ANewCopyEndsTheServer) {
  Copy("select a from t");
  RunQuillmoreOk();
  ASSERT_EQ(Servers().size(), 1u);
  Copy("the next copy");
  EXPECT_TRUE(Eventually([&] { return Servers().empty(); }));
  EXPECT_EQ(PastedText(), "the next copy");
}

TEST_F(WaylandTest, ASecondRunReadsFromTheFirstRunsServer) {
  Copy("select a,b from t");
  RunQuillmoreOk();
  const std::string first = LaidOut("select a,b from t");
  ASSERT_EQ(PastedText(), first);
  RunQuillmoreOk();
  // The second run read the first result and replaced its server by its own.
  EXPECT_EQ(PastedText(), LaidOut(first));
  EXPECT_TRUE(Eventually([&] { return Servers().size() == 1; }));
}

TEST_F(WaylandTest, ServerEndsWithTheCompositor) {
  Copy("select a from t");
  RunQuillmoreOk();
  const std::vector<pid_t> servers = Servers();
  ASSERT_EQ(servers.size(), 1u);
  sway_.reset();
  EXPECT_TRUE(Eventually([&] { return ProcessesWithEnv(tag_).empty(); }));
}

TEST_F(WaylandTest, AStoppedCompositorIsAFailureWithinTheDeadline) {
  Copy("select kept from t");
  kill(sway_->pid(), SIGSTOP);
  const RunResult run = RunQuillmore();
  kill(sway_->pid(), SIGCONT);
  EXPECT_FALSE(run.timed_out);
  EXPECT_LT(run.elapsed.count(), 10000) << "no answer must not mean a hang";
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "");
  // With no X display either, there is no clipboard to use at all.
  EXPECT_EQ(run.err,
            "quillmore: cannot read the clipboard: no X display to use "
            "(DISPLAY is not set); the Wayland clipboard cannot be used "
            "either: the Wayland compositor \"" +
                sway_->socket() +
                "\" did not answer within 2 s (GetText, status "
                "0x80004005)\n");
  EXPECT_EQ(PastedText(), "select kept from t");
  EXPECT_TRUE(Servers().empty());
}

// Copies text to the X11 clipboard with xclip and waits until it is there.
void XCopy(const std::string& text) {
  RunOptions options;
  options.input = text;
  options.has_input = true;
  options.capture = false;
  ASSERT_EQ(RunProgram({"xclip", "-selection", "clipboard", "-i"}, options)
                .exit_status,
            0);
  ASSERT_TRUE(Eventually([&] {
    return RunProgram({"xclip", "-selection", "clipboard", "-o"}).out == text;
  }));
}

std::string XPaste() {
  return RunProgram({"xclip", "-selection", "clipboard", "-o"}).out;
}

TEST_F(WaylandTest, ChoosesWaylandWhereNamedAndX11Otherwise) {
  Xvfb x;  // DISPLAY is set from here on
  const std::string on_wayland = "select a, b from w";
  const std::string on_x11 = "select c, d from x";
  Copy(on_wayland);
  XCopy(on_x11);

  // Both there: Wayland, and the X11 clipboard stays as it was.
  RunQuillmoreOk();
  EXPECT_EQ(PastedText(), LaidOut(on_wayland));
  EXPECT_EQ(XPaste(), on_x11);

  // No WAYLAND_DISPLAY: X11, and the Wayland clipboard stays.
  RunOptions no_wayland;
  no_wayland.unset_env = {"WAYLAND_DISPLAY"};
  RunQuillmoreOk(no_wayland);
  EXPECT_EQ(XPaste(), LaidOut(on_x11));
  EXPECT_EQ(PastedText(), LaidOut(on_wayland));

  // A WAYLAND_DISPLAY with no compositor behind it: X11 again.
  RunOptions stale;
  stale.env = {"WAYLAND_DISPLAY=wayland-gone"};
  RunQuillmoreOk(stale);
  EXPECT_EQ(XPaste(), LaidOut(LaidOut(on_x11)));
  EXPECT_EQ(PastedText(), LaidOut(on_wayland));
}

TEST_F(WaylandTest, NoClipboardToUseIsAClearFailureThatChangesNothing) {
  Copy("select kept from t");
  RunOptions neither;
  neither.env = {"WAYLAND_DISPLAY=wayland-gone"};
  const RunResult run = RunQuillmore(neither);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "quillmore: cannot read the clipboard: no X display to use "
            "(DISPLAY is not set); the Wayland clipboard cannot be used "
            "either: cannot connect to the Wayland compositor "
            "\"wayland-gone\" (GetText, status 0x80004005)\n");
  EXPECT_EQ(PastedText(), "select kept from t");
  EXPECT_TRUE(Servers().empty());
}

}  // namespace
}  // namespace quillmore::testing
