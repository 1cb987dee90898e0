#include "clipboard/linux/clipboard_server.h"

#include <errno.h>
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/error.h"
#include "base/handle.h"
#include "base/memory_advice.h"
#include "clipboard/linux/fail.h"
#include "clipboard/linux/file_descriptor.h"

namespace quillmore::linux_clipboard {
namespace {

// What a terminal sends a whole process group (Ctrl+C, Ctrl+\, Ctrl+Z, a
// hang-up), what a session's end or a kill sends, and the other
// asynchronous signals whose default is to end or stop a process.
constexpr int kHeldSignals[] = {
    SIGHUP,  SIGINT,  SIGQUIT,   SIGTERM, SIGTSTP, SIGTTIN, SIGTTOU, SIGUSR1,
    SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGXCPU, SIGXFSZ};

// The signal mask from before the hold, while one is in force.
bool holding = false;
sigset_t mask_before_hold;

// In the server, now in a session of its own: a held signal that came
// meanwhile was sent to the group it has left, so it is dropped (setting a
// signal to be ignored discards it if pending), and the mask is as before.
void DropHeldSignals() noexcept {
  if (!holding) return;
  for (const int signal_number : kHeldSignals) {
    struct sigaction ignore = {}, kept = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(signal_number, &ignore, &kept);
    sigaction(signal_number, &kept, nullptr);
  }
  sigprocmask(SIG_SETMASK, &mask_before_hold, nullptr);
  holding = false;
}

// Cuts the child loose from whoever started the program, keeping only the
// descriptors in kept (above 2) of those it inherited.
void Detach(std::vector<int> kept) noexcept {
  signal(SIGHUP, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);  // a report to a parent that is gone, a reader
                             // that closed its pipe early
  setsid();
  DropHeldSignals();
  if (chdir("/") != 0) {
    // Nothing depends on it; it only keeps us from pinning a mount.
  }
  const int null = open("/dev/null", O_RDWR);
  if (null >= 0) {
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    if (null > 2) close(null);
  }
  std::sort(kept.begin(), kept.end());
  unsigned first = 3;
  for (const int fd : kept) {
    if (fd < static_cast<int>(first)) continue;
    if (fd > static_cast<int>(first)) close_range(first, fd - 1, 0);
    first = static_cast<unsigned>(fd) + 1;
  }
  close_range(first, ~0u, 0);
}

// Applies advice to the whole pages inside each text, and to nothing else.
// Small texts are not worth it.
void AdviseInside(const std::vector<std::string_view>& texts,
                  MemoryAdvice advice) noexcept {
  for (const std::string_view text : texts) {
    if (text.size() < (std::size_t{64} << 10)) continue;
    AdviseWholePages(text.data(), text.size(), advice);
  }
}

}  // namespace

void SignalHold::Begin() noexcept {
  if (begun_) return;
  begun_ = true;
  sigset_t held;
  sigemptyset(&held);
  for (const int signal_number : kHeldSignals) sigaddset(&held, signal_number);
  sigprocmask(SIG_BLOCK, &held, &mask_before_hold);
  holding = true;
}

SignalHold::~SignalHold() {
  if (!begun_) return;
  holding = false;
  sigprocmask(SIG_SETMASK, &mask_before_hold, nullptr);
}

void ForkClipboardServer(const std::vector<int>& kept,
                         const std::function<void()>& serve,
                         const std::vector<std::string_view>& left_behind) {
  AdviseInside(left_behind, MemoryAdvice::kDontFork);
  const pid_t pid = fork();
  // Ours as before: this process may yet free them, and fork again.
  if (pid != 0) AdviseInside(left_behind, MemoryAdvice::kDoFork);
  if (pid < 0) {
    Fail(status::kFail, std::string("cannot start the clipboard server: ") +
                            std::strerror(errno));
  }
  if (pid > 0) return;  // it serves on: it is no longer ours to end
  Detach(kept);
  // What the run freed and its allocator kept is dead weight here.
  malloc_trim(0);
  try {
    serve();
  } catch (...) {
    // Nobody is left to tell; the clipboard goes with us.
  }
  _exit(0);
}

}  // namespace quillmore::linux_clipboard
