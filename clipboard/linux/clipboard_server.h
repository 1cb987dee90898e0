// The clipboard server: a process forked to keep the text after the
// program has ended, since on X11 and Wayland alike a selection is only a
// promise of its owner and dies with it. What is the same for both
// protocols is here; each backend brings its own event loop.
#ifndef QUILLMORE_CLIPBOARD_LINUX_CLIPBOARD_SERVER_H_
#define QUILLMORE_CLIPBOARD_LINUX_CLIPBOARD_SERVER_H_

#include <functional>
#include <string_view>
#include <vector>

#include "clipboard/linux/deadlines.h"

namespace quillmore::linux_clipboard {

// Holds off the signals that end (or stop) a process, from just before the
// clipboard is taken until the server that keeps it is in a session of its
// own. A Ctrl+C, SIGTERM or hang-up sent to the caller's process group in
// between would otherwise end the only holder of the text: this process
// once it has taken the clipboard, or the server before it has left the
// group. When the hold ends here, a signal that came meanwhile is delivered
// to this process alone, which no longer holds anything; the server drops
// the ones that were meant for the group it has left. One at a time.
class SignalHold {
 public:
  SignalHold() noexcept = default;
  SignalHold(const SignalHold&) = delete;
  SignalHold& operator=(const SignalHold&) = delete;
  // Ends the hold, if it began.
  ~SignalHold();

  // Holds them from now on: called just before the clipboard is taken, so
  // that the run still ends at once on Ctrl+C while it only reads.
  void Begin() noexcept;

 private:
  bool begun_ = false;
};

// Forks the server that keeps the clipboard text after this process ends,
// for a caller that already owns the clipboard on its display connection:
// the child inherits that connection, keeps the descriptors in kept (above
// 2: the connection's socket, the pipes of transfers under way), ignores
// SIGHUP, starts a session of its own, works from /, has /dev/null on
// descriptors 0-2 and no other inherited descriptor (a shell's or
// launcher's pipe it kept open would keep their readers waiting), runs
// serve() and exits. The parent
// returns at once and must neither use the connection again nor end it,
// which would shut the child's socket down; it just leaves it to the
// process's end. Fails if fork fails, with the connection still the
// caller's.
//
// The server would otherwise hold, besides the text it serves, every large
// text this process holds (the text as read, the laid-out one), since it
// inherits them all and the parent soon lets go of its share. The texts in
// left_behind are not inherited: the child must never touch them, nor may
// any of them have been freed.
void ForkClipboardServer(const std::vector<int>& kept,
                         const std::function<void()>& serve,
                         const std::vector<std::string_view>& left_behind = {});

// The server's serving, once it owns the clipboard: wait(deadline, stop)
// runs the backend's event loop until stop() holds (true) or it cannot go
// on (false). Serves until another program takes the clipboard (taken()),
// then lets the clipboard go (let_go) and finishes the transfers under way
// (until finished()) for at most kFinishTimeout: a reader in the middle of
// one still gets the rest of the text.
template <typename Wait, typename Taken, typename LetGo, typename Finished>
void ServeUntilTaken(Wait&& wait, Taken&& taken, LetGo&& let_go,
                     Finished&& finished) {
  if (!wait(Clock::time_point::max(), taken)) return;  // the server is gone
  let_go();
  wait(Clock::now() + kFinishTimeout, finished);
}

}  // namespace quillmore::linux_clipboard

#endif  // QUILLMORE_CLIPBOARD_LINUX_CLIPBOARD_SERVER_H_
