// The X11 clipboard: the CLIPBOARD selection, spoken to through xcb. The
// only place that knows about X; the run sees nothing but ClipboardText.
#ifndef QUILLMORE_CLIPBOARD_X11_CLIPBOARD_TEXT_H_
#define QUILLMORE_CLIPBOARD_X11_CLIPBOARD_TEXT_H_

#include <memory>

#include "clipboard/linux/backend.h"

namespace quillmore {

// The X11 clipboard of the display named by DISPLAY. Nothing is connected
// until the first operation, so a missing display is reported by the
// operation that needed it, like any other failure.
//
// SetText takes the clipboard with the text on this process's connection,
// then forks a server that inherits the connection and keeps serving the
// text after this process has ended, and returns at once. The server offers
// the text to a clipboard manager, if one runs, and ends when the manager
// has it or another program takes the clipboard.
std::unique_ptr<linux_clipboard::Backend> MakeX11Clipboard();

}  // namespace quillmore

#endif  // QUILLMORE_CLIPBOARD_X11_CLIPBOARD_TEXT_H_
