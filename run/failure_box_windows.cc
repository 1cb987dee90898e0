#include "run/failure_box_windows.h"

#include <windows.h>

namespace quillmore {

// The program has no console, and a user who started it from a hotkey
// watches no output anyway; a box is what such a user will notice.
void ShowFailureBox(const std::string& sentence) {
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
  // The exit status says that the run failed whether or not the box could
  // be shown, so the box's own result is not needed.
  MessageBoxW(nullptr, text.c_str(), L"quillmore",
              MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

}  // namespace quillmore
