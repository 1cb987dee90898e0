// The whole run: read the clipboard, lay the text out, empty the clipboard,
// write the result. It is a template over the clipboard and the engine so the
// real program and the failure-path tests run the very same code.
#ifndef QUILLMORE_RUN_FORMAT_CLIPBOARD_H_
#define QUILLMORE_RUN_FORMAT_CLIPBOARD_H_

#include <string>
#include <utility>

#include "clipboard/clipboard_text.h"
#include "layout/layout_sql.h"
#include "run/error.h"

namespace quillmore {

// Runs once, in order: GetText, create the engine, LayoutSql, Clear, SetText.
// The first failure ends the run by throwing its Error; nothing after the
// failing call runs and nothing is retried. Whatever the run holds (texts,
// engine) is released by the unwinding.
//
// One exception to "nothing after the failing call": when SetText fails, the
// clipboard has already been emptied and the user's text would be lost, so
// the run puts the source text back once and records on the error whether
// that worked.
template <typename Unit, typename MakeEngine>
void FormatClipboard(ClipboardText<Unit>& clipboard, MakeEngine&& make_engine) {
  const std::basic_string<Unit> source = clipboard.GetText();
  std::basic_string<Unit> result;
  {
    auto engine = make_engine();
    result = LayoutSql<Unit>(*engine, source);
  }  // The engine is done with before the clipboard is touched again.
  clipboard.Clear();
  try {
    clipboard.SetText(result);
  } catch (Error& error) {
    result = {};  // Free the result before making another copy of the source.
    try {
      clipboard.SetText(source);
      error.set_restore(Error::Restore::kRestored, {});
    } catch (const Error& again) {
      error.set_restore(Error::Restore::kFailed, again.cause());
    }
    throw;
  }
}

}  // namespace quillmore

#endif  // QUILLMORE_RUN_FORMAT_CLIPBOARD_H_
