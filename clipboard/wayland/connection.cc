// The Wayland connection and its wait loop; see connection.h.
#include "clipboard/wayland/connection.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-client.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/error.h"
#include "clipboard/linux/fail.h"
#include "clipboard/wayland/libwayland.h"

namespace quillmore::wayland_clipboard {

using linux_clipboard::Fail;
using linux_clipboard::kAnswerTimeout;

namespace {

// Connects to the compositor's socket as libwayland would, but with a
// deadline: a compositor that is stopped and whose queue of connections is
// full would keep connect() waiting for ever. -1, with *why_not, on failure.
int ConnectSocket(const std::string& name, std::string* why_not) {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  if (name[0] != '/' && (dir == nullptr || *dir == '\0')) {
    *why_not = "XDG_RUNTIME_DIR is not set, so the Wayland compositor \"" +
               name + "\" cannot be found";
    return -1;
  }
  const std::string path =
      name[0] == '/' ? name : std::string(dir) + "/" + name;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    *why_not = "the Wayland socket's path is too long: " + path;
    return -1;
  }
  path.copy(address.sun_path, path.size());
  FileDescriptor fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  // A Unix socket's connect waits at most the send timeout.
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(kAnswerTimeout);
  timeval timeout{static_cast<time_t>(seconds.count()),
                  static_cast<suseconds_t>(
                      std::chrono::duration_cast<std::chrono::microseconds>(
                          kAnswerTimeout - seconds)
                          .count())};
  const timeval none{};
  if (!fd || setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout,
                        sizeof timeout) != 0) {
    *why_not = std::string("cannot make a socket: ") + std::strerror(errno);
    return -1;
  }
  int connected;
  do {
    connected = connect(fd.get(), reinterpret_cast<sockaddr*>(&address),
                        sizeof address);
  } while (connected != 0 && errno == EINTR);
  if (connected != 0) {
    *why_not =
        errno == EAGAIN || errno == EINPROGRESS
            ? "the Wayland compositor \"" + name +
                  "\" did not accept a connection within " +
                  linux_clipboard::InSeconds(kAnswerTimeout)
            : "cannot connect to the Wayland compositor \"" + name + "\"";
    return -1;
  }
  setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &none, sizeof none);
  return fd.Release();
}

}  // namespace

void Connection::OnGlobal(void* data, wl_registry*, std::uint32_t name,
                          const char* interface, std::uint32_t version) {
  Globals& globals = static_cast<Connection*>(data)->globals_;
  const std::string_view which = interface;
  Global* slot = nullptr;
  if (which == ext_data_control_manager_v1_interface.name) {
    slot = &globals.ext_manager;
  } else if (which == zwlr_data_control_manager_v1_interface.name) {
    slot = &globals.wlr_manager;
  } else if (which == wl_seat_interface.name) {
    slot = &globals.seat;
  }
  // The first seat is the default one; the others' clipboards are not ours.
  if (slot != nullptr && !slot->present()) *slot = Global{name, version};
}

std::unique_ptr<Connection> Connection::Open(std::string* why_not) {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (name == nullptr || *name == '\0') {
    *why_not = "WAYLAND_DISPLAY is not set";
    return nullptr;
  }
  const int fd = ConnectSocket(name, why_not);
  if (fd < 0) return nullptr;
  if (!LoadLibwayland(why_not)) {
    close(fd);
    return nullptr;
  }
  wl_display* display = wl_display_connect_to_fd(fd);
  if (display == nullptr) {
    close(fd);
    *why_not = "not enough memory to talk to the Wayland compositor";
    return nullptr;
  }
  std::unique_ptr<Connection> connection(
      new Connection(Display(display), name));
  connection->registry_.Reset(wl_display_get_registry(display));
  if (!connection->registry_) {
    *why_not = "not enough memory to talk to the Wayland compositor";
    return nullptr;
  }
  wl_registry_add_listener(connection->registry_.get(), &kRegistryListener,
                           connection.get());
  try {
    connection->Sync();
  } catch (const Failure& failure) {
    *why_not = failure.what();
    return nullptr;
  }
  return connection;
}

Wake Connection::Wait(Clock::time_point deadline, int extra_fd,
                      const std::function<bool()>& stop) {
  wl_display* d = display();
  for (;;) {
    if (wl_display_dispatch_pending(d) < 0) return Wake::kBroken;
    if (stop()) return Wake::kStop;
    const Clock::time_point now = Clock::now();
    transfers_.Expire(now, [&](auto it) { transfers_.list().erase(it); });
    if (stop()) return Wake::kStop;
    if (now >= deadline) return Wake::kTimeout;
    // Events read by a call before this one are dispatched first.
    if (wl_display_prepare_read(d) != 0) continue;
    bool flushed = true;
    if (wl_display_flush(d) < 0) {
      if (errno != EAGAIN) {
        wl_display_cancel_read(d);
        return Wake::kBroken;
      }
      flushed = false;  // the socket is full: wait until it takes more
    }

    const int timeout =
        linux_clipboard::PollTimeout(now, transfers_.WakeAt(deadline));
    polled_.clear();
    polled_.push_back({wl_display_get_fd(d),
                       static_cast<short>(POLLIN | (flushed ? 0 : POLLOUT)),
                       0});
    if (extra_fd >= 0) polled_.push_back({extra_fd, POLLIN, 0});
    const std::size_t first_transfer = polled_.size();
    for (const Transfer& transfer : transfers_.list()) {
      polled_.push_back({transfer.fd.get(), POLLOUT, 0});
    }
    const int ready = poll(polled_.data(), polled_.size(), timeout);
    if (ready < 0) {
      wl_display_cancel_read(d);
      if (errno == EINTR) continue;
      return Wake::kBroken;
    }
    if ((polled_[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
      if (wl_display_read_events(d) < 0) return Wake::kBroken;
    } else {
      wl_display_cancel_read(d);
    }
    FeedReady(polled_, first_transfer);
    if (extra_fd >= 0 && polled_[1].revents != 0) {
      if (wl_display_dispatch_pending(d) < 0) return Wake::kBroken;
      return Wake::kFd;
    }
  }
}

void Connection::Sync() {
  static constexpr wl_callback_listener kDone = {
      [](void* data, wl_callback*, std::uint32_t) {
        *static_cast<bool*>(data) = true;
      }};
  bool done = false;
  Proxy<wl_callback> callback(wl_display_sync(display()));
  if (!callback) {
    Fail(status::kOutOfMemory,
         "not enough memory to talk to the Wayland compositor");
  }
  wl_callback_add_listener(callback.get(), &kDone, &done);
  const Wake wake =
      Wait(Clock::now() + kAnswerTimeout, -1, [&] { return done; });
  if (wake == Wake::kBroken) FailBroken();
  if (wake == Wake::kTimeout) {
    Fail(status::kTimeout, "the Wayland compositor \"" + name_ +
                               "\" did not answer within " +
                               linux_clipboard::InSeconds(kAnswerTimeout));
  }
}

void Connection::FailBroken() const {
  const int error = wl_display_get_error(display());
  if (error == EPROTO) {
    const wl_interface* interface = nullptr;
    std::uint32_t id = 0;
    const std::uint32_t code =
        wl_display_get_protocol_error(display(), &interface, &id);
    Fail(status::kFail,
         "the Wayland compositor ended the connection (protocol error " +
             std::to_string(code) + " on " +
             (interface != nullptr ? interface->name : "an unknown object") +
             ")");
  }
  Fail(status::kFail,
       "the connection to the Wayland compositor \"" + name_ + "\" was lost" +
           (error != 0 ? std::string(": ") + std::strerror(error) : ""));
}

std::vector<int> Connection::Descriptors() const {
  std::vector<int> fds = {wl_display_get_fd(display())};
  for (const Transfer& transfer : transfers_.list()) {
    fds.push_back(transfer.fd.get());
  }
  return fds;
}

void Connection::Feed(FileDescriptor fd,
                      std::shared_ptr<const std::string> data) {
  if (data->empty()) return;  // closing the pipe is the whole answer
  const int flags = fcntl(fd.get(), F_GETFL);
  if (flags < 0 || fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK) < 0) return;
  Transfer transfer;
  transfer.data = std::move(data);
  transfer.fd = std::move(fd);
  transfers_.list().push_back(std::move(transfer));
}

void Connection::FeedReady(const std::vector<pollfd>& polled,
                           std::size_t first) {
  // transfers_ and polled[first...] are in the same order.
  linux_clipboard::Transfers<Transfer>::List& list = transfers_.list();
  std::size_t i = 0;
  for (auto it = list.begin(); it != list.end(); ++i) {
    if (first + i >= polled.size()) break;
    bool done = false;
    if (polled[first + i].revents != 0) {
      Transfer& t = *it;
      for (;;) {
        if (t.left() == 0) {
          done = true;
          break;
        }
        const ssize_t n =
            write(t.fd.get(), t.data->data() + t.offset, t.left());
        if (n > 0) {
          t.Sent(static_cast<std::size_t>(n));
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // EAGAIN: the pipe is full, more when it drains. Anything else
        // (EPIPE: the reader is gone) ends this reader.
        done = !(n < 0 && errno == EAGAIN);
        break;
      }
    }
    it = done ? list.erase(it) : std::next(it);
  }
}

}  // namespace quillmore::wayland_clipboard
