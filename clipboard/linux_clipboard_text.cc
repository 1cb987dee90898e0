#include "clipboard/linux_clipboard_text.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "base/error.h"
#include "base/operation.h"
#include "clipboard/wayland_clipboard_text.h"
#include "clipboard/x11_clipboard_text.h"

namespace quillmore {
namespace {

class ChosenClipboardText final : public ClipboardText<char> {
 private:
  // The first call chooses; every call then runs on the chosen clipboard.
  template <typename Step>
  auto Use(Operation operation, Step&& run) {
    if (chosen_) return run(*chosen_);
    std::string wayland_not_used;
    chosen_ = ConnectWaylandClipboardText(operation, &wayland_not_used);
    if (chosen_) return run(*chosen_);
    chosen_ = MakeX11ClipboardText();
    // Only the first X11 operation connects. Where a Wayland session was
    // named but could not be used, its failure says why neither worked.
    if (!WaylandNamed()) return run(*chosen_);
    try {
      return run(*chosen_);
    } catch (const Error& error) {
      throw Error(error.code(), error.interface_name(), error.operation(),
                  error.cause() + "; the Wayland clipboard cannot be used " +
                      "either: " + wayland_not_used);
    }
  }

 public:
  Text GetText() override {
    return Use(Operation::kGetText,
               [](ClipboardText<char>& c) { return c.GetText(); });
  }
  void Clear() override {
    Use(Operation::kClear, [](ClipboardText<char>& c) { c.Clear(); });
  }
  void SetText(TextView text) override {
    Use(Operation::kSetText, [&](ClipboardText<char>& c) { c.SetText(text); });
  }
  bool LeftEmpty() const override { return chosen_ && chosen_->LeftEmpty(); }

 private:
  static bool WaylandNamed();

  std::unique_ptr<ClipboardText<char>> chosen_;
};

bool ChosenClipboardText::WaylandNamed() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  return name != nullptr && *name != '\0';
}

}  // namespace

std::unique_ptr<ClipboardText<char>> MakeLinuxClipboardText() {
  return std::make_unique<ChosenClipboardText>();
}

}  // namespace quillmore
