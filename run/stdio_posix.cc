#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "run/stdio.h"

namespace quillmore {

bool ReadAllInput(std::string* data, std::string* error) {
  data->clear();
  // A regular file tells its size, so the text is read into one allocation
  // of the right size instead of a growing one (which would briefly need the
  // old and the new buffer at once).
  struct stat info;
  std::size_t capacity = 1 << 16;
  if (fstat(0, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    capacity = static_cast<std::size_t>(info.st_size) + 1;
  }
  std::size_t size = 0;
  data->resize(capacity);
  for (;;) {
    if (size == data->size()) data->resize(data->size() * 2);
    const ssize_t got = read(0, data->data() + size, data->size() - size);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      *error =
          std::string("cannot read standard input: ") + std::strerror(errno);
      return false;
    }
    size += static_cast<std::size_t>(got);
  }
  data->resize(size);
  return true;
}

bool WriteAllOutput(std::string_view data, std::string* error) {
  while (!data.empty()) {
    const ssize_t put = write(1, data.data(), data.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      *error =
          std::string("cannot write standard output: ") + std::strerror(errno);
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

}  // namespace quillmore
