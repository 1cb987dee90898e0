// A second program on the Windows desktop, for the tests: it reads and
// writes the clipboard with plain Win32 calls of its own (none of
// quillmore's code), holds the clipboard open the way another application
// would, and starts quillmore.exe and answers its message box.
#ifndef QUILLMORE_TESTS_CLIPBOARD_WIN32_CLIPBOARD_PEER_H_
#define QUILLMORE_TESTS_CLIPBOARD_WIN32_CLIPBOARD_PEER_H_

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace quillmore_test {

// Each call opens the clipboard, does its work and closes it. Opening is
// retried for a while: unlike the program under test, a test can wait for a
// clipboard that is briefly busy. Failures throw std::runtime_error.

// Empties the clipboard and places text as CF_UNICODETEXT.
void PeerSetText(const std::u16string& text);
// Empties the clipboard and places 8-bit text as CF_TEXT only.
void PeerSetAnsiText(const std::string& text);
// Empties the clipboard and places a small bitmap (CF_BITMAP) only.
void PeerSetBitmap();
// Empties the clipboard.
void PeerEmpty();
// The CF_UNICODETEXT text, up to its first NUL; nullopt when there is none.
std::optional<std::u16string> PeerGetText();
// The formats on the clipboard, in the order it lists them.
std::vector<UINT> PeerFormats();
bool PeerHasFormat(UINT format);

// Holds the clipboard open, as an application with a window of its own does
// while it works with the clipboard, from a thread of its own, for as long
// as the holder lives.
class ClipboardHolder {
 public:
  ClipboardHolder();
  ~ClipboardHolder();
  ClipboardHolder(const ClipboardHolder&) = delete;
  ClipboardHolder& operator=(const ClipboardHolder&) = delete;

 private:
  static DWORD WINAPI Hold(void* self);
  HANDLE opened_ = nullptr;
  HANDLE release_ = nullptr;
  HANDLE thread_ = nullptr;
  bool ok_ = false;
};

// What one start of quillmore.exe did.
struct ProgramRun {
  DWORD exit_code = 0;
  // The message boxes it showed (each answered with OK), in order.
  struct Box {
    std::u16string title;
    std::u16string text;
    // Whether the box shows an icon, and its handle. Which icon it is can be
    // told only inside the process that showed the box: icon handles are
    // private to the process that loaded them.
    bool has_icon = false;
    HICON icon = nullptr;
  };
  std::vector<Box> boxes;
  // Top-level windows of the process other than message boxes.
  int other_windows = 0;
};

// The visible message boxes of a process.
std::vector<HWND> MessageBoxesOf(DWORD process_id);
// Reads a message box and presses its OK button.
ProgramRun::Box AnswerBox(HWND box);

// quillmore.exe, beside the test program.
std::wstring ProgramPath();
// Starts the program, answers every message box it shows, and waits for it
// to end. Throws if it has not ended after a minute (so a hang fails the
// test instead of stopping the suite).
ProgramRun RunProgram(const std::wstring& path = ProgramPath());

}  // namespace quillmore_test

#endif  // QUILLMORE_TESTS_CLIPBOARD_WIN32_CLIPBOARD_PEER_H_
