// What the Wayland tests need around them: a private headless sway, the
// compositor the clipboard is shared through. Running programs and looking
// for processes is the X11 harness's (x11_harness.h).
#ifndef QUILLMORE_TESTS_CLIPBOARD_WAYLAND_HARNESS_H_
#define QUILLMORE_TESTS_CLIPBOARD_WAYLAND_HARNESS_H_

#include <sys/types.h>

#include <string>

namespace quillmore::testing {

// sway on the headless backend with the pixman renderer: no GPU, no seat
// daemon, no input devices. It gets a runtime directory of its own, so tests
// running in parallel never meet, and it runs as the unprivileged user
// "nobody" when the tests run as root (sway refuses to run as root). Its
// socket is named in WAYLAND_DISPLAY (and the directory in XDG_RUNTIME_DIR)
// for this process and its children while it lives.
class Sway {
 public:
  Sway();
  ~Sway();
  Sway(const Sway&) = delete;
  Sway& operator=(const Sway&) = delete;

  pid_t pid() const { return pid_; }
  const std::string& socket() const { return socket_; }
  const std::string& runtime_dir() const { return dir_; }

 private:
  pid_t pid_ = -1;
  std::string dir_;
  std::string socket_;
};

}  // namespace quillmore::testing

#endif  // QUILLMORE_TESTS_CLIPBOARD_WAYLAND_HARNESS_H_
