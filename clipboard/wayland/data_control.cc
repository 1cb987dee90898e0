// The data-control object: binding it, its events, taking the selection and
// serving it. What it is: data_control.h.
#include "clipboard/wayland/data_control.h"

#include <wayland-client.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "clipboard/linux/fail.h"

namespace quillmore::wayland_clipboard {

using linux_clipboard::Fail;

namespace {

[[noreturn]] void FailNoMemory() {
  Fail(status::kOutOfMemory,
       "not enough memory to talk to the Wayland compositor");
}

}  // namespace

const DeviceListener DataControl::kDeviceListener = {
    OnDataOffer, OnSelection, OnFinished, OnPrimarySelection};
const OfferListener DataControl::kOfferListener = {OnOfferType};
const SourceListener DataControl::kSourceListener = {OnSend, OnCancelled};

std::unique_ptr<DataControl> DataControl::Bind(
    std::unique_ptr<Connection> connection, const Global& manager,
    const Protocol& protocol) {
  const Global seat = connection->globals().seat;
  if (!manager.present() || !seat.present()) {
    Fail(status::kFail, "the Wayland compositor \"" + connection->name() +
                            "\" no longer offers its clipboard");
  }
  std::unique_ptr<DataControl> control(
      new DataControl(std::move(connection), protocol));
  wl_registry* registry = control->connection_->registry();
  // Version 1 has all we use; the primary selection is not the clipboard.
  control->seat_.Reset(static_cast<wl_seat*>(
      wl_registry_bind(registry, seat.name, &wl_seat_interface, 1)));
  control->manager_.Reset(static_cast<Manager*>(
      wl_registry_bind(registry, manager.name, protocol.manager, 1)));
  if (!control->seat_ || !control->manager_) FailNoMemory();
  control->device_.Reset(Request<Device>(control->manager_.get(),
                                         kGetDataDevice, protocol.device,
                                         nullptr, control->seat_.get()));
  if (!control->device_) FailNoMemory();
  Listen(control->device_.get(), &kDeviceListener, control.get());
  return control;
}

void DataControl::OnDataOffer(void* data, Device*, Offer* offer) {
  auto* self = static_cast<DataControl*>(data);
  auto state = std::make_unique<OfferState>();
  state->offer.Reset(offer);
  Listen(offer, &kOfferListener, state.get());
  self->offers_.push_back(std::move(state));
}

void DataControl::OnOfferType(void* data, Offer*, const char* type) {
  static_cast<OfferState*>(data)->types.emplace_back(type);
}

void DataControl::OnSelection(void* data, Device*, Offer* offer) {
  auto* self = static_cast<DataControl*>(data);
  ++self->selections_;
  self->DropOffersBut(offer);
}

void DataControl::OnFinished(void* data, Device*) {
  static_cast<DataControl*>(data)->device_finished_ = true;
}

void DataControl::OnPrimarySelection(void* data, Device*, Offer*) {
  // Not the clipboard: only its offer (if any) is let go.
  auto* self = static_cast<DataControl*>(data);
  self->DropOffersBut(
      self->selection_ != nullptr ? self->selection_->offer.get() : nullptr);
}

void DataControl::DropOffersBut(Offer* keep) {
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

bool DataControl::Own(TextOffer offer, std::string_view read,
                      linux_clipboard::SignalHold& hold) {
  source_.Reset();
  source_cancelled_ = false;
  offer_ = std::move(offer);
  source_.Reset(Request<Source>(manager_.get(), kCreateDataSource,
                                protocol_.source, nullptr));
  if (!source_) FailNoMemory();
  Listen(source_.get(), &kSourceListener, this);
  for (const char* type : kTextTypes) {
    if (!IsLatin1Type(type) || offer_.latin1_ok()) {
      Request(source_.get(), kOfferType, nullptr, type);
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
    connection_->Sync();
    if (selections_ == read_at_) break;
    if (compared == kSameTextTakes || !OffersSame(read)) {
      Fail(status::kAccessDenied,
           "the clipboard changed while the text was laid out; nothing was "
           "written");
    }
  }
  const unsigned selections = selections_;
  hold.Begin();
  Request(device_.get(), kSetSelection, nullptr, source_.get());
  connection_->Sync();
  if (!source_cancelled_) return true;
  // Cancelled with no change of selection: the compositor refused it.
  if (selections_ == selections) {
    Fail(status::kAccessDenied, "the Wayland compositor refused the text");
  }
  source_.Reset();
  return false;
}

void DataControl::OnSend(void* data, Source*, const char* type,
                         std::int32_t fd) {
  auto* self = static_cast<DataControl*>(data);
  FileDescriptor pipe(fd);
  if (self->source_cancelled_) return;
  if (!IsLatin1Type(type)) {
    self->connection_->Feed(std::move(pipe), self->offer_.Utf8());
  } else if (self->offer_.latin1_ok()) {
    self->connection_->Feed(std::move(pipe), self->offer_.Latin1());
  }
}

void DataControl::OnCancelled(void* data, Source*) {
  static_cast<DataControl*>(data)->source_cancelled_ = true;
}

void DataControl::ServeUntilTaken() {
  linux_clipboard::ServeUntilTaken(
      [&](Clock::time_point deadline, const std::function<bool()>& stop) {
        return connection_->Wait(deadline, -1, stop) == Wake::kStop;
      },
      [&] { return source_cancelled_ || device_finished_; },
      [&] { source_.Reset(); }, [&] { return !connection_->feeding(); });
}

void DataControl::LeaveToServer() noexcept {
  Forget(device_);
  Forget(manager_);
  Forget(seat_);
  Forget(source_);
  for (auto& state : offers_) Forget(state->offer);
  connection_->LeaveToServer();
}

}  // namespace quillmore::wayland_clipboard
