// quillmore on Linux: lays out the SQL on the desktop's clipboard, once:
// Wayland's or X11's, whichever the session offers. No command line and no
// settings; the only input is the clipboard (and WAYLAND_DISPLAY or DISPLAY,
// which say where it is). Any argument is refused with a usage line and
// exit status 2, before the clipboard is touched. Success prints nothing and
// exits 0; a failure is one line on stderr and exit status 1, also shown as a
// desktop notification when stderr is not a terminal.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "clipboard/linux_clipboard_text.h"
#include "layout/pattern_engine.h"
#include "run/desktop_notification_linux.h"
#include "run/report.h"

int main(int argc, char**) {
  // An argument is most likely a mistake for the filter, quillmore-layout;
  // running anyway would replace the user's clipboard unasked.
  if (argc > 1) {
    std::fputs(
        "usage: quillmore (takes no arguments; lays out the SQL on the "
        "clipboard)\n",
        stderr);
    return 2;
  }
  // A broken connection to the X server or the Wayland compositor must
  // become a reported failure, not a silent death by SIGPIPE on the next
  // write to it.
  std::signal(SIGPIPE, SIG_IGN);
  return quillmore::RunAndReport(
      [] { return quillmore::MakeLinuxClipboardText(); },
      [] { return std::make_unique<quillmore::PatternEngine<char>>(); },
      [](const std::string& line) {
        std::fprintf(stderr, "%s\n", line.c_str());
        // Started from a hotkey or a launcher, nobody reads stderr.
        if (!isatty(STDERR_FILENO)) quillmore::ShowDesktopNotification(line);
      });
}
