#include "clipboard/linux_clipboard_text.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "base/error.h"
#include "base/operation.h"
#include "clipboard/linux/backend.h"
#include "clipboard/wayland_clipboard_text.h"
#include "clipboard/x11_clipboard_text.h"

namespace quillmore {
namespace {

using linux_clipboard::Backend;

// The edge: each operation runs on the chosen backend, and a failure in it
// becomes that operation's Error.
class ChosenClipboardText final : public ClipboardText<char> {
 private:
  // The first call chooses; every call then runs on the chosen clipboard.
  template <typename Step>
  auto Use(Operation operation, Step&& run) {
    return AsOperation(operation, [&] {
      if (chosen_) return run(*chosen_);
      std::string wayland_not_used;
      chosen_ = ConnectWaylandClipboard(&wayland_not_used);
      if (chosen_) return run(*chosen_);
      chosen_ = MakeX11Clipboard();
      // Only the first X11 operation connects. Where a Wayland session was
      // named but could not be used, its failure says why neither worked.
      if (!WaylandNamed()) return run(*chosen_);
      try {
        return run(*chosen_);
      } catch (const Failure& failure) {
        throw Failure(failure.code(),
                      failure.what() +
                          std::string("; the Wayland clipboard cannot be "
                                      "used either: ") +
                          wayland_not_used);
      }
    });
  }

 public:
  Text GetText() override {
    Text text =
        Use(Operation::kGetText, [](Backend& c) { return c.GetText(); });
    // A view of the caller's text (a named return: its buffer is the one
    // the caller keeps), which SetText compares against and keeps out of
    // the server it forks.
    read_ = text;
    return text;
  }
  void Clear() override {
    Use(Operation::kClear, [](Backend& c) { c.Clear(); });
  }
  void SetText(Text text) override {
    Use(Operation::kSetText,
        [&](Backend& c) { c.SetText(std::move(text), read_); });
  }
  // Neither clipboard is ever emptied before it is written.
  bool LeftEmpty() const override { return false; }

 private:
  static bool WaylandNamed() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    return name != nullptr && *name != '\0';
  }

  std::unique_ptr<Backend> chosen_;
  TextView read_;  // the text GetText returned, as the caller keeps it
};

}  // namespace

std::unique_ptr<ClipboardText<char>> MakeLinuxClipboardText() {
  return std::make_unique<ChosenClipboardText>();
}

}  // namespace quillmore
