// The clipboard's plain text, as the run sees it: read it, empty the
// clipboard, write text to it. One backend per platform implements this; the
// run only ever talks to this interface, which is also where tests put a fake
// that fails at a chosen step.
#ifndef QUILLMORE_CLIPBOARD_CLIPBOARD_TEXT_H_
#define QUILLMORE_CLIPBOARD_CLIPBOARD_TEXT_H_

#include <string>
#include <string_view>

namespace quillmore {

// Unit is the platform's text code unit: char (UTF-8 bytes) on Linux
// desktops, char16_t (UTF-16) on Windows. Texts are never converted between
// the two; each backend hands over its clipboard's units as they are.
template <typename Unit>
class ClipboardText {
 public:
  using Text = std::basic_string<Unit>;
  using TextView = std::basic_string_view<Unit>;

  virtual ~ClipboardText() = default;

  // The clipboard's plain text; an empty text when the clipboard holds none.
  // Throws Error on failure.
  virtual Text GetText() = 0;
  // Empties the clipboard of every format it holds, where the platform's
  // write adds to what is there (Windows), and only if it still holds what
  // GetText read, as SetText below. Where the write itself replaces every
  // format at once (X11, Wayland), it only makes sure the clipboard can be
  // written and leaves it as it is. Throws Error on failure.
  virtual void Clear() = 0;
  // Places text on the clipboard as plain text, only if the clipboard still
  // holds what GetText read (or, after Clear, what Clear left): a copy
  // another program made since is the user's newer text, so the write fails
  // instead, with status::kAccessDenied, and leaves it. A change to the
  // same text is no newer copy. Throws Error on failure; LeftEmpty() then
  // says whether the clipboard is empty by the run's doing. The text is
  // the backend's to keep: where it serves the clipboard itself (X11,
  // Wayland) the offer is made in the text's own buffer, not a copy.
  virtual void SetText(Text text) = 0;
  // Whether the clipboard is empty by this run's own doing: from a Clear
  // (or a Windows SetText) that emptied it until a SetText filled it, or
  // found that another program had written since. Where it is, a failed
  // write would lose the user's text unless the run puts it back.
  virtual bool LeftEmpty() const = 0;
};

}  // namespace quillmore

#endif  // QUILLMORE_CLIPBOARD_CLIPBOARD_TEXT_H_
