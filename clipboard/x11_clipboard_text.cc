// ClipboardText on X11: each operation on the run's one session (x11/).
#include "clipboard/x11_clipboard_text.h"

#include <memory>
#include <utility>

#include "clipboard/linux/clipboard_server.h"
#include "clipboard/linux/text_offer.h"
#include "clipboard/x11/session.h"

namespace quillmore {
namespace {

using x11_clipboard::Session;
using x11_clipboard::TextOffer;

class X11ClipboardText final : public ClipboardText<char> {
 public:
  Text GetText() override {
    Text text = SessionFor(Operation::kGetText).Read();
    // Its buffer moves out with it, to the caller, who keeps it.
    read_ = text;
    return text;
  }

  // Taking the selection makes its owner drop it, with all its formats.
  // That is done once, by SetText, with the text already on offer: taken
  // here with nothing on offer, a paste (or another run) in between would
  // find the clipboard empty. So Clear makes sure the clipboard can be
  // reached and leaves the taking to SetText; a failure before that leaves
  // the clipboard as it was.
  void Clear() override { SessionFor(Operation::kClear); }

  bool LeftEmpty() const override { return false; }  // Clear takes nothing

  void SetText(TextView text) override {
    Session& session = SessionFor(Operation::kSetText);
    TextOffer offer = TextOffer::Of(text);
    linux_clipboard::SignalHold hold;
    session.Own(std::move(offer), read_, hold);
    // The server keeps only its own copy of the text, not the caller's.
    session.HandOver({text, read_});
  }

 private:
  // One connection for the run: a selection dies with the connection that
  // owns it, so the ownership taken by SetText is handed on with it.
  Session& SessionFor(Operation operation) {
    if (!session_) session_ = Session::Open(operation);
    session_->set_operation(operation);
    return *session_;
  }

  std::unique_ptr<Session> session_;
  TextView read_;  // the text GetText returned
};

}  // namespace

std::unique_ptr<ClipboardText<char>> MakeX11ClipboardText() {
  return std::make_unique<X11ClipboardText>();
}

}  // namespace quillmore
