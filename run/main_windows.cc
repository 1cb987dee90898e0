// quillmore.exe: lays out the SQL on the clipboard, once, and ends. A
// graphical-subsystem program so that starting it from a hotkey or a
// shortcut opens no console; it makes no window of its own. Any argument is
// refused: the usage is shown in the failure box, exit status 2, and the
// clipboard is not touched.
#include <windows.h>

#include <memory>

#include "clipboard/win32_clipboard_text.h"
#include "layout/pattern_engine.h"
#include "run/failure_box_windows.h"
#include "run/report.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR arguments, int) {
  // The command line after the program's name; blanks alone are no argument.
  // A graphical program has no stderr, so the usage goes where failures go.
  for (const char* c = arguments; c != nullptr && *c != '\0'; ++c) {
    if (*c != ' ' && *c != '\t') {
      quillmore::ShowFailureBox(
          "usage: quillmore (takes no arguments; lays out the SQL on the "
          "clipboard)");
      return 2;
    }
  }
  // A failure is shown in a message box; the exit status is nonzero then
  // and zero after a run that succeeded, which shows nothing.
  return quillmore::RunAndReport(
      [] { return std::make_unique<quillmore::Win32ClipboardText>(); },
      [] { return std::make_unique<quillmore::PatternEngine<char16_t>>(); },
      quillmore::ShowFailureBox);
}
