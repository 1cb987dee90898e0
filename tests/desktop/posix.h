// What the Linux desktop tests need around them: a private X server or
// compositor, programs run to their end with a deadline, programs kept
// running in the background, and a look into /proc for the clipboard
// servers quillmore leaves behind.
#ifndef QUILLMORE_TESTS_DESKTOP_POSIX_H_
#define QUILLMORE_TESTS_DESKTOP_POSIX_H_

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/desktop/scenarios.h"

namespace quillmore_test {

// Runs argv to its end, or kills it after 20 s. The outcome's "said" is its
// stdout, or with merge_stderr both streams, read until every process that
// holds them (a server left behind, too) has let go.
Outcome RunProgram(const std::vector<std::string>& argv,
                   const std::vector<std::string>& env = {},
                   bool merge_stderr = false);

// A file of the test's own holding data, removed with the test's folder.
std::string TempFile(const std::string& data);

// A background program with stdin from a file and no output; killed when
// destroyed.
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

// Live processes whose environment holds the entry NAME=VALUE.
std::vector<pid_t> ProcessesWithEnv(const std::string& entry);

// Xvfb on a display it picks itself; DISPLAY names it while it lives.
class Xvfb {
 public:
  Xvfb();
  ~Xvfb();
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

 private:
  pid_t pid_;
};

// sway on the headless backend, with a runtime folder of its own, as the
// user "nobody" when the tests run as root (sway refuses root).
// WAYLAND_DISPLAY and XDG_RUNTIME_DIR name it while it lives.
class Sway {
 public:
  Sway();
  ~Sway();
  Sway(const Sway&) = delete;
  Sway& operator=(const Sway&) = delete;
  pid_t pid() const { return pid_; }
  const std::string& socket() const { return socket_; }

 private:
  pid_t pid_;
  std::string dir_;
  std::string socket_;
};

// The tag that tells this test's processes from those of tests alongside.
std::string TestTag();

}  // namespace quillmore_test

#endif  // QUILLMORE_TESTS_DESKTOP_POSIX_H_
