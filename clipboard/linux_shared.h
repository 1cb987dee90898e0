// What the Linux clipboard backends (X11, Wayland) have in common: the text
// conversions their clipboards need, a descriptor owner, and the forked
// server that keeps the text after the program has ended. Linux only; no
// display protocol is known here.
#ifndef QUILLMORE_CLIPBOARD_LINUX_SHARED_H_
#define QUILLMORE_CLIPBOARD_LINUX_SHARED_H_

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "base/operation.h"

namespace quillmore::linux_clipboard {

using Clock = std::chrono::steady_clock;

// How long the forked server may take to say it holds the clipboard.
inline constexpr std::chrono::milliseconds kServerStartTimeout{2000};
// How long another program may take to answer when we read: the owner of
// the clipboard to start, and to send each next piece of the text.
inline constexpr std::chrono::milliseconds kAnswerTimeout{2000};
// How long a reader of our text may make no progress before we give up on
// that reader (and only on it).
inline constexpr std::chrono::milliseconds kRequestorTimeout{5000};
// How long the server keeps finishing transfers after losing the clipboard.
inline constexpr std::chrono::milliseconds kFinishTimeout{5000};

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) noexcept : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept
      : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { Reset(); }

  int get() const noexcept { return fd_; }
  void Reset() noexcept;

 private:
  int fd_;
};

// A client's connection to a display server, X or Wayland, owned: ended
// when the owner goes. The two libraries differ only in how a connection is
// ended and how its socket is found.
template <typename Handle, void (*kDisconnect)(Handle*),
          int (*kSocket)(Handle*)>
class DisplayConnection {
 public:
  explicit DisplayConnection(Handle* handle) noexcept : handle_(handle) {}
  DisplayConnection(DisplayConnection&& other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)) {}
  DisplayConnection& operator=(DisplayConnection&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  DisplayConnection(const DisplayConnection&) = delete;
  DisplayConnection& operator=(const DisplayConnection&) = delete;
  ~DisplayConnection() { Reset(); }

  Handle* get() const noexcept { return handle_; }

  // In a forked child: let go of the parent's connection without ending it.
  // Disconnecting would shut down the socket the parent still talks
  // through; closing our copy of the descriptor leaves the parent's intact.
  // The bookkeeping the library allocated is left to the child's exit.
  void AbandonAfterFork() noexcept {
    if (handle_ != nullptr) close(kSocket(handle_));
    handle_ = nullptr;
  }

 private:
  void Reset() noexcept {
    if (handle_ != nullptr) kDisconnect(handle_);
    handle_ = nullptr;
  }

  Handle* handle_;
};

// Linux programs end lines with LF; programs that write CR LF there show a
// stray CR at every line end. The layout makes CR LF, so each pair becomes
// LF on the way out. A lone CR is not a line break and stays.
std::string WithLfLineBreaks(std::string_view text);

// Whether text (UTF-8) can be offered as STRING, which is Latin-1 by
// definition: valid UTF-8 with no character above U+00FF.
bool RepresentableInLatin1(std::string_view text);
// Only for texts that RepresentableInLatin1 accepts.
std::string Utf8ToLatin1(std::string_view text);
std::string Latin1ToUtf8(std::string_view text);

// The steps of the clipboard server, each run in the forked child.
struct ServerSteps {
  // First: let go of the parent's display connection without touching it
  // (the parent still uses the socket).
  std::function<void()> abandon_parent;
  // Then, detached from the caller: take the clipboard over on a connection
  // of its own. Throws Error (or bad_alloc) when it cannot.
  std::function<void()> take_over;
  // Once the parent has been told: serve until another program takes the
  // clipboard. The child exits when it returns.
  std::function<void()> serve;
};

// Waits until fd is readable (true) or the deadline passes (false), doing
// the caller's own work meanwhile, and throws Error if its connection fails.
using WaitReadable = std::function<bool(int fd, Clock::time_point deadline)>;

// Forks the server that keeps the clipboard text after this process ends.
// The child ignores SIGHUP, starts a session of its own, works from /, has
// /dev/null on descriptors 0-2 and no other inherited descriptor (a shell's
// or launcher's pipe it kept open would keep their readers waiting), then
// runs steps. Returns once the child says it holds the clipboard; throws
// Error (operation, code, cause) if it cannot be started, fails to take the
// clipboard over, or does not say so within kServerStartTimeout, in which
// case it is killed.
void StartClipboardServer(const char* interface_name, Operation operation,
                          const ServerSteps& steps, const WaitReadable& wait);

}  // namespace quillmore::linux_clipboard

#endif  // QUILLMORE_CLIPBOARD_LINUX_SHARED_H_
