// The Wayland backend's connection: the display, what the compositor
// offers, the wait loop, and the readers of our text being fed.
//
// Every wait is one poll loop (Connection::Wait) with a deadline, because
// the compositor and the owner are other programs that may hang; the loop
// also feeds the readers of our own text, each through its own non-blocking
// pipe, so a slow reader never holds up another.
#ifndef QUILLMORE_CLIPBOARD_WAYLAND_CONNECTION_H_
#define QUILLMORE_CLIPBOARD_WAYLAND_CONNECTION_H_

#include <poll.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "clipboard/linux/deadlines.h"
#include "clipboard/linux/file_descriptor.h"
#include "clipboard/linux/transfers.h"
#include "clipboard/wayland/protocols.h"

namespace quillmore::wayland_clipboard {

using linux_clipboard::Clock;
using linux_clipboard::FileDescriptor;
using linux_clipboard::Wake;

struct Global {
  std::uint32_t name = 0;
  std::uint32_t version = 0;
  bool present() const { return name != 0; }
};

struct Globals {
  Global ext_manager, wlr_manager, seat;
};

// One reader of our text: its pipe, and how far it has got.
struct Transfer : linux_clipboard::TransferProgress {
  FileDescriptor fd;
};

class Connection {
 public:
  // Connects to the compositor named by WAYLAND_DISPLAY and learns what it
  // offers. Null, with *why_not, if there is none to use.
  static std::unique_ptr<Connection> Open(std::string* why_not);

  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  wl_display* display() const { return display_.get(); }
  wl_registry* registry() const { return registry_.get(); }
  const Globals& globals() const { return globals_; }
  const std::string& name() const { return name_; }

  // Dispatches events and feeds readers until stop() holds, extra_fd (if
  // not -1) becomes readable, the deadline passes or the connection fails.
  Wake Wait(Clock::time_point deadline, int extra_fd,
            const std::function<bool()>& stop);
  // A round trip: everything sent before has been handled by the
  // compositor, and everything it sent in return has been dispatched.
  void Sync();
  [[noreturn]] void FailBroken() const;

  // Takes over a reader's pipe and feeds it data from the next Wait on.
  void Feed(FileDescriptor fd, std::shared_ptr<const std::string> data);
  bool feeding() const { return !transfers_.empty(); }

  // What a server forked to go on with this connection keeps: its socket
  // and the pipes of the readers being fed.
  std::vector<int> Descriptors() const;
  // Once that server has it: forgets the connection without a word on it.
  void LeaveToServer() noexcept {
    Forget(registry_);
    linux_clipboard::LetGoAfterFork(display_);
  }

 private:
  Connection(Display display, std::string name)
      : display_(std::move(display)), name_(std::move(name)) {}

  static void OnGlobal(void* data, wl_registry*, std::uint32_t name,
                       const char* interface, std::uint32_t version);
  static void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}
  static constexpr wl_registry_listener kRegistryListener = {OnGlobal,
                                                             OnGlobalRemove};

  // Writes to each ready reader what its pipe takes; drops finished ones,
  // those that closed their end and those that took nothing for too long.
  void FeedReady(const std::vector<pollfd>& polled, std::size_t first);

  // Destroyed in reverse: objects before the display they live on.
  Display display_;
  Proxy<wl_registry> registry_;
  std::string name_;
  Globals globals_;
  linux_clipboard::Transfers<Transfer> transfers_;
  std::vector<pollfd> polled_;
};

}  // namespace quillmore::wayland_clipboard

#endif  // QUILLMORE_CLIPBOARD_WAYLAND_CONNECTION_H_
