#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "run/stdio.h"

namespace quillmore {
namespace {

// Straight to the Win32 handles: no C runtime in between, so there is no
// text mode to turn CR LF into LF or stop at Ctrl-Z, and the reason for a
// failure is Windows' own (the C runtime folds a closed pipe into EINVAL).
StreamResult Failed(const char* what, DWORD code, StreamError* error) {
  char reason[200] = {};
  DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reason, sizeof reason, nullptr);
  while (length > 0 &&
         (reason[length - 1] == '\n' || reason[length - 1] == '\r' ||
          reason[length - 1] == ' ' || reason[length - 1] == '.')) {
    reason[--length] = '\0';
  }
  if (length == 0) {
    std::snprintf(reason, sizeof reason, "error %lu",
                  static_cast<unsigned long>(code));
  }
  std::snprintf(error->text, sizeof error->text, "%s: %s", what, reason);
  return StreamResult::kFailed;
}

}  // namespace

bool Input::Open(std::size_t piece) {
  piece_ = piece;
  buffer_ = static_cast<char*>(std::malloc(piece));
  return buffer_ != nullptr;
}

Input::~Input() { std::free(buffer_); }

StreamResult Input::Next(std::string_view* piece, StreamError* error) {
  // ReadFile on a pipe returns what the pipe holds as soon as it holds
  // anything, like read(2).
  const DWORD size =
      piece_ < 0x40000000 ? static_cast<DWORD>(piece_) : DWORD{0x40000000};
  DWORD read = 0;
  if (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer_, size, &read, nullptr)) {
    if (read == 0) return StreamResult::kEnd;
    *piece = {buffer_, read};
    return StreamResult::kOk;
  }
  const DWORD code = GetLastError();
  // A pipe whose writer has gone reads as its end.
  if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) {
    return StreamResult::kEnd;
  }
  return Failed("cannot read standard input", code, error);
}

StreamResult WriteOutput(std::string_view data, StreamError* error) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  while (!data.empty()) {
    const DWORD size = data.size() < 0x40000000
                           ? static_cast<DWORD>(data.size())
                           : DWORD{0x40000000};
    DWORD put = 0;
    if (!WriteFile(out, data.data(), size, &put, nullptr)) {
      const DWORD code = GetLastError();
      // The reader has gone: Windows says ERROR_NO_DATA ("the pipe is being
      // closed"), Wine ERROR_PIPE_NOT_CONNECTED.
      if (code == ERROR_NO_DATA || code == ERROR_BROKEN_PIPE ||
          code == ERROR_PIPE_NOT_CONNECTED) {
        return StreamResult::kClosed;
      }
      return Failed("cannot write standard output", code, error);
    }
    data.remove_prefix(put);
  }
  return StreamResult::kOk;
}

}  // namespace quillmore
