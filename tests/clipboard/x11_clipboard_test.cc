// quillmore against a real X server: each test starts its own Xvfb and uses
// xclip and xsel (and, where they cannot serve, the suite's own x11_peer) as
// the other programs on the desktop. The program under test is the built
// quillmore executable, run exactly as a hotkey would start it.
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "gtest/gtest.h"
#include "layout/layout_sql.h"
#include "layout/pattern_engine.h"
#include "tests/clipboard/x11_harness.h"

namespace quillmore::testing {
namespace {

const std::string kQuillmore = QUILLMORE_BINARY;
const std::string kPeer = X11_PEER_BINARY;
const std::string kTempDir = TEST_TEMP_DIR;

// The laid-out text as it should appear on an X11 clipboard: the layout's
// CR LF line breaks written as LF.
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

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string WriteTemp(const std::string& name, const std::string& data) {
  const std::string path = kTempDir + "/" + name;
  std::ofstream(path, std::ios::binary) << data;
  return path;
}

class X11Test : public ::testing::Test {
 protected:
  void SetUp() override {
    // On a Wayland desktop quillmore would use the compositor's clipboard;
    // these tests are about the X11 one.
    unsetenv("WAYLAND_DISPLAY");
    // Every test gets its own tag, so the server a run leaves behind can be
    // told apart from those of tests running alongside.
    tag_ = "QUILLMORE_TEST_TAG=" + std::to_string(getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }

  // Copies text with xclip, as a user's editor would.
  void Copy(const std::string& text, const std::string& target = {}) {
    std::vector<std::string> argv = {"xclip", "-selection", "clipboard", "-i"};
    if (!target.empty()) argv.insert(argv.end(), {"-t", target});
    RunOptions options;
    options.input = text;
    options.has_input = true;
    options.capture = false;  // xclip's background half keeps them open
    const RunResult copied = RunProgram(argv, options);
    ASSERT_EQ(copied.exit_status, 0) << "xclip -i failed";
    // xclip takes the selection in its background half, possibly after the
    // foreground half has ended: wait until the text is really there.
    ASSERT_TRUE(Eventually([&] { return Paste(target).out == text; }))
        << "xclip never took the clipboard";
  }

  RunResult Paste(const std::string& target = {}) {
    std::vector<std::string> argv = {"xclip", "-selection", "clipboard", "-o"};
    if (!target.empty()) argv.insert(argv.end(), {"-t", target});
    return RunProgram(argv);
  }

  std::string PastedText() {
    const RunResult pasted = Paste();
    EXPECT_EQ(pasted.exit_status, 0) << pasted.err;
    return pasted.out;
  }

  std::vector<std::string> Targets() {
    const RunResult listed = Paste("TARGETS");
    std::vector<std::string> targets;
    std::size_t start = 0;
    while (start < listed.out.size()) {
      std::size_t end = listed.out.find('\n', start);
      if (end == std::string::npos) end = listed.out.size();
      targets.push_back(listed.out.substr(start, end - start));
      start = end + 1;
    }
    return targets;
  }

  static bool Has(const std::vector<std::string>& list, const std::string& s) {
    return std::find(list.begin(), list.end(), s) != list.end();
  }

  RunResult RunQuillmore() {
    RunOptions options;
    options.env = {tag_};
    return RunProgram({kQuillmore}, options);
  }

  // Runs quillmore and expects a clean success: exit 0, nothing printed,
  // and its stdout and stderr released (Run reads them to end of file).
  void RunQuillmoreOk() {
    const RunResult run = RunQuillmore();
    ASSERT_FALSE(run.timed_out) << "quillmore or its server held a pipe open";
    ASSERT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
  }

  std::vector<pid_t> Servers() { return ProcessesWithEnv(tag_); }

  Xvfb x_;
  std::string tag_;
};

TEST_F(X11Test, LaysOutTheFirstWorkedExample) {
  Copy("select a, b from t where x = 1 and y = 2 or z = 3 order by a");
  RunQuillmoreOk();
  const std::string expected =
      "select a,\n"
      "        b\n"
      "  from t\n"
      "where x = 1\n"
      "  and y = 2\n"
      "   or z = 3\n"
      "order by a";
  EXPECT_EQ(PastedText(), expected);
  const RunResult xsel = RunProgram({"xsel", "--clipboard", "--output"});
  EXPECT_EQ(xsel.out, expected);
}

TEST_F(X11Test, LaysOutTheSecondWorkedExampleWithCrLfInput) {
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

TEST_F(X11Test, EmptyClipboardBecomesEmptyText) {
  ASSERT_NE(Paste().exit_status, 0) << "the new display's clipboard has text";
  RunQuillmoreOk();
  EXPECT_TRUE(Has(Targets(), "UTF8_STRING"));
  const RunResult pasted = Paste();
  EXPECT_EQ(pasted.exit_status, 0) << pasted.err;
  EXPECT_EQ(pasted.out, "");
}

TEST_F(X11Test, ImageOnlyClipboardEndsWithEmptyTextAndNoImage) {
  Copy(std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), "image/png");
  ASSERT_TRUE(Has(Targets(), "image/png"));
  RunQuillmoreOk();
  const std::vector<std::string> targets = Targets();
  EXPECT_FALSE(Has(targets, "image/png"));
  EXPECT_TRUE(Has(targets, "UTF8_STRING"));
  EXPECT_EQ(PastedText(), "");
}

TEST_F(X11Test, ReadsAnXselOwnerThatOffersNoUtf8String) {
  RunOptions options;
  options.input = "select a,b from t where c = 'x'";
  options.has_input = true;
  options.capture = false;
  ASSERT_EQ(RunProgram({"xsel", "--clipboard", "--input"}, options).exit_status,
            0);
  ASSERT_TRUE(Eventually([&] { return Paste().out == options.input; }));
  ASSERT_FALSE(Has(Targets(), "UTF8_STRING"));
  RunQuillmoreOk();
  EXPECT_EQ(PastedText(), "select a,\n       b\n  from t\nwhere c = 'x'");
}

TEST_F(X11Test, ConvertsALatin1StringOwnerToUtf8) {
  Process owner({kPeer, "own",
                 WriteTemp("latin1.txt", "select 'caf\xe9' from t"), "STRING"});
  ASSERT_EQ(owner.ReadLine(), "ready");
  RunQuillmoreOk();
  EXPECT_EQ(PastedText(), "select 'caf\xc3\xa9'\n  from t");
  // The same text is offered back as Latin-1 STRING too.
  EXPECT_EQ(Paste("STRING").out, "select 'caf\xe9'\n  from t");
}

TEST_F(X11Test, ReadsAnOwnerThatRefusesTargets) {
  Process owner({kPeer, "own", WriteTemp("notargets.txt", "select a,b"),
                 "UTF8_STRING", "notargets"});
  ASSERT_EQ(owner.ReadLine(), "ready");
  RunQuillmoreOk();
  EXPECT_EQ(PastedText(), "select a,\n       b");
}

TEST_F(X11Test, ReadsALatin1OwnerThatRefusesTargets) {
  Process owner({kPeer, "own", WriteTemp("notargets1.txt", "caf\xe9,b"),
                 "STRING", "notargets"});
  ASSERT_EQ(owner.ReadLine(), "ready");
  RunQuillmoreOk();
  EXPECT_EQ(PastedText(), "caf\xc3\xa9,\n       b");
}

TEST_F(X11Test, StalledIncrSenderFailsWithinTheDeadlineAndKeepsTheClipboard) {
  const std::string text = "select a, b from t";
  Process owner({kPeer, "own", WriteTemp("stall.txt", text), "UTF8_STRING",
                 "incr-stall"});
  ASSERT_EQ(owner.ReadLine(), "ready");
  const RunResult run = RunQuillmore();
  EXPECT_FALSE(run.timed_out);
  EXPECT_LT(run.elapsed.count(), 10000) << "a stalled sender must not hang us";
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err,
            "quillmore: cannot read the clipboard: the owning program stopped "
            "sending the text for 2 s (GetText, status 0x800705B4)\n");
  EXPECT_FALSE(owner.Ended());
  EXPECT_TRUE(Servers().empty());
  // Still the stalled owner's clipboard: TARGETS lists its one target.
  EXPECT_EQ(Targets(), (std::vector<std::string>{"TARGETS", "UTF8_STRING"}));
}

TEST_F(X11Test, NonAsciiAndInvalidUtf8BytesSurvive) {
  const std::string source =
      "select '\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80', \xff\xfe\xc3 from t "
      "where x = '\x80\xed\xa0\x80' or y = 1\n";
  Copy(source);
  RunQuillmoreOk();
  EXPECT_EQ(PastedText(), LaidOut(source));
  // Neither valid UTF-8 nor Latin-1: STRING and TEXT are not offered.
  const std::vector<std::string> targets = Targets();
  EXPECT_FALSE(Has(targets, "STRING"));
  EXPECT_FALSE(Has(targets, "TEXT"));
  EXPECT_TRUE(Has(targets, "text/plain;charset=utf-8"));
}

TEST_F(X11Test, ThreeMegabytesGoBothWaysIncrementally) {
  std::string source;
  while (source.size() < 3 * 1024 * 1024) {
    source += "select a, b from t where x = 1 and y = 'é' or z = 3\n";
  }
  Copy(source);  // xclip sends anything above 1 MiB with INCR
  RunQuillmoreOk();
  const std::string expected = LaidOut(source);
  EXPECT_EQ(PastedText(), expected);
  EXPECT_EQ(RunProgram({"xsel", "--clipboard", "--output"}).out, expected);

  // A requestor that vanishes in the middle of our transfer costs the
  // server nothing: it still serves the next paste.
  const RunResult abandoned = RunProgram({kPeer, "abandon"});
  EXPECT_EQ(abandoned.out, "incr\n") << abandoned.err;
  EXPECT_EQ(PastedText(), expected);
  EXPECT_EQ(Servers().size(), 1u);
}

TEST_F(X11Test, RequestorsThatVanishDoNotEndTheServer) {
  std::string source;
  while (source.size() < 3 * 1024 * 1024) source += "select a, b from t\n";
  Copy(source);
  RunQuillmoreOk();
  const std::vector<pid_t> servers = Servers();
  ASSERT_EQ(servers.size(), 1u);
  // While the server is stopped, requests pile up whose requestors are gone
  // by the time it answers: every answer then draws an X error (BadWindow).
  kill(servers[0], SIGSTOP);
  RunOptions quick;
  quick.timeout = milliseconds(300);
  for (const char* target : {"UTF8_STRING", "TARGETS", "MULTIPLE"}) {
    const RunResult gone =
        RunProgram({kPeer, "request", target, "now", "prop"}, quick);
    EXPECT_TRUE(gone.timed_out);
  }
  kill(servers[0], SIGCONT);
  EXPECT_EQ(PastedText(), LaidOut(source));
  EXPECT_EQ(Servers(), servers);
}

TEST_F(X11Test, PausedOwnerFailsWithinTheDeadlineAndKeepsTheClipboard) {
  const std::string text = "select 1, 2 from t";
  Process owner({kPeer, "own", WriteTemp("paused.txt", text), "UTF8_STRING"});
  ASSERT_EQ(owner.ReadLine(), "ready");
  kill(owner.pid(), SIGSTOP);
  const RunResult run = RunQuillmore();
  kill(owner.pid(), SIGCONT);
  EXPECT_FALSE(run.timed_out);
  EXPECT_LT(run.elapsed.count(), 10000) << "no answer must not mean a hang";
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "quillmore: cannot read the clipboard: the owning program did not "
            "answer within 2 s (GetText, status 0x800705B4)\n");
  // The owner answers the stale request into a window that is gone, and
  // still holds the clipboard with the text untouched.
  EXPECT_EQ(PastedText(), text);
  EXPECT_FALSE(owner.Ended());
  EXPECT_TRUE(Servers().empty());
}

TEST_F(X11Test, AnswersEachTargetAsAnOwnerShould) {
  Copy("select caf\xc3\xa9 from t");
  RunQuillmoreOk();
  const std::string text = "select caf\xc3\xa9\n  from t";
  const auto ask = [&](const char* target, const char* when,
                       const char* property) {
    const RunResult answer =
        RunProgram({kPeer, "request", target, when, property});
    EXPECT_EQ(answer.exit_status, 0) << answer.err;
    return answer.out;
  };
  EXPECT_EQ(ask("TARGETS", "now", "prop"),
            "ATOM 32 TARGETS TIMESTAMP MULTIPLE SAVE_TARGETS UTF8_STRING "
            "text/plain;charset=utf-8 STRING TEXT\n");
  EXPECT_EQ(ask("UTF8_STRING", "now", "prop"), "UTF8_STRING 8 " + text + "\n");
  EXPECT_EQ(ask("UTF8_STRING", "current", "prop"),
            "UTF8_STRING 8 " + text + "\n");
  EXPECT_EQ(ask("text/plain;charset=utf-8", "now", "prop"),
            "text/plain;charset=utf-8 8 " + text + "\n");
  EXPECT_EQ(ask("STRING", "now", "prop"),
            "STRING 8 select caf\xe9\n  from t\n");
  EXPECT_EQ(ask("TEXT", "now", "prop"), "STRING 8 select caf\xe9\n  from t\n");
  // An obsolete requestor that names no property gets the target as one.
  EXPECT_EQ(ask("UTF8_STRING", "now", "none"), "UTF8_STRING 8 " + text + "\n");
  EXPECT_EQ(ask("image/png", "now", "prop"), "refused\n");
  EXPECT_EQ(ask("MULTIPLE", "now", "none"), "refused\n");
  // A request stamped before quillmore took the clipboard was not for it.
  EXPECT_EQ(ask("UTF8_STRING", "old", "prop"), "refused\n");
  const std::string stamp = ask("TIMESTAMP", "now", "prop");
  EXPECT_EQ(stamp.rfind("INTEGER 32 ", 0), 0u) << stamp;
}

TEST_F(X11Test, TextOutlivesTheProgramForAHundredPastes) {
  const std::string source = "select a, b from t where x = 1";
  Copy(source);
  RunQuillmoreOk();
  ASSERT_EQ(Servers().size(), 1u) << "no server holds the text";
  const std::string expected = LaidOut(source);
  for (int i = 0; i < 100; ++i) {
    const RunResult pasted =
        i % 2 == 0 ? Paste() : RunProgram({"xsel", "--clipboard", "--output"});
    ASSERT_EQ(pasted.out, expected) << "paste " << i;
  }
  EXPECT_EQ(Servers().size(), 1u);
}

TEST_F(X11Test, ANewCopyEndsTheServer) {
  Copy("select a from t");
  RunQuillmoreOk();
  ASSERT_EQ(Servers().size(), 1u);
  Copy("the next copy");
  EXPECT_TRUE(Eventually([&] { return Servers().empty(); }));
  EXPECT_EQ(PastedText(), "the next copy");
}

TEST_F(X11Test, ASecondRunReadsFromTheFirstRunsServer) {
  Copy("select a,b from t");
  RunQuillmoreOk();
  const std::string first = LaidOut("select a,b from t");
  ASSERT_EQ(PastedText(), first);
  RunQuillmoreOk();
  // The second run read the first result and replaced its server by its own.
  EXPECT_EQ(PastedText(), LaidOut(first));
  EXPECT_TRUE(Eventually([&] { return Servers().size() == 1; }));
}

TEST_F(X11Test, HandsTheTextToAClipboardManagerWithoutForking) {
  const std::string saved = kTempDir + "/manager-" + std::to_string(getpid());
  Process manager({kPeer, "manager", saved});
  ASSERT_EQ(manager.ReadLine(), "ready");
  const std::string source = "select a, b from t where x = 1";
  Copy(source);
  RunQuillmoreOk();
  EXPECT_TRUE(Servers().empty()) << "a server was forked despite the manager";
  const std::string expected = LaidOut(source);
  EXPECT_EQ(ReadFile(saved), expected);
  EXPECT_EQ(ReadFile(saved + ".log"),
            "targets: TARGETS TIMESTAMP MULTIPLE SAVE_TARGETS UTF8_STRING "
            "text/plain;charset=utf-8 STRING TEXT\n"
            "multiple: UTF8_STRING TIMESTAMP None\n"
            "timestamp-type: INTEGER\n");
  EXPECT_EQ(PastedText(), expected);  // now served by the manager
}

TEST_F(X11Test, HandsThreeMegabytesToAClipboardManagerIncrementally) {
  const std::string saved = kTempDir + "/manager3m-" + std::to_string(getpid());
  Process manager({kPeer, "manager", saved});
  ASSERT_EQ(manager.ReadLine(), "ready");
  std::string source;
  while (source.size() < 3 * 1024 * 1024) source += "select a, b from t\n";
  Copy(source);
  RunQuillmoreOk();
  EXPECT_TRUE(Servers().empty()) << "a server was forked despite the manager";
  const std::string expected = LaidOut(source);
  EXPECT_EQ(ReadFile(saved), expected);
  const std::string log = ReadFile(saved + ".log");
  EXPECT_NE(log.find("multiple: UTF8_STRING TIMESTAMP None (incr)\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(PastedText(), expected);
}

TEST_F(X11Test, FallsBackToAServerWhenTheManagerDoesNotAnswer) {
  Process manager({kPeer, "manager", kTempDir + "/silent-manager"});
  ASSERT_EQ(manager.ReadLine(), "ready");
  kill(manager.pid(), SIGSTOP);
  Copy("select a from t where b = 1");
  RunQuillmoreOk();
  EXPECT_EQ(Servers().size(), 1u);
  EXPECT_EQ(PastedText(), LaidOut("select a from t where b = 1"));
  kill(manager.pid(), SIGCONT);
}

TEST_F(X11Test, NoDisplayIsAClearFailureThatLeavesTheClipboardAlone) {
  Copy("select kept from t");
  RunOptions unset;
  unset.unset_env = {"DISPLAY"};
  const RunResult no_display = RunProgram({kQuillmore}, unset);
  EXPECT_EQ(no_display.exit_status, 1);
  EXPECT_EQ(no_display.err,
            "quillmore: cannot read the clipboard: no X display to use "
            "(DISPLAY is not set) (GetText, status 0x80004005)\n");

  RunOptions unreachable;
  unreachable.env = {"DISPLAY=:65000"};
  const RunResult wrong = RunProgram({kQuillmore}, unreachable);
  EXPECT_EQ(wrong.exit_status, 1);
  EXPECT_EQ(wrong.err,
            "quillmore: cannot read the clipboard: cannot connect to the X "
            "display \":65000\" (GetText, status 0x80004005)\n");

  EXPECT_EQ(PastedText(), "select kept from t");
}

}  // namespace
}  // namespace quillmore::testing
