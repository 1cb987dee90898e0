#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "run/stdio.h"

namespace quillmore {

// The C runtime opens the standard streams in text mode, which would turn
// CR LF into LF and stop at Ctrl-Z; the filter must see and give bytes.
bool ReadAllInput(std::string* data, std::string* error) {
  _setmode(_fileno(stdin), _O_BINARY);
  data->clear();
  char chunk[1 << 16];
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, stdin);
    data->append(chunk, got);
    if (got < sizeof chunk) break;
  }
  if (std::ferror(stdin)) {
    *error = "cannot read standard input";
    return false;
  }
  return true;
}

bool WriteAllOutput(std::string_view data, std::string* error) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (std::fwrite(data.data(), 1, data.size(), stdout) != data.size() ||
      std::fflush(stdout) != 0) {
    *error = "cannot write standard output";
    return false;
  }
  return true;
}

}  // namespace quillmore
