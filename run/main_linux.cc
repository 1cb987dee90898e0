// quillmore on Linux: lays out the SQL on the X11 clipboard, once. No command
// line and no settings; the only input is the clipboard (and DISPLAY, which
// says where it is). Success prints nothing and exits 0; a failure is one
// line on stderr and exit status 1, also shown as a desktop notification
// when stderr is not a terminal.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "clipboard/x11_clipboard_text.h"
#include "layout/pattern_engine.h"
#include "run/desktop_notification_linux.h"
#include "run/report.h"

int main() {
  // A broken connection to the X server must become a reported failure, not
  // a silent death by SIGPIPE on the next write to it.
  std::signal(SIGPIPE, SIG_IGN);
  return quillmore::RunAndReport(
      [] { return quillmore::MakeX11ClipboardText(); },
      [] { return std::make_unique<quillmore::PatternEngine<char>>(); },
      [](const std::string& line) {
        std::fprintf(stderr, "%s\n", line.c_str());
        // Started from a hotkey or a launcher, nobody reads stderr.
        if (!isatty(STDERR_FILENO)) quillmore::ShowDesktopNotification(line);
      });
}
