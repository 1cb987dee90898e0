// quillmore.exe: lays out the SQL on the clipboard, once, and ends. A
// graphical-subsystem program so that starting it from a hotkey or a
// shortcut opens no console; it makes no window of its own. The command line
// is not read.
#include <windows.h>

#include <memory>
#include <string>

#include "clipboard/win32_clipboard_text.h"
#include "layout/pattern_engine.h"
#include "run/report.h"

namespace {

// The report of a failed run. There is no console to write to, so the
// sentence goes into a message box, which is also the one thing a user who
// started the program from a hotkey will notice.
//
// Tests read the box like any other program on the desktop can: they find
// the window, read its text and press its button (tests/clipboard).
void ShowFailure(const std::string& sentence) {
  std::wstring text;
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, sentence.data(),
                          static_cast<int>(sentence.size()), nullptr, 0);
  if (length > 0) {
    text.resize(static_cast<std::size_t>(length));
    MultiByteToWideChar(CP_UTF8, 0, sentence.data(),
                        static_cast<int>(sentence.size()), text.data(), length);
  } else {
    text = L"quillmore: the run failed";
  }
  // The exit status says the run failed whether or not the box could be
  // shown (there may be no desktop to show it on), so its result is unused.
  MessageBoxW(nullptr, text.c_str(), L"quillmore",
              MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return quillmore::RunAndReport(
      [] { return std::make_unique<quillmore::Win32ClipboardText>(); },
      [] { return std::make_unique<quillmore::PatternEngine<char16_t>>(); },
      ShowFailure);
}
