// What the X11 tests need around them: a private Xvfb on a free display,
// child processes run with a deadline, and a look into /proc for the
// clipboard server that quillmore leaves behind.
#ifndef QUILLMORE_TESTS_CLIPBOARD_X11_HARNESS_H_
#define QUILLMORE_TESTS_CLIPBOARD_X11_HARNESS_H_

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace quillmore::testing {

using std::chrono::milliseconds;

// Xvfb on a display number it picks itself (-displayfd), so tests running in
// parallel never meet. DISPLAY is set for this process and its children
// while it lives.
class Xvfb {
 public:
  Xvfb();
  ~Xvfb();
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

struct RunResult {
  int exit_status = -1;  // -1: killed or did not exit
  bool timed_out = false;
  std::string out;
  std::string err;
  milliseconds elapsed{0};
};

struct RunOptions {
  std::string input;
  bool has_input = false;
  // Capture stdout and stderr and wait for both to reach end of file. Off
  // for programs that leave a background process holding them (xclip -i).
  bool capture = true;
  milliseconds timeout{20000};
  std::vector<std::string> env;  // extra NAME=VALUE entries
  std::vector<std::string> unset_env;
};

// Runs argv to its end (or kills it at the deadline).
RunResult RunProgram(const std::vector<std::string>& argv,
                     const RunOptions& options = {});

// A background process with its stdout on a pipe, killed when destroyed.
class Process {
 public:
  explicit Process(const std::vector<std::string>& argv);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  // Reads one line of its stdout; empty on deadline or end of file.
  std::string ReadLine(milliseconds timeout = milliseconds(10000));
  // Whether it has ended (and reaps it if so).
  bool Ended();

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffered_;
  bool ended_ = false;
};

// Live (not zombie) processes whose environment holds NAME=VALUE.
std::vector<pid_t> ProcessesWithEnv(const std::string& entry);

// Polls condition until it holds or the deadline passes.
bool Eventually(const std::function<bool()>& condition,
                milliseconds timeout = milliseconds(10000));

}  // namespace quillmore::testing

#endif  // QUILLMORE_TESTS_CLIPBOARD_X11_HARNESS_H_
