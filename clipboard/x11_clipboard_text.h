// ClipboardText on X11: the CLIPBOARD selection, spoken to through xcb. The
// only place that knows about X; the run sees nothing but ClipboardText.
#ifndef QUILLMORE_CLIPBOARD_X11_CLIPBOARD_TEXT_H_
#define QUILLMORE_CLIPBOARD_X11_CLIPBOARD_TEXT_H_

#include <memory>

#include "clipboard/clipboard_text.h"

namespace quillmore {

// The X11 clipboard of the display named by DISPLAY. Nothing is connected
// until the first operation, so a missing display is reported by the
// operation that needed it, like any other failure.
//
// SetText returns only once the text is held by a program that outlives this
// one: a clipboard manager that took it over, or else a server process forked
// for the purpose, which keeps serving until another program takes the
// clipboard.
std::unique_ptr<ClipboardText<char>> MakeX11ClipboardText();

}  // namespace quillmore

#endif  // QUILLMORE_CLIPBOARD_X11_CLIPBOARD_TEXT_H_
