// The whole run: read the clipboard, lay the text out, empty the clipboard,
// write the result. It is a template over the clipboard and the engine so the
// real program and the failure-path tests run the very same code.
#ifndef QUILLMORE_RUN_FORMAT_CLIPBOARD_H_
#define QUILLMORE_RUN_FORMAT_CLIPBOARD_H_

#include <string>
#include <utility>

#include "base/error.h"
#include "clipboard/clipboard_text.h"
#include "layout/layout_sql.h"

namespace quillmore {

// A failed write after the run's own Clear had emptied the clipboard, with
// what became of the user's text: the run tried to put the source back.
class WriteFailure : public Error {
 public:
  // kRestored: the source is on the clipboard again. kFailed: it could not
  // be put back, and the clipboard is left empty by the run. kOvertaken:
  // another program wrote the clipboard first, and keeps it.
  enum class Restore { kRestored, kFailed, kOvertaken };

  WriteFailure(const Error& error, Restore restore, std::string restore_cause)
      : Error(error),
        restore_(restore),
        restore_cause_(std::move(restore_cause)) {}

  Restore restore() const { return restore_; }
  const std::string& restore_cause() const { return restore_cause_; }

 private:
  Restore restore_;
  std::string restore_cause_;
};

// Runs once, in order: GetText, create the engine, LayoutSql, Clear, SetText.
// The first failure ends the run by throwing its Error; nothing after the
// failing call runs and nothing is retried. Whatever the run holds (texts,
// engine) is released by the unwinding.
//
// One exception to "nothing after the failing call": when SetText fails
// while the clipboard is empty by the run's own Clear (Windows), the user's
// text would be lost, so the run puts the source text back once and throws
// a WriteFailure that says whether that worked. Where the write replaces
// the clipboard at once (X11, Wayland), or another program has written the
// clipboard since the Clear, a failed write leaves the clipboard as it was
// or with that program's newer copy: putting the source back would
// overwrite that copy, so the write's Error goes out as it is. The putting
// back is itself such a write, so it too leaves a newer copy alone.
template <typename Unit, typename MakeEngine>
void FormatClipboard(ClipboardText<Unit>& clipboard, MakeEngine&& make_engine) {
  std::basic_string<Unit> source = clipboard.GetText();
  std::basic_string<Unit> result;
  {
    auto engine = make_engine();
    result = LayoutSql<Unit>(*engine, source);
  }  // The engine is done with before the clipboard is touched again.
  clipboard.Clear();
  try {
    // The result is the clipboard's from here: a large text is not copied.
    clipboard.SetText(std::move(result));
  } catch (const Error& error) {
    if (!clipboard.LeftEmpty()) throw;
    // The source is given up the same way; the result went with the call.
    try {
      clipboard.SetText(std::move(source));
    } catch (const Error& again) {
      throw WriteFailure(error,
                         clipboard.LeftEmpty()
                             ? WriteFailure::Restore::kFailed
                             : WriteFailure::Restore::kOvertaken,
                         again.what());
    }
    throw WriteFailure(error, WriteFailure::Restore::kRestored, {});
  }
}

}  // namespace quillmore

#endif  // QUILLMORE_RUN_FORMAT_CLIPBOARD_H_
