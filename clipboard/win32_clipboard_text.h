// The Windows clipboard's plain text (CF_UNICODETEXT), as UTF-16 code units
// exactly as the clipboard holds them.
#ifndef QUILLMORE_CLIPBOARD_WIN32_CLIPBOARD_TEXT_H_
#define QUILLMORE_CLIPBOARD_WIN32_CLIPBOARD_TEXT_H_

#include <optional>

#include "clipboard/clipboard_text.h"

struct HWND__;  // windows.h's HWND, kept out of this header

namespace quillmore {

// Holds nothing of the clipboard's between calls: each operation opens the
// clipboard, makes its one change and closes it again, so other programs are
// kept waiting for as short a time as possible. An operation that finds the
// clipboard held open by another program fails at once; it neither waits
// nor retries.
//
// The clipboard is opened with a message-only window of the object's own
// (invisible, and no window of the program in any user's sense): emptying
// the clipboard makes the opening window its owner, and Microsoft documents
// that SetClipboardData fails where EmptyClipboard left no owner (Wine lets
// it pass). The window lives as long as the object, on the thread that
// made it.
//
// The writes (Clear and SetText) are a swap against the clipboard's
// sequence number as GetText left it: if another program has changed the
// clipboard since, to anything but the same text, they fail with
// status::kAccessDenied and write nothing.
//
// Errors carry the operation and the HRESULT of the failing Win32 call.
class Win32ClipboardText final : public ClipboardText<char16_t> {
 public:
  Win32ClipboardText() = default;
  ~Win32ClipboardText() override;
  Win32ClipboardText(const Win32ClipboardText&) = delete;
  Win32ClipboardText& operator=(const Win32ClipboardText&) = delete;

  Text GetText() override;
  void Clear() override;
  void SetText(Text text) override;
  bool LeftEmpty() const override { return left_empty_; }

 private:
  // Below the edge (the three operations), which names the operation of a
  // Failure thrown here.
  HWND__* Window();
  Text ReadText() const;
  void CheckUnchanged();
  void Write(TextView text);

  HWND__* window_ = nullptr;
  // What GetText read, and the sequence number the next write must still
  // find: GetText's, then that of the run's own Clear. None before a read.
  Text read_;
  std::optional<unsigned long> sequence_;
  bool left_empty_ = false;
};

}  // namespace quillmore

#endif  // QUILLMORE_CLIPBOARD_WIN32_CLIPBOARD_TEXT_H_
