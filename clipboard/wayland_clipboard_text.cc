// The Wayland backend. A Wayland selection is, as on X11, a promise of its
// owner: the compositor only passes each reader's pipe on to the owning
// client, which writes the data into it. So reading means handing the owner a
// pipe and reading it to its end, and writing means owning a data source and
// filling every pipe we are handed for as long as the text should stay
// pasteable, which is longer than this program lives: a server forked once
// the selection is ours goes on with the same connection, and so with the
// same source (linux/clipboard_server.h).
//
// Ordinary clients may only touch the selection while they have keyboard
// focus, which a program started from a hotkey never has. The data-control
// protocols exist for exactly such programs (wayland/protocols.h). The
// connection and its wait loop are in wayland/connection.h; here is what
// the protocol does with them.
#include "clipboard/wayland_clipboard_text.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/error.h"
#include "clipboard/linux/clipboard_server.h"
#include "clipboard/linux/fail.h"
#include "clipboard/linux/text_offer.h"
#include "clipboard/wayland/connection.h"

namespace quillmore {
namespace {

using linux_clipboard::Clock;
using linux_clipboard::Fail;
using linux_clipboard::FileDescriptor;
using linux_clipboard::kAnswerTimeout;
using linux_clipboard::kMaxTextSize;
using linux_clipboard::TextOffer;
using linux_clipboard::Wake;
using wayland_clipboard::Connection;
using wayland_clipboard::ExtProtocol;
using wayland_clipboard::Global;
using wayland_clipboard::Globals;
using wayland_clipboard::Proxy;
using wayland_clipboard::WlrProtocol;

// The text's MIME types, in our order of preference when reading. TEXT and
// STRING are X11's names (XWayland and toolkits use them); STRING is
// Latin-1 by definition, and TEXT is taken as the same, as on X11, where an
// owner answers TEXT with STRING.
constexpr const char* kTextTypes[] = {"text/plain;charset=utf-8", "UTF8_STRING",
                                      "text/plain", "TEXT", "STRING"};
bool IsLatin1Type(std::string_view type) {
  return type == "TEXT" || type == "STRING";
}

// ---------------------------------------------------------------------------
// The seat's selection through one of the two protocols.

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

  // The selection's text; the selection it was read from is what Own
  // compares against.
  std::string Read(Operation operation);
  // Sets the selection to offer, only if it is still the one read, or
  // offers the same text (read) as it did. Throws Error otherwise. False if
  // another program took the clipboard straight after: the text was ours,
  // and there is nothing left to serve.
  // Begins hold just before it sets the selection.
  bool Own(TextOffer offer, std::string_view read,
           linux_clipboard::SignalHold& hold, Operation operation);
  void ServeUntilTaken();

  // In this process, once the forked server has the connection: forgets
  // every object without a request, since destroying one would act on the
  // server's.
  void LeaveToServer() noexcept {
    Forget(device_);
    Forget(manager_);
    Forget(seat_);
    Forget(source_);
    for (auto& state : offers_) Forget(state->offer);
    connection_->LeaveToServer();
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
  // The text type to ask the selection for; null if it offers none.
  const char* TextType() const;
  // Whether the selection, changed since the read, offers the same text.
  bool OffersSame(std::string_view read, Operation operation);
  [[noreturn]] static void FailRead(Operation operation, std::string cause) {
    Fail(status::kFail, operation, std::move(cause));
  }

  // Destroyed in reverse: every object before the connection.
  std::unique_ptr<Connection> connection_;
  Proxy<wl_seat> seat_;
  Proxy<Manager, P> manager_;
  Proxy<Device, P> device_;
  bool device_finished_ = false;
  std::vector<std::unique_ptr<OfferState>> offers_;
  OfferState* selection_ = nullptr;
  // Selection events so far: a change while we read or write shows in it.
  unsigned selections_ = 0;
  // selections_ when the text was read: the selection the write replaces.
  unsigned read_at_ = 0;

  Proxy<Source, P> source_;
  bool source_cancelled_ = false;
  TextOffer offer_;
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
  control->seat_.Reset(static_cast<wl_seat*>(
      wl_registry_bind(registry, seat.name, &wl_seat_interface, 1)));
  control->manager_.Reset(static_cast<Manager*>(
      wl_registry_bind(registry, manager.name, P::ManagerInterface(), 1)));
  if (!control->seat_ || !control->manager_) {
    Fail(status::kOutOfMemory, operation,
         "not enough memory to talk to the Wayland compositor");
  }
  control->device_.Reset(
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
  state->offer.Reset(offer);
  P::Listen(offer, &kOfferListener, state.get());
  self->offers_.push_back(std::move(state));
}

template <typename P>
void DataControl<P>::OnSelection(void* data, Device*, Offer* offer) {
  auto* self = static_cast<DataControl*>(data);
  ++self->selections_;
  self->DropOffersBut(offer);
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
  read_at_ = selections_;
  if (selection_ == nullptr) return {};  // nobody owns the clipboard
  const char* type = TextType();
  if (type == nullptr) return {};  // no text on the clipboard (an image only)

  // Only our end is non-blocking: the owner's is its to write as it likes,
  // and many owners write with a plain loop that would stop at EAGAIN.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0 ||
      fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK) != 0) {
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

  // A text that another program's copy interrupts would be cut short, or
  // be a mix of two: the read fails instead, and the clipboard is left to
  // the program that took it.
  const auto changed = [&] { return selections_ != read_at_; };
  const auto fail_changed = [&] {
    FailRead(operation,
             "another program took the clipboard while it was being read");
  };
  std::string text;
  const Clock::time_point start = Clock::now();
  Clock::time_point last_progress = start;
  for (;;) {
    const Clock::time_point whole =
        start + linux_clipboard::kReadTimeout +
        linux_clipboard::kReadTimePerMiB * static_cast<int>(text.size() >> 20);
    const Wake wake =
        connection_->Wait(std::min(last_progress + kAnswerTimeout, whole),
                          read_end.get(), changed);
    if (wake == Wake::kBroken) connection_->FailBroken(operation);
    if (wake == Wake::kStop) fail_changed();
    if (wake == Wake::kTimeout) {
      if (Clock::now() >= whole) {
        Fail(
            status::kTimeout, operation,
            "the owning program sent only " + std::to_string(text.size()) +
                " bytes of the text in " +
                std::to_string(std::chrono::duration_cast<std::chrono::seconds>(
                                   whole - start)
                                   .count()) +
                " s");
      }
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
        // Checked first: growing past the cap would double the memory.
        if (text.size() + static_cast<std::size_t>(n) > kMaxTextSize) {
          Fail(status::kOutOfMemory, operation,
               "the clipboard holds more than " +
                   std::to_string(kMaxTextSize >> 20) +
                   " MiB of text, more than quillmore lays out");
        }
        text.append(buffer, static_cast<std::size_t>(n));
        last_progress = Clock::now();
        continue;
      }
      if (n == 0) {
        // The owner closed the pipe: that is all, unless it did so because
        // another program took the clipboard, which a round trip shows.
        connection_->Sync(operation);
        if (changed()) fail_changed();
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
const char* DataControl<P>::TextType() const {
  for (const char* wanted : kTextTypes) {
    const auto& offered = selection_->types;
    if (std::find(offered.begin(), offered.end(), wanted) != offered.end()) {
      return wanted;
    }
  }
  return nullptr;
}

template <typename P>
bool DataControl<P>::OffersSame(std::string_view read, Operation operation) {
  // A newer copy without text (an image) is never the text read.
  if (selection_ != nullptr && TextType() == nullptr) return false;
  try {
    return Read(operation) == read;
  } catch (const Error&) {
    return false;  // not shown to be the same: the newer copy stays
  }
}

template <typename P>
bool DataControl<P>::Own(TextOffer offer, std::string_view read,
                         linux_clipboard::SignalHold& hold,
                         Operation operation) {
  source_.Reset();
  source_cancelled_ = false;
  offer_ = std::move(offer);
  source_.Reset(P::CreateSource(manager_.get()));
  if (!source_) {
    Fail(status::kOutOfMemory, operation,
         "not enough memory to talk to the Wayland compositor");
  }
  P::Listen(source_.get(), &kSourceListener, this);
  for (const char* type : kTextTypes) {
    if (!IsLatin1Type(type) || offer_.latin1_ok()) {
      P::OfferType(source_.get(), type);
    }
  }
  // A copy made since the read is the user's newer text, which the write
  // must not replace. set_selection is not conditional, so the round trip
  // just before it is as close as the protocol lets us look: a copy that
  // the compositor takes between answering it and our set_selection is
  // still replaced. A clipboard manager that took the selection again with
  // the text it read is no newer copy; the write then replaces its
  // selection instead, though not for ever (one that takes it again after
  // every read).
  constexpr int kSameTextTakes = 3;
  for (int compared = 0;; ++compared) {
    connection_->Sync(operation);
    if (selections_ == read_at_) break;
    if (compared == kSameTextTakes || !OffersSame(read, operation)) {
      Fail(status::kAccessDenied, operation,
           "the clipboard changed while the text was laid out; nothing was "
           "written");
    }
  }
  const unsigned selections = selections_;
  hold.Begin();
  P::SetSelection(device_.get(), source_.get());
  connection_->Sync(operation);
  if (!source_cancelled_) return true;
  // Cancelled with no change of selection: the compositor refused it.
  if (selections_ == selections) {
    Fail(status::kAccessDenied, operation,
         "the Wayland compositor refused the text");
  }
  source_.Reset();
  return false;
}

template <typename P>
void DataControl<P>::OnSend(void* data, Source*, const char* type,
                            std::int32_t fd) {
  auto* self = static_cast<DataControl*>(data);
  FileDescriptor pipe(fd);
  if (self->source_cancelled_ || !self->offer_.has_text()) return;
  if (!IsLatin1Type(type)) {
    self->connection_->Feed(std::move(pipe), self->offer_.Utf8());
  } else if (self->offer_.latin1_ok()) {
    self->connection_->Feed(std::move(pipe), self->offer_.Latin1());
  }
}

template <typename P>
void DataControl<P>::ServeUntilTaken() {
  linux_clipboard::ServeUntilTaken(
      [&](Clock::time_point deadline, const std::function<bool()>& stop) {
        return connection_->Wait(deadline, -1, stop) == Wake::kStop;
      },
      [&] { return source_cancelled_ || device_finished_; },
      [&] { source_.Reset(); }, [&] { return !connection_->feeding(); });
}

// ---------------------------------------------------------------------------
// The interface.

template <typename P>
class WaylandClipboardText final : public ClipboardText<char> {
 public:
  explicit WaylandClipboardText(std::unique_ptr<DataControl<P>> control)
      : control_(std::move(control)) {}

  Text GetText() override {
    Text text = control_->Read(Operation::kGetText);
    // Built where the caller keeps it (a named return), which SetText
    // compares against and the server leaves behind.
    read_ = text;
    return text;
  }

  // Setting the selection replaces the owner's, with all its formats, so
  // SetText empties the clipboard as it writes: done here, it would leave a
  // moment with no clipboard at all, in which another run reads the empty
  // text, and a failure of the write would leave the user's text lost.
  void Clear() override {}
  bool LeftEmpty() const override { return false; }

  void SetText(TextView text) override {
    TextOffer offer = TextOffer::Of(text);
    linux_clipboard::SignalHold hold;
    if (!control_->Own(std::move(offer), read_, hold, Operation::kSetText)) {
      return;
    }
    // The selection lives as long as the connection whose source it is:
    // the server goes on with ours, and this process lets go of it.
    // The server keeps only its own copy of the text, not the caller's
    // texts.
    Connection& connection = control_->connection();
    linux_clipboard::ForkClipboardServer(
        Operation::kSetText, connection.Descriptors(),
        [&] { control_->ServeUntilTaken(); }, {text, read_});
    control_->LeaveToServer();
  }

  static Global ManagerOf(const Globals& globals);

 private:
  std::unique_ptr<DataControl<P>> control_;
  TextView read_;  // the text GetText returned, as the caller keeps it
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
    std::unique_ptr<Connection> connection, Operation operation,
    std::string* why_not) {
  try {
    const Global manager =
        WaylandClipboardText<P>::ManagerOf(connection->globals());
    return std::make_unique<WaylandClipboardText<P>>(
        DataControl<P>::Bind(std::move(connection), manager, operation));
  } catch (const Error& error) {
    *why_not = error.cause();
    return nullptr;
  }
}

}  // namespace

std::unique_ptr<ClipboardText<char>> ConnectWaylandClipboardText(
    Operation operation, std::string* why_not) {
  std::unique_ptr<Connection> connection = Connection::Open(operation, why_not);
  if (!connection) return nullptr;
  const Globals& globals = connection->globals();
  if (!globals.seat.present()) {
    *why_not =
        "the Wayland compositor \"" + connection->name() + "\" has no seat";
    return nullptr;
  }
  if (globals.ext_manager.present()) {
    return MakeFor<ExtProtocol>(std::move(connection), operation, why_not);
  }
  if (globals.wlr_manager.present()) {
    return MakeFor<WlrProtocol>(std::move(connection), operation, why_not);
  }
  *why_not = "the Wayland compositor \"" + connection->name() +
             "\" offers no data-control protocol";
  return nullptr;
}

}  // namespace quillmore
