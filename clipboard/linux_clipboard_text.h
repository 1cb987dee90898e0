// Which clipboard quillmore uses on a Linux desktop, decided at run time and
// only here: the Wayland compositor's, through data-control, where
// WAYLAND_DISPLAY names a compositor that offers it (sway and other wlroots
// compositors, KDE); the X11 clipboard otherwise (X11 desktops, and GNOME,
// which offers no data-control and bridges its clipboard to XWayland's).
#ifndef QUILLMORE_CLIPBOARD_LINUX_CLIPBOARD_TEXT_H_
#define QUILLMORE_CLIPBOARD_LINUX_CLIPBOARD_TEXT_H_

#include <memory>

#include "clipboard/clipboard_text.h"

namespace quillmore {

// Chooses on the first operation, so that, as with every other failure, one
// that leaves no clipboard to use is reported by the operation that needed
// it, with nothing on the clipboard changed.
//
// The caller keeps the text GetText returned, unchanged, until SetText has
// returned (as the run does): the server SetText forks does not inherit it,
// which keeps the server's memory to about the text it serves.
std::unique_ptr<ClipboardText<char>> MakeLinuxClipboardText();

}  // namespace quillmore

#endif  // QUILLMORE_CLIPBOARD_LINUX_CLIPBOARD_TEXT_H_
