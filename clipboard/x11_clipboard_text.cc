// The X11 clipboard: each operation on the run's one session (x11/).
#include "clipboard/x11_clipboard_text.h"

#include <memory>
#include <string>
#include <utility>

#include "clipboard/linux/clipboard_server.h"
#include "clipboard/linux/text_offer.h"
#include "clipboard/x11/session.h"

namespace quillmore {
namespace {

using x11_clipboard::Session;

class X11Clipboard final : public linux_clipboard::Backend {
 public:
  std::string GetText() override { return session().Read(); }
  void Clear() override { session(); }
  void SetText(std::string text, std::string_view read) override {
    Session& s = session();
    linux_clipboard::SignalHold hold;
    s.Own(linux_clipboard::TextOffer::Of(std::move(text)), read, hold);
    s.HandOver({read});
  }

 private:
  // One connection for the run: a selection dies with the connection that
  // owns it, so the ownership taken by SetText is handed on with it.
  Session& session() {
    if (!session_) session_ = Session::Open();
    return *session_;
  }

  std::unique_ptr<Session> session_;
};

}  // namespace

std::unique_ptr<linux_clipboard::Backend> MakeX11Clipboard() {
  return std::make_unique<X11Clipboard>();
}

}  // namespace quillmore
