// Reads all of standard input into memory, as the peers that hold their
// whole input do (copy_stdin, pcre2_rules).
#ifndef QUILLMORE_BENCH_READ_ALL_H_
#define QUILLMORE_BENCH_READ_ALL_H_

#include <unistd.h>

#include <cerrno>
#include <string>

namespace quillmore::bench {

inline bool ReadAllStdin(std::string* text) {
  text->assign(std::size_t{1} << 16, '\0');
  std::size_t size = 0;
  for (;;) {
    if (size == text->size()) text->resize(text->size() * 2);
    const ssize_t got = read(0, text->data() + size, text->size() - size);
    if (got == 0) break;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    size += static_cast<std::size_t>(got);
  }
  text->resize(size);
  return true;
}

}  // namespace quillmore::bench

#endif  // QUILLMORE_BENCH_READ_ALL_H_
