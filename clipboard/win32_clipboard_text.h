// The Windows clipboard's plain text (CF_UNICODETEXT), as UTF-16 code units
// exactly as the clipboard holds them.
#ifndef QUILLMORE_CLIPBOARD_WIN32_CLIPBOARD_TEXT_H_
#define QUILLMORE_CLIPBOARD_WIN32_CLIPBOARD_TEXT_H_

#include "clipboard/clipboard_text.h"

namespace quillmore {

// Holds nothing between calls: each operation opens the clipboard, makes its
// one change and closes it again, so other programs are kept waiting for as
// short a time as possible. An operation that finds the clipboard held open
// by another program fails at once; it neither waits nor retries.
//
// Errors carry the interface name "ClipboardText", the operation name and the
// HRESULT of the failing Win32 call.
class Win32ClipboardText final : public ClipboardText<char16_t> {
 public:
  Text GetText() override;
  void Clear() override;
  void SetText(TextView text) override;
  bool LeftEmpty() const override { return left_empty_; }

 private:
  bool left_empty_ = false;
};

}  // namespace quillmore

#endif  // QUILLMORE_CLIPBOARD_WIN32_CLIPBOARD_TEXT_H_
