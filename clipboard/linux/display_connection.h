// A client's connection to a display server, X or Wayland, owned: ended
// when the owner goes. The two libraries differ only in how a connection is
// ended and how its socket is found.
#ifndef QUILLMORE_CLIPBOARD_LINUX_DISPLAY_CONNECTION_H_
#define QUILLMORE_CLIPBOARD_LINUX_DISPLAY_CONNECTION_H_

#include <fcntl.h>
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

// In the run, once a forked server has inherited the connection: frees
// what the library holds for it without touching the socket, which is the
// server's now. Disconnecting as it is would shut the socket down under
// the server, so the run's descriptor number is first pointed at
// /dev/null; the library's shutdown and close then reach only that.
template <typename Traits>
void LetGoAfterFork(Handle<Traits>& connection) noexcept {
  if (!connection) return;
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null < 0 || dup2(null, Traits::Socket(connection.get())) < 0) {
    // Nothing safe to end it by: leave it to the process's end.
    if (null >= 0) close(null);
    connection.Abandon();
    return;
  }
  close(null);
  connection.Reset();
}

}  // namespace quillmore::linux_clipboard

#endif  // QUILLMORE_CLIPBOARD_LINUX_DISPLAY_CONNECTION_H_
