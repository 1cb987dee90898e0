// The floor for a filter that holds its whole input: read all of standard
// input, then write it out. bench/compare measures quillmore-layout against
// it.
#include <unistd.h>

#include <cerrno>
#include <string>

int main() {
  std::string data(std::size_t{1} << 16, '\0');
  std::size_t size = 0;
  for (;;) {
    if (size == data.size()) data.resize(data.size() * 2);
    const ssize_t got = read(0, data.data() + size, data.size() - size);
    if (got == 0) break;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return 1;
    size += static_cast<std::size_t>(got);
  }
  for (std::size_t at = 0; at < size;) {
    const ssize_t put = write(1, data.data() + at, size - at);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return 1;
    at += static_cast<std::size_t>(put);
  }
  return 0;
}
