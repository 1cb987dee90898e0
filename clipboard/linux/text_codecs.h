// The text conversions a Linux clipboard needs: line breaks, and Latin-1,
// which X11's STRING (and the Wayland types named after it) is by definition.
#ifndef QUILLMORE_CLIPBOARD_LINUX_TEXT_CODECS_H_
#define QUILLMORE_CLIPBOARD_LINUX_TEXT_CODECS_H_

#include <string>
#include <string_view>

namespace quillmore::linux_clipboard {

// Linux programs end lines with LF; programs that write CR LF there show a
// stray CR at every line end. The layout makes CR LF, so each pair becomes
// LF on the way out. A lone CR is not a line break and stays. In place: the
// text only gets shorter, and a large one is not copied into fresh memory.
void ToLfLineBreaks(std::string* text);

// Whether text (UTF-8) can be offered as Latin-1: valid UTF-8 with no
// character above U+00FF.
bool RepresentableInLatin1(std::string_view text);
// Only for texts that RepresentableInLatin1 accepts.
std::string Utf8ToLatin1(std::string_view text);
std::string Latin1ToUtf8(std::string_view text);

}  // namespace quillmore::linux_clipboard

#endif  // QUILLMORE_CLIPBOARD_LINUX_TEXT_CODECS_H_
