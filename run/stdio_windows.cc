#include <errno.h>
#include <fcntl.h>
#include <io.h>

#include <climits>
#include <cstring>

#include "run/stdio.h"

namespace quillmore {

// The C runtime opens the standard streams in text mode, which would turn
// CR LF into LF and stop at Ctrl-Z; the filter must see and give bytes.
void UseBinaryStdio() {
  _setmode(0, _O_BINARY);
  _setmode(1, _O_BINARY);
}

// _read on a pipe returns what the pipe holds as soon as it holds anything,
// like read(2), where fread would wait to fill the whole buffer.
StreamResult ReadInput(char* buffer, std::size_t capacity, std::size_t* got,
                       std::string* error) {
  const unsigned size =
      static_cast<unsigned>(capacity < INT_MAX ? capacity : INT_MAX);
  const int n = _read(0, buffer, size);
  if (n > 0) {
    *got = static_cast<std::size_t>(n);
    return StreamResult::kOk;
  }
  // A pipe whose writer has gone reads as its end.
  if (n == 0 || errno == EPIPE) return StreamResult::kEnd;
  *error = std::string("cannot read standard input: ") + std::strerror(errno);
  return StreamResult::kFailed;
}

StreamResult WriteOutput(std::string_view data, std::string* error) {
  while (!data.empty()) {
    const unsigned size =
        static_cast<unsigned>(data.size() < INT_MAX ? data.size() : INT_MAX);
    const int put = _write(1, data.data(), size);
    if (put < 0) {
      // The C runtime reports a pipe whose reader has gone (Windows'
      // ERROR_NO_DATA and ERROR_BROKEN_PIPE) as EPIPE.
      if (errno == EPIPE) return StreamResult::kClosed;
      *error =
          std::string("cannot write standard output: ") + std::strerror(errno);
      return StreamResult::kFailed;
    }
    data.remove_prefix(static_cast<std::size_t>(put));
  }
  return StreamResult::kOk;
}

}  // namespace quillmore
