// The Wayland clipboard: the seat's selection through the data-control
// protocols (ext_data_control_manager_v1, else zwlr_data_control_manager_v1),
// which let a program without a window or keyboard focus read and set it.
// The only place that knows about Wayland.
#ifndef QUILLMORE_CLIPBOARD_WAYLAND_CLIPBOARD_TEXT_H_
#define QUILLMORE_CLIPBOARD_WAYLAND_CLIPBOARD_TEXT_H_

#include <memory>
#include <string>

#include "clipboard/linux/backend.h"

namespace quillmore {

// The clipboard of the compositor named by WAYLAND_DISPLAY, connected and
// ready, if it offers a data-control protocol. Otherwise null, and *why_not
// says why in words for a report: WAYLAND_DISPLAY not set, no compositor
// there, or one without data-control (GNOME's, for one).
//
// SetText returns only once a server process forked for the purpose holds
// the selection; it serves it until another program takes the clipboard.
std::unique_ptr<linux_clipboard::Backend> ConnectWaylandClipboard(
    std::string* why_not);

}  // namespace quillmore

#endif  // QUILLMORE_CLIPBOARD_WAYLAND_CLIPBOARD_TEXT_H_
