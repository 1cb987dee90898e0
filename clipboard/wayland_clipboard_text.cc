// The Wayland clipboard: each operation on the run's one data-control
// object (wayland/), and the choice of protocol.
#include "clipboard/wayland_clipboard_text.h"

#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "base/error.h"
#include "clipboard/linux/clipboard_server.h"
#include "clipboard/wayland/connection.h"
#include "clipboard/wayland/data_control.h"

namespace quillmore {
namespace {

using wayland_clipboard::Connection;
using wayland_clipboard::DataControl;

class WaylandClipboard final : public linux_clipboard::Backend {
 public:
  explicit WaylandClipboard(std::unique_ptr<DataControl> control)
      : control_(std::move(control)) {}

  std::string GetText() override { return control_->Read(); }
  void Clear() override {}
  void SetText(std::string text, std::string_view read) override {
    linux_clipboard::SignalHold hold;
    if (!control_->Own(linux_clipboard::TextOffer::Of(std::move(text)), read,
                       hold)) {
      return;  // ours, and at once another program's
    }
    // The selection lives as long as the connection whose source it is:
    // the server goes on with ours, and this process lets go of it.
    linux_clipboard::ForkClipboardServer(control_->connection().Descriptors(),
                                         [&] { control_->ServeUntilTaken(); },
                                         {read});
    control_->LeaveToServer();
  }

 private:
  std::unique_ptr<DataControl> control_;
};

}  // namespace

std::unique_ptr<linux_clipboard::Backend> ConnectWaylandClipboard(
    std::string* why_not) {
  std::unique_ptr<Connection> connection = Connection::Open(why_not);
  if (!connection) return nullptr;
  const wayland_clipboard::Globals globals = connection->globals();
  const std::string name = connection->name();
  if (!globals.seat.present()) {
    *why_not = "the Wayland compositor \"" + name + "\" has no seat";
    return nullptr;
  }
  const bool ext = globals.ext_manager.present();
  if (!ext && !globals.wlr_manager.present()) {
    *why_not = "the Wayland compositor \"" + name +
               "\" offers no data-control protocol";
    return nullptr;
  }
  try {
    return std::make_unique<WaylandClipboard>(DataControl::Bind(
        std::move(connection), ext ? globals.ext_manager : globals.wlr_manager,
        ext ? wayland_clipboard::kExtProtocol
            : wayland_clipboard::kWlrProtocol));
  } catch (const Failure& failure) {
    *why_not = failure.what();
    return nullptr;
  }
}

}  // namespace quillmore
