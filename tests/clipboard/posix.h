// What the Linux desktop tests need around them: a private X server or
// compositor, programs run to their end with a deadline or kept running in
// the background, and a look into /proc for the servers quillmore leaves.
#ifndef QUILLMORE_TESTS_CLIPBOARD_POSIX_H_
#define QUILLMORE_TESTS_CLIPBOARD_POSIX_H_

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/clipboard/scenarios.h"

namespace quillmore_test {

// Runs argv, with env added, to its end. "said" is its stdout (with
// merge_stderr, both streams, less the last line break), read until every
// process that holds it has let go; past 20 s the run counts as not ended.
Outcome RunProgram(const std::vector<std::string>& argv,
                   const std::vector<std::string>& env = {},
                   bool merge_stderr = false);

// Runs quillmore with arguments, tagged as this test's, to its end.
Outcome RunQuillmore(const std::vector<std::string>& arguments,
                     const std::string& tag);

// The lines of a text (a last line break ends the last line).
std::vector<std::string> Lines(const std::string& text);

// A file in the test's own folder holding data.
std::string TempFile(const std::string& data);

// A program in the background, stdin from a file, killed when destroyed.
class Process {
 public:
  explicit Process(const std::vector<std::string>& argv,
                   const std::string& input_file = "/dev/null");
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  pid_t pid() const { return pid_; }
  bool Ended();

 private:
  pid_t pid_;
  bool ended_ = false;
};

// The environment entry NAME=VALUE that tells this test's processes from
// those of tests alongside, and the live processes that carry one.
std::string TestTag();
std::vector<pid_t> ProcessesWithEnv(const std::string& entry);

// Xvfb on a display it picks itself; DISPLAY names it while it lives.
class Xvfb {
 public:
  Xvfb();
  ~Xvfb();

 private:
  pid_t pid_;
};

// sway, headless, with a runtime folder of its own, as "nobody" when the
// tests run as root (sway refuses root). WAYLAND_DISPLAY and
// XDG_RUNTIME_DIR name it while it lives.
class Sway {
 public:
  Sway();
  ~Sway();
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_;
  std::string dir_;
};

}  // namespace quillmore_test

#endif  // QUILLMORE_TESTS_CLIPBOARD_POSIX_H_
