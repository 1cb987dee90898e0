// A client's connection to a display server, X or Wayland, owned: ended
// when the owner goes. The two libraries differ only in how a connection is
// ended and how its socket is found.
#ifndef QUILLMORE_CLIPBOARD_LINUX_DISPLAY_CONNECTION_H_
#define QUILLMORE_CLIPBOARD_LINUX_DISPLAY_CONNECTION_H_

#include <unistd.h>

#include "base/handle.h"

namespace quillmore::linux_clipboard {

template <typename Connection, void (*kDisconnect)(Connection*),
          int (*kSocket)(Connection*)>
struct DisplayConnectionTraits {
  using Value = Connection*;
  static Value Empty() noexcept { return nullptr; }
  static void Release(Value c) noexcept { kDisconnect(c); }
  static int Socket(Value c) noexcept { return kSocket(c); }
};

template <typename Connection, void (*kDisconnect)(Connection*),
          int (*kSocket)(Connection*)>
using DisplayConnection =
    Handle<DisplayConnectionTraits<Connection, kDisconnect, kSocket>>;

// In a forked child: let go of the parent's connection without ending it.
// Disconnecting would shut down the socket the parent still talks through;
// closing our copy of the descriptor leaves the parent's intact. The
// bookkeeping the library allocated is left to the child's exit.
template <typename Traits>
void AbandonAfterFork(Handle<Traits>& connection) noexcept {
  if (connection) close(Traits::Socket(connection.get()));
  connection.Abandon();
}

}  // namespace quillmore::linux_clipboard

#endif  // QUILLMORE_CLIPBOARD_LINUX_DISPLAY_CONNECTION_H_
