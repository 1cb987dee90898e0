// quillmore on X11: each test starts its own Xvfb; xclip and xsel are the
// other programs on the desktop. The table's scenarios run through the
// adapter below; after it come the cases only X11 has: the text targets and
// Latin-1, and INCR transfers to requestors that vanish. The clipboard
// manager and the hostile cases are in x11_hostile_test.sh.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <thread>

#include "gtest/gtest.h"
#include "tests/clipboard/posix.h"

namespace quillmore_test {
namespace {

Outcome Ask(const std::string& target) {
  return RunProgram({"xclip", "-o", "-selection", "clipboard", "-t", target});
}

class X11Desktop : public Desktop {
 public:
  X11Desktop() : Desktop("UTF8_STRING", "image/png", "\n") {
    unsetenv("WAYLAND_DISPLAY");
  }

  // xclip in the foreground owns the clipboard with one target (and
  // TARGETS) until another program takes it.
  void Copy(const std::string& bytes, const std::string& type) override {
    Own({"xclip", "-quiet", "-selection", "clipboard", "-t",
         type.empty() ? text_type : type, "-i"},
        bytes, type.empty() ? text_type : type);
  }
  void Own(const std::vector<std::string>& argv, const std::string& bytes,
           const std::string& target) {
    copied_ = bytes;
    owner_ = std::make_unique<Process>(argv, TempFile(bytes));
    Outcome asked;
    if (!Eventually([&] { return (asked = Ask(target)).said == bytes; })) {
      throw std::runtime_error(argv[0] + " never took the clipboard: " +
                               std::to_string(asked.status) + " " + asked.said);
    }
  }
  std::optional<std::string> Paste() override {
    Outcome pasted = Ask("UTF8_STRING");
    if (pasted.status != 0) return std::nullopt;
    return pasted.said;
  }
  std::vector<std::string> Types() override {
    return Lines(Ask("TARGETS").said);
  }
  using Desktop::Run;
  Outcome Run(const std::vector<std::string>& arguments) override {
    return RunQuillmore(arguments, tag_);
  }
  // The owner that is stopped is the suite's own: xclip, resumed, answers
  // the request of a run that has given up and ends on the X error it draws.
  void PauseOwner(bool paused) override {
    if (paused) Own({X11_PEER, "own", "/dev/stdin"}, copied_, text_type);
    kill(owner_->pid(), paused ? SIGSTOP : SIGCONT);
  }
  int Servers() override { return ProcessesWithEnv(tag_).size(); }

  const std::string tag_ = TestTag();

 private:
  Xvfb x_;
  std::unique_ptr<Process> owner_;
  std::string copied_;
};

QUILLMORE_DESKTOP_SCENARIOS(X11, kX11, std::make_unique<X11Desktop>());

TEST(X11Only, ServesEveryTextTargetAndLatin1BothWays) {
  X11Desktop d;
  d.Copy("select 'caf\xe9' from t", "STRING");  // Latin-1 by definition
  EXPECT_EQ(d.Run().said, "");
  const std::string utf8 = "select 'caf\xc3\xa9'\n  from t";
  EXPECT_EQ(d.Types(), Lines("TARGETS\nTIMESTAMP\nMULTIPLE\nSAVE_TARGETS\n"
                             "UTF8_STRING\ntext/plain;charset=utf-8\nSTRING\n"
                             "TEXT"));
  for (const char* target : {"UTF8_STRING", "text/plain;charset=utf-8"})
    EXPECT_EQ(Ask(target).said, utf8) << target;
  EXPECT_EQ(RunProgram({"xsel", "--clipboard", "--output"}).said, utf8);
  for (const char* target : {"STRING", "TEXT"})
    EXPECT_EQ(Ask(target).said, "select 'caf\xe9'\n  from t") << target;
  EXPECT_NE(Ask("image/png").status, 0);
}

TEST(X11Only, RequestorsThatVanishMidTransferCostTheServerNothing) {
  X11Desktop d;
  d.Copy(Large("select a, b from t"), {});
  ASSERT_EQ(d.Run().said, "");
  const std::vector<pid_t> servers = ProcessesWithEnv(d.tag_);
  ASSERT_EQ(servers.size(), 1u);
  // Requests pile up while the server is stopped; their requestors are gone
  // by the time it answers, the text one in the middle of an INCR transfer.
  kill(servers[0], SIGSTOP);
  for (const char* target : {"UTF8_STRING", "TARGETS", "STRING"}) {
    Process gone({"xclip", "-o", "-selection", "clipboard", "-t", target});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  kill(servers[0], SIGCONT);
  EXPECT_TRUE(d.Paste() == Large("select a,\n        b\n  from t"));
  EXPECT_EQ(ProcessesWithEnv(d.tag_), servers);
}

}  // namespace
}  // namespace quillmore_test
