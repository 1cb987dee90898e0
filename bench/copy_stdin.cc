// The floor for a filter that holds its whole input: read all of standard
// input, then write it out. bench/compare measures quillmore-layout against
// it.
#include <unistd.h>

#include <cerrno>
#include <string>

#include "bench/read_all.h"

int main() {
  std::string data;
  if (!quillmore::bench::ReadAllStdin(&data)) return 1;
  for (std::size_t at = 0; at < data.size();) {
    const ssize_t put = write(1, data.data() + at, data.size() - at);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return 1;
    at += static_cast<std::size_t>(put);
  }
  return 0;
}
