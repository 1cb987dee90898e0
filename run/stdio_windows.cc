#include <windows.h>

#include <string>

#include "run/stdio.h"

namespace quillmore {
namespace {

// Straight to the Win32 handles: no C runtime in between, so there is no
// text mode to turn CR LF into LF or stop at Ctrl-Z, and the reason for a
// failure is Windows' own (the C runtime folds a closed pipe into EINVAL).
std::string Describe(const char* what, DWORD code) {
  char text[256] = {};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, text, sizeof text, nullptr);
  std::string reason(text, length);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                             reason.back() == ' ' || reason.back() == '.')) {
    reason.pop_back();
  }
  if (reason.empty()) reason = "error " + std::to_string(code);
  return std::string(what) + ": " + reason;
}

}  // namespace

struct Input::State {
  std::size_t piece;
  std::unique_ptr<char[]> buffer;
};

Input::Input(std::size_t piece)
    : state_(new State{piece, std::unique_ptr<char[]>(new char[piece])}) {}

Input::~Input() = default;

StreamResult Input::Next(std::string_view* piece, std::string* error) {
  char* const buffer = state_->buffer.get();
  const std::size_t capacity = state_->piece;
  // ReadFile on a pipe returns what the pipe holds as soon as it holds
  // anything, like read(2).
  const DWORD size =
      capacity < 0x40000000 ? static_cast<DWORD>(capacity) : DWORD{0x40000000};
  DWORD read = 0;
  if (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, size, &read, nullptr)) {
    if (read == 0) return StreamResult::kEnd;
    *piece = {buffer, read};
    return StreamResult::kOk;
  }
  const DWORD code = GetLastError();
  // A pipe whose writer has gone reads as its end.
  if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) {
    return StreamResult::kEnd;
  }
  *error = Describe("cannot read standard input", code);
  return StreamResult::kFailed;
}

StreamResult WriteOutput(std::string_view data, std::string* error) {
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
      *error = Describe("cannot write standard output", code);
      return StreamResult::kFailed;
    }
    data.remove_prefix(put);
  }
  return StreamResult::kOk;
}

}  // namespace quillmore
