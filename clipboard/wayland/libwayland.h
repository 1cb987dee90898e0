// libwayland-client is not linked but opened at run time, by the first
// connection, so that a run on X11 never loads it (see libwayland.cc).
#ifndef QUILLMORE_CLIPBOARD_WAYLAND_LIBWAYLAND_H_
#define QUILLMORE_CLIPBOARD_WAYLAND_LIBWAYLAND_H_

#include <string>

namespace quillmore::wayland_clipboard {

// Opens the library (once); false, with *why_not, if it cannot be used. No
// other libwayland function may be called before this has succeeded.
bool LoadLibwayland(std::string* why_not);

}  // namespace quillmore::wayland_clipboard

#endif  // QUILLMORE_CLIPBOARD_WAYLAND_LIBWAYLAND_H_
