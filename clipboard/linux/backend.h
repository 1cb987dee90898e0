// One Linux desktop's clipboard (x11/, wayland/), below the edge that makes
// it a ClipboardText (linux_clipboard_text.cc). Each call fails with a
// Failure; the edge makes it the Error of the operation that was running.
#ifndef QUILLMORE_CLIPBOARD_LINUX_BACKEND_H_
#define QUILLMORE_CLIPBOARD_LINUX_BACKEND_H_

#include <string>
#include <string_view>

namespace quillmore::linux_clipboard {

class Backend {
 public:
  virtual ~Backend() = default;

  // The clipboard's text; empty when it holds none.
  virtual std::string GetText() = 0;
  // Makes sure the clipboard can be written, and takes nothing: taking the
  // selection replaces every format at once, so SetText does it with the
  // text on offer. Taken here, a paste (or another run) in between would
  // find the clipboard empty, and a failed write would lose the user's text.
  virtual void Clear() = 0;
  // Sets the clipboard to text, only if it still holds read, the text
  // GetText returned (or that text again); else fails with
  // status::kAccessDenied and leaves the newer copy. text becomes the
  // offer, in its own buffer, which the server that SetText forks to keep
  // the clipboard serves; read is the caller's, alive and unchanged for the
  // call, and the server does not inherit it.
  virtual void SetText(std::string text, std::string_view read) = 0;
};

}  // namespace quillmore::linux_clipboard

#endif  // QUILLMORE_CLIPBOARD_LINUX_BACKEND_H_
