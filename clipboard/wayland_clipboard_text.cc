// The Wayland backend. A Wayland selection is, as on X11, a promise of its
// owner: the compositor only passes each reader's pipe on to the owning
// client, which writes the data into it. So reading means handing the owner a
// pipe and reading it to its end, and writing means owning a data source and
// filling every pipe we are handed for as long as the text should stay
// pasteable, which is longer than this program lives: a forked server does
// that (see linux_shared.h).
//
// Ordinary clients may only touch the selection while they have keyboard
// focus, which a program started from a hotkey never has. The data-control
// protocols exist for exactly such programs. ext-data-control-v1 and
// wlr-data-control-unstable-v1 are the same protocol under two names, so the
// code is written once over a small table of each protocol's functions.
//
// Everything runs on one thread and every wait is one poll loop
// (Connection::Wait) with a deadline, because the compositor and the owner
// are other programs that may hang; the loop also feeds the readers of our
// own text, each through its own non-blocking pipe, so a slow reader never
// holds up another.
#include "clipboard/wayland_clipboard_text.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "clipboard/linux_shared.h"
#include "ext-data-control-v1-client-protocol.h"
#include "base/error.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace quillmore {
namespace {

using linux_clipboard::Clock;
using linux_clipboard::FileDescriptor;
using std::chrono::milliseconds;

constexpr char kInterface[] = "ClipboardText";

// kAnswerTimeout also bounds each round trip to the compositor.
using linux_clipboard::kAnswerTimeout;
using linux_clipboard::kFinishTimeout;
using linux_clipboard::kRequestorTimeout;

// The text's MIME types, in our order of preference when reading. TEXT and
// STRING are X11's names (XWayland and toolkits use them); STRING is
// Latin-1 by definition, and TEXT is taken as the same, as on X11, where an
// owner answers TEXT with STRING.
constexpr const char* kTextTypes[] = {"text/plain;charset=utf-8", "UTF8_STRING",
                                      "text/plain", "TEXT", "STRING"};
bool IsLatin1Type(std::string_view type) {
  return type == "TEXT" || type == "STRING";
}

[[noreturn]] void Fail(StatusCode code, Operation operation,
                       std::string cause) {
  throw Error(code, kInterface, operation, std::move(cause));
}

// ---------------------------------------------------------------------------
// The two protocols, as one table each.

struct ExtProtocol {
  using Manager = ext_data_control_manager_v1;
  using Device = ext_data_control_device_v1;
  using Source = ext_data_control_source_v1;
  using Offer = ext_data_control_offer_v1;
  using DeviceListener = ext_data_control_device_v1_listener;
  using SourceListener = ext_data_control_source_v1_listener;
  using OfferListener = ext_data_control_offer_v1_listener;
  static const wl_interface* ManagerInterface() {
    return &ext_data_control_manager_v1_interface;
  }
  static Device* GetDevice(Manager* m, wl_seat* seat) {
    return ext_data_control_manager_v1_get_data_device(m, seat);
  }
  static Source* CreateSource(Manager* m) {
    return ext_data_control_manager_v1_create_data_source(m);
  }
  static void SetSelection(Device* d, Source* s) {
    ext_data_control_device_v1_set_selection(d, s);
  }
  static void OfferType(Source* s, const char* type) {
    ext_data_control_source_v1_offer(s, type);
  }
  static void Receive(Offer* o, const char* type, int fd) {
    ext_data_control_offer_v1_receive(o, type, fd);
  }
  static void Listen(Device* d, const DeviceListener* l, void* data) {
    ext_data_control_device_v1_add_listener(d, l, data);
  }
  static void Listen(Source* s, const SourceListener* l, void* data) {
    ext_data_control_source_v1_add_listener(s, l, data);
  }
  static void Listen(Offer* o, const OfferListener* l, void* data) {
    ext_data_control_offer_v1_add_listener(o, l, data);
  }
  static void Destroy(Manager* p) { ext_data_control_manager_v1_destroy(p); }
  static void Destroy(Device* p) { ext_data_control_device_v1_destroy(p); }
  static void Destroy(Source* p) { ext_data_control_source_v1_destroy(p); }
  static void Destroy(Offer* p) { ext_data_control_offer_v1_destroy(p); }
};

struct WlrProtocol {
  using Manager = zwlr_data_control_manager_v1;
  using Device = zwlr_data_control_device_v1;
  using Source = zwlr_data_control_source_v1;
  using Offer = zwlr_data_control_offer_v1;
  using DeviceListener = zwlr_data_control_device_v1_listener;
  using SourceListener = zwlr_data_control_source_v1_listener;
  using OfferListener = zwlr_data_control_offer_v1_listener;
  static const wl_interface* ManagerInterface() {
    return &zwlr_data_control_manager_v1_interface;
  }
  static Device* GetDevice(Manager* m, wl_seat* seat) {
    return zwlr_data_control_manager_v1_get_data_device(m, seat);
  }
  static Source* CreateSource(Manager* m) {
    return zwlr_data_control_manager_v1_create_data_source(m);
  }
  static void SetSelection(Device* d, Source* s) {
    zwlr_data_control_device_v1_set_selection(d, s);
  }
  static void OfferType(Source* s, const char* type) {
    zwlr_data_control_source_v1_offer(s, type);
  }
  static void Receive(Offer* o, const char* type, int fd) {
    zwlr_data_control_offer_v1_receive(o, type, fd);
  }
  static void Listen(Device* d, const DeviceListener* l, void* data) {
    zwlr_data_control_device_v1_add_listener(d, l, data);
  }
  static void Listen(Source* s, const SourceListener* l, void* data) {
    zwlr_data_control_source_v1_add_listener(s, l, data);
  }
  static void Listen(Offer* o, const OfferListener* l, void* data) {
    zwlr_data_control_offer_v1_add_listener(o, l, data);
  }
  static void Destroy(Manager* p) { zwlr_data_control_manager_v1_destroy(p); }
  static void Destroy(Device* p) { zwlr_data_control_device_v1_destroy(p); }
  static void Destroy(Source* p) { zwlr_data_control_source_v1_destroy(p); }
  static void Destroy(Offer* p) { zwlr_data_control_offer_v1_destroy(p); }
};

// ---------------------------------------------------------------------------
// Owners of Wayland objects.

// A client-side object (proxy); Destroy sends the protocol's destructor
// request where it has one and frees the proxy.
template <typename T, typename Destroyer>
struct ProxyDeleter {
  void operator()(T* p) const noexcept { Destroyer::Destroy(p); }
};
struct CoreDestroyer {
  static void Destroy(wl_registry* p) { wl_registry_destroy(p); }
  static void Destroy(wl_seat* p) { wl_seat_destroy(p); }
  static void Destroy(wl_callback* p) { wl_callback_destroy(p); }
};
template <typename T, typename Destroyer = CoreDestroyer>
using Proxy = std::unique_ptr<T, ProxyDeleter<T, Destroyer>>;

using Display =
    linux_clipboard::DisplayConnection<wl_display, wl_display_disconnect,
                                       wl_display_get_fd>;

// ---------------------------------------------------------------------------
// The connection: the display, what the compositor offers, the wait loop and
// the readers of our text being fed.

struct Global {
  std::uint32_t name = 0;
  std::uint32_t version = 0;
  bool present() const { return name != 0; }
};

struct Globals {
  Global ext_manager, wlr_manager, seat;
};

// One reader of our text: its pipe, and how far it has got.
struct Transfer {
  FileDescriptor fd;
  std::shared_ptr<const std::string> data;
  std::size_t offset = 0;
  Clock::time_point last_progress;
};

enum class Wake { kStop, kTimeout, kFd, kBroken };

class Connection {
 public:
  // Connects to the compositor named by WAYLAND_DISPLAY and learns what it
  // offers. Null, with *why_not, if there is none to use. Where another
  // connection has learnt that already, known saves the round trip: the
  // names of globals are the compositor's, the same for every client.
  static std::unique_ptr<Connection> Open(std::string* why_not,
                                          const Globals* known = nullptr);

  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  wl_display* display() const { return display_.get(); }
  wl_registry* registry() const { return registry_.get(); }
  const Globals& globals() const { return globals_; }
  const std::string& name() const { return name_; }

  // Dispatches events and feeds readers until stop() holds, extra_fd (if
  // not -1) becomes readable, the deadline passes or the connection fails.
  template <typename Stop>
  Wake Wait(Clock::time_point deadline, int extra_fd, Stop&& stop);
  // A round trip: everything sent before has been handled by the
  // compositor, and everything it sent in return has been dispatched.
  void Sync(Operation operation);
  [[noreturn]] void FailBroken(Operation operation) const;

  // Takes over a reader's pipe and feeds it data from the next Wait on.
  void Feed(FileDescriptor fd, std::shared_ptr<const std::string> data);
  bool feeding() const { return !transfers_.empty(); }

  void AbandonAfterFork() noexcept {
    registry_.release();
    display_.AbandonAfterFork();
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
  void ExpireTransfers(Clock::time_point now);

  // Destroyed in reverse: objects before the display they live on.
  Display display_;
  Proxy<wl_registry> registry_;
  std::string name_;
  Globals globals_;
  std::vector<Transfer> transfers_;
  std::vector<pollfd> polled_;
};

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

std::unique_ptr<Connection> Connection::Open(std::string* why_not,
                                             const Globals* known) {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (name == nullptr || *name == '\0') {
    *why_not = "WAYLAND_DISPLAY is not set";
    return nullptr;
  }
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) {
    *why_not = std::string("cannot connect to the Wayland compositor \"") +
               name + "\"";
    return nullptr;
  }
  std::unique_ptr<Connection> connection(
      new Connection(Display(display), name));
  connection->registry_.reset(wl_display_get_registry(display));
  if (!connection->registry_) {
    *why_not = "not enough memory to talk to the Wayland compositor";
    return nullptr;
  }
  wl_registry_add_listener(connection->registry_.get(), &kRegistryListener,
                           connection.get());
  if (known != nullptr) {
    connection->globals_ = *known;
    return connection;
  }
  try {
    connection->Sync(Operation::kGetText);
  } catch (const Error& error) {
    *why_not = error.cause();
    return nullptr;
  }
  return connection;
}

template <typename Stop>
Wake Connection::Wait(Clock::time_point deadline, int extra_fd, Stop&& stop) {
  wl_display* d = display();
  for (;;) {
    if (wl_display_dispatch_pending(d) < 0) return Wake::kBroken;
    if (stop()) return Wake::kStop;
    const Clock::time_point now = Clock::now();
    ExpireTransfers(now);
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

    Clock::time_point wake_at = deadline;
    for (const Transfer& transfer : transfers_) {
      wake_at = std::min(wake_at, transfer.last_progress + kRequestorTimeout);
    }
    int timeout = -1;
    if (wake_at != Clock::time_point::max()) {
      const auto ms = std::chrono::ceil<milliseconds>(wake_at - now).count();
      timeout = static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX));
    }
    polled_.clear();
    polled_.push_back({wl_display_get_fd(d),
                       static_cast<short>(POLLIN | (flushed ? 0 : POLLOUT)),
                       0});
    if (extra_fd >= 0) polled_.push_back({extra_fd, POLLIN, 0});
    const std::size_t first_transfer = polled_.size();
    for (const Transfer& transfer : transfers_) {
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

void Connection::Sync(Operation operation) {
  static constexpr wl_callback_listener kDone = {
      [](void* data, wl_callback*, std::uint32_t) {
        *static_cast<bool*>(data) = true;
      }};
  bool done = false;
  Proxy<wl_callback> callback(wl_display_sync(display()));
  if (!callback) {
    Fail(status::kOutOfMemory, operation,
         "not enough memory to talk to the Wayland compositor");
  }
  wl_callback_add_listener(callback.get(), &kDone, &done);
  const Wake wake =
      Wait(Clock::now() + kAnswerTimeout, -1, [&] { return done; });
  if (wake == Wake::kBroken) FailBroken(operation);
  if (wake == Wake::kTimeout) {
    Fail(status::kTimeout, operation,
         "the Wayland compositor \"" + name_ + "\" did not answer within 2 s");
  }
}

void Connection::FailBroken(Operation operation) const {
  const int error = wl_display_get_error(display());
  if (error == EPROTO) {
    const wl_interface* interface = nullptr;
    std::uint32_t id = 0;
    const std::uint32_t code =
        wl_display_get_protocol_error(display(), &interface, &id);
    Fail(status::kFail, operation,
         "the Wayland compositor ended the connection (protocol error " +
             std::to_string(code) + " on " +
             (interface != nullptr ? interface->name : "an unknown object") +
             ")");
  }
  Fail(status::kFail, operation,
       "the connection to the Wayland compositor \"" + name_ + "\" was lost" +
           (error != 0 ? std::string(": ") + std::strerror(error) : ""));
}

void Connection::Feed(FileDescriptor fd,
                      std::shared_ptr<const std::string> data) {
  if (data->empty()) return;  // closing the pipe is the whole answer
  const int flags = fcntl(fd.get(), F_GETFL);
  if (flags < 0 || fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK) < 0) return;
  transfers_.push_back({std::move(fd), std::move(data), 0, Clock::now()});
}

void Connection::FeedReady(const std::vector<pollfd>& polled,
                           std::size_t first) {
  // transfers_ and polled[first...] are in the same order.
  std::size_t i = 0;
  for (auto it = transfers_.begin(); it != transfers_.end(); ++i) {
    if (first + i >= polled.size()) break;
    bool done = false;
    if (polled[first + i].revents != 0) {
      Transfer& t = *it;
      for (;;) {
        const std::size_t left = t.data->size() - t.offset;
        if (left == 0) {
          done = true;
          break;
        }
        const ssize_t n = write(t.fd.get(), t.data->data() + t.offset, left);
        if (n > 0) {
          t.offset += static_cast<std::size_t>(n);
          t.last_progress = Clock::now();
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // EAGAIN: the pipe is full, more when it drains. Anything else
        // (EPIPE: the reader is gone) ends this reader.
        done = !(n < 0 && errno == EAGAIN);
        break;
      }
    }
    it = done ? transfers_.erase(it) : std::next(it);
  }
}

void Connection::ExpireTransfers(Clock::time_point now) {
  transfers_.erase(std::remove_if(transfers_.begin(), transfers_.end(),
                                  [&](const Transfer& t) {
                                    return now - t.last_progress >=
                                           kRequestorTimeout;
                                  }),
                   transfers_.end());
}

// ---------------------------------------------------------------------------
// The seat's selection through one of the two protocols.

// The text while we offer it; made into Latin-1 on the first request for it.
struct TextOffer {
  std::shared_ptr<const std::string> utf8;
  bool latin1 = false;
};

template <typename P>
class DataControl {
 public:
  // Binds the seat and P's manager on connection; throws Error (operation)
  // if the compositor no longer offers them.
  static std::unique_ptr<DataControl> Bind(
      std::unique_ptr<Connection> connection, const Global& manager,
      Operation operation);

  DataControl(const DataControl&) = delete;
  DataControl& operator=(const DataControl&) = delete;

  Connection& connection() { return *connection_; }

  std::string Read(Operation operation);
  // Sets the selection to offer, or unsets it (no text).
  void Own(TextOffer offer, Operation operation);
  void ServeUntilTaken();

  void AbandonAfterFork() noexcept {
    // The proxies belong to the parent's connection; destroying them would
    // send requests on its socket.
    device_.release();
    manager_.release();
    seat_.release();
    source_.release();
    for (auto& state : offers_) state->offer.release();
    connection_->AbandonAfterFork();
  }

 private:
  using Manager = typename P::Manager;
  using Device = typename P::Device;
  using Source = typename P::Source;
  using Offer = typename P::Offer;

  // An offer of another client, with the MIME types it announced.
  struct OfferState {
    Proxy<Offer, P> offer;
    std::vector<std::string> types;
  };

  explicit DataControl(std::unique_ptr<Connection> connection)
      : connection_(std::move(connection)) {}

  // Device events.
  static void OnDataOffer(void* data, Device*, Offer* offer);
  static void OnSelection(void* data, Device*, Offer* offer);
  static void OnFinished(void* data, Device*) {
    static_cast<DataControl*>(data)->device_finished_ = true;
  }
  static void OnPrimarySelection(void* data, Device*, Offer* offer);
  static constexpr typename P::DeviceListener kDeviceListener = {
      OnDataOffer, OnSelection, OnFinished, OnPrimarySelection};
  // Offer events.
  static void OnOfferType(void* data, Offer*, const char* type) {
    static_cast<OfferState*>(data)->types.emplace_back(type);
  }
  static constexpr typename P::OfferListener kOfferListener = {OnOfferType};
  // Source events.
  static void OnSend(void* data, Source*, const char* type, std::int32_t fd);
  static void OnCancelled(void* data, Source*) {
    static_cast<DataControl*>(data)->source_cancelled_ = true;
  }
  static constexpr
      typename P::SourceListener kSourceListener = {OnSend, OnCancelled};

  // Keeps only the offer that is the selection (or none).
  void DropOffersBut(Offer* keep);
  std::shared_ptr<const std::string> Latin1();

  // Destroyed in reverse: every object before the connection.
  std::unique_ptr<Connection> connection_;
  Proxy<wl_seat> seat_;
  Proxy<Manager, P> manager_;
  Proxy<Device, P> device_;
  bool device_finished_ = false;
  std::vector<std::unique_ptr<OfferState>> offers_;
  OfferState* selection_ = nullptr;

  Proxy<Source, P> source_;
  bool source_cancelled_ = false;
  TextOffer offer_;
  std::shared_ptr<const std::string> latin1_;
};

template <typename P>
std::unique_ptr<DataControl<P>> DataControl<P>::Bind(
    std::unique_ptr<Connection> connection, const Global& manager,
    Operation operation) {
  const Global seat = connection->globals().seat;
  if (!manager.present() || !seat.present()) {
    Fail(status::kFail, operation,
         "the Wayland compositor \"" + connection->name() +
             "\" no longer offers its clipboard");
  }
  std::unique_ptr<DataControl> control(new DataControl(std::move(connection)));
  wl_registry* registry = control->connection_->registry();
  // Version 1 has all we use; the primary selection is not the clipboard.
  control->seat_.reset(static_cast<wl_seat*>(
      wl_registry_bind(registry, seat.name, &wl_seat_interface, 1)));
  control->manager_.reset(static_cast<Manager*>(
      wl_registry_bind(registry, manager.name, P::ManagerInterface(), 1)));
  if (!control->seat_ || !control->manager_) {
    Fail(status::kOutOfMemory, operation,
         "not enough memory to talk to the Wayland compositor");
  }
  control->device_.reset(
      P::GetDevice(control->manager_.get(), control->seat_.get()));
  if (!control->device_) {
    Fail(status::kOutOfMemory, operation,
         "not enough memory to talk to the Wayland compositor");
  }
  P::Listen(control->device_.get(), &kDeviceListener, control.get());
  return control;
}

template <typename P>
void DataControl<P>::OnDataOffer(void* data, Device*, Offer* offer) {
  auto* self = static_cast<DataControl*>(data);
  auto state = std::make_unique<OfferState>();
  state->offer.reset(offer);
  P::Listen(offer, &kOfferListener, state.get());
  self->offers_.push_back(std::move(state));
}

template <typename P>
void DataControl<P>::OnSelection(void* data, Device*, Offer* offer) {
  static_cast<DataControl*>(data)->DropOffersBut(offer);
}

template <typename P>
void DataControl<P>::OnPrimarySelection(void* data, Device*, Offer*) {
  // Not the clipboard: only its offer (if any) is let go.
  auto* self = static_cast<DataControl*>(data);
  self->DropOffersBut(
      self->selection_ != nullptr ? self->selection_->offer.get() : nullptr);
}

template <typename P>
void DataControl<P>::DropOffersBut(Offer* keep) {
  selection_ = nullptr;
  for (auto it = offers_.begin(); it != offers_.end();) {
    if (keep != nullptr && (*it)->offer.get() == keep) {
      selection_ = it->get();
      ++it;
    } else {
      it = offers_.erase(it);
    }
  }
}

template <typename P>
std::string DataControl<P>::Read(Operation operation) {
  // The device tells the current selection as soon as it exists; one round
  // trip makes sure that has arrived.
  connection_->Sync(operation);
  if (selection_ == nullptr) return {};  // nobody owns the clipboard
  const char* type = nullptr;
  for (const char* wanted : kTextTypes) {
    const auto& offered = selection_->types;
    if (std::find(offered.begin(), offered.end(), wanted) != offered.end()) {
      type = wanted;
      break;
    }
  }
  if (type == nullptr) return {};  // no text on the clipboard (an image only)

  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    Fail(status::kFail, operation,
         std::string("cannot make a pipe to read the clipboard through: ") +
             std::strerror(errno));
  }
  FileDescriptor read_end(fds[0]);
  FileDescriptor write_end(fds[1]);
  // Fewer, larger reads for a large text; the default is fine if refused.
  fcntl(read_end.get(), F_SETPIPE_SZ, 1 << 20);
  P::Receive(selection_->offer.get(), type, write_end.get());
  // The request carries a duplicate of the write end; ours must go, or the
  // end of the text would never be seen.
  write_end.Reset();

  std::string text;
  Clock::time_point deadline = Clock::now() + kAnswerTimeout;
  for (;;) {
    const Wake wake =
        connection_->Wait(deadline, read_end.get(), [] { return false; });
    if (wake == Wake::kBroken) connection_->FailBroken(operation);
    if (wake == Wake::kTimeout) {
      Fail(status::kTimeout, operation,
           text.empty() ? "the owning program did not answer within 2 s"
                        : "the owning program stopped sending the text for "
                          "2 s");
    }
    if (wake != Wake::kFd) continue;
    // Everything the pipe holds now, then back to waiting.
    for (;;) {
      char buffer[1 << 16];
      const ssize_t n = read(read_end.get(), buffer, sizeof buffer);
      if (n > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
        deadline = Clock::now() + kAnswerTimeout;
        continue;
      }
      if (n == 0) {  // the owner closed the pipe: that is all
        if (IsLatin1Type(type)) return linux_clipboard::Latin1ToUtf8(text);
        return text;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN) break;
      Fail(status::kFail, operation,
           std::string("cannot read the text from the owning program: ") +
               std::strerror(errno));
    }
  }
}

template <typename P>
void DataControl<P>::Own(TextOffer offer, Operation operation) {
  source_.reset();
  source_cancelled_ = false;
  latin1_.reset();
  offer_ = std::move(offer);
  Source* source = nullptr;
  if (offer_.utf8) {
    source_.reset(P::CreateSource(manager_.get()));
    if (!source_) {
      Fail(status::kOutOfMemory, operation,
           "not enough memory to talk to the Wayland compositor");
    }
    P::Listen(source_.get(), &kSourceListener, this);
    for (const char* type : kTextTypes) {
      if (!IsLatin1Type(type) || offer_.latin1) {
        P::OfferType(source_.get(), type);
      }
    }
    source = source_.get();
  }
  P::SetSelection(device_.get(), source);
  connection_->Sync(operation);
  if (source_cancelled_) {
    Fail(status::kAccessDenied, operation,
         "the Wayland compositor refused the text, or another program took "
         "the clipboard at the same moment");
  }
}

template <typename P>
void DataControl<P>::OnSend(void* data, Source*, const char* type,
                            std::int32_t fd) {
  auto* self = static_cast<DataControl*>(data);
  FileDescriptor pipe(fd);
  if (self->source_cancelled_ || !self->offer_.utf8) return;
  if (!IsLatin1Type(type)) {
    self->connection_->Feed(std::move(pipe), self->offer_.utf8);
  } else if (self->offer_.latin1) {
    self->connection_->Feed(std::move(pipe), self->Latin1());
  }
}

template <typename P>
std::shared_ptr<const std::string> DataControl<P>::Latin1() {
  if (!latin1_) {
    latin1_ = std::make_shared<const std::string>(
        linux_clipboard::Utf8ToLatin1(*offer_.utf8));
  }
  return latin1_;
}

template <typename P>
void DataControl<P>::ServeUntilTaken() {
  const Wake wake = connection_->Wait(Clock::time_point::max(), -1, [&] {
    return source_cancelled_ || device_finished_;
  });
  if (wake != Wake::kStop) return;  // the compositor is gone
  // Another program has the clipboard now; readers in the middle of a
  // transfer still get the rest of the text.
  source_.reset();
  connection_->Wait(Clock::now() + kFinishTimeout, -1,
                    [&] { return !connection_->feeding(); });
}

// ---------------------------------------------------------------------------
// The interface.

template <typename P>
class WaylandClipboardText final : public ClipboardText<char> {
 public:
  explicit WaylandClipboardText(std::unique_ptr<DataControl<P>> control)
      : control_(std::move(control)) {}

  Text GetText() override { return control_->Read(Operation::kGetText); }

  // Unsetting the selection makes the owner drop it, with all its formats.
  void Clear() override { control_->Own(TextOffer{}, Operation::kClear); }

  void SetText(TextView text) override {
    auto utf8 = std::make_shared<const std::string>(
        linux_clipboard::WithLfLineBreaks(text));
    const bool latin1 = linux_clipboard::RepresentableInLatin1(*utf8);
    const TextOffer offer{std::move(utf8), latin1};

    // The selection lives only as long as the connection whose source it
    // is, so the source is made by the server on its own connection.
    std::unique_ptr<DataControl<P>> server;
    linux_clipboard::ServerSteps steps;
    steps.abandon_parent = [&] { control_->AbandonAfterFork(); };
    const Globals globals = control_->connection().globals();
    steps.take_over = [&] {
      std::string why_not;
      std::unique_ptr<Connection> connection =
          Connection::Open(&why_not, &globals);
      if (!connection) Fail(status::kFail, Operation::kSetText, why_not);
      const Global manager = ManagerOf(connection->globals());
      server = DataControl<P>::Bind(std::move(connection), manager, Operation::kSetText);
      server->Own(offer, Operation::kSetText);
    };
    steps.serve = [&] { server->ServeUntilTaken(); };
    wl_display_flush(control_->connection().display());
    linux_clipboard::StartClipboardServer(
        kInterface, Operation::kSetText, steps, [&](int fd, Clock::time_point deadline) {
          const Wake wake =
              control_->connection().Wait(deadline, fd, [] { return false; });
          if (wake == Wake::kBroken) {
            control_->connection().FailBroken(Operation::kSetText);
          }
          return wake == Wake::kFd;
        });
  }

  static Global ManagerOf(const Globals& globals);

 private:
  std::unique_ptr<DataControl<P>> control_;
};

template <>
Global WaylandClipboardText<ExtProtocol>::ManagerOf(const Globals& globals) {
  return globals.ext_manager;
}
template <>
Global WaylandClipboardText<WlrProtocol>::ManagerOf(const Globals& globals) {
  return globals.wlr_manager;
}

template <typename P>
std::unique_ptr<ClipboardText<char>> MakeFor(
    std::unique_ptr<Connection> connection, std::string* why_not) {
  try {
    const Global manager =
        WaylandClipboardText<P>::ManagerOf(connection->globals());
    return std::make_unique<WaylandClipboardText<P>>(
        DataControl<P>::Bind(std::move(connection), manager, Operation::kGetText));
  } catch (const Error& error) {
    *why_not = error.cause();
    return nullptr;
  }
}

}  // namespace

std::unique_ptr<ClipboardText<char>> ConnectWaylandClipboardText(
    std::string* why_not) {
  std::unique_ptr<Connection> connection = Connection::Open(why_not);
  if (!connection) return nullptr;
  const Globals& globals = connection->globals();
  if (!globals.seat.present()) {
    *why_not =
        "the Wayland compositor \"" + connection->name() + "\" has no seat";
    return nullptr;
  }
  if (globals.ext_manager.present()) {
    return MakeFor<ExtProtocol>(std::move(connection), why_not);
  }
  if (globals.wlr_manager.present()) {
    return MakeFor<WlrProtocol>(std::move(connection), why_not);
  }
  *why_not = "the Wayland compositor \"" + connection->name() +
             "\" offers no data-control protocol";
  return nullptr;
}

}  // namespace quillmore
