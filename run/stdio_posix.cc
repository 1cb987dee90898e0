#include <errno.h>
#include <unistd.h>

#include <cstring>

#include "run/stdio.h"

namespace quillmore {

StreamResult ReadInput(char* buffer, std::size_t capacity, std::size_t* got,
                       std::string* error) {
  for (;;) {
    const ssize_t n = read(0, buffer, capacity);
    if (n > 0) {
      *got = static_cast<std::size_t>(n);
      return StreamResult::kOk;
    }
    if (n == 0) return StreamResult::kEnd;
    if (errno == EINTR) continue;
    *error = std::string("cannot read standard input: ") + std::strerror(errno);
    return StreamResult::kFailed;
  }
}

StreamResult WriteOutput(std::string_view data, std::string* error) {
  while (!data.empty()) {
    const ssize_t put = write(1, data.data(), data.size());
    if (put < 0) {
      if (errno == EINTR) continue;
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
