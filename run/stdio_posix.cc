#include <errno.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "run/stdio.h"

namespace quillmore {

namespace {

// How much of a file is mapped at once: enough that mapping costs little
// beside the layout, little enough to keep the filter's memory small.
constexpr std::size_t kStretch = std::size_t{1} << 18;

StreamResult ReadInto(char* buffer, std::size_t capacity, std::size_t* got,
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

}  // namespace

// A file is read through a mapping up to the size it had when the filter
// began, from where standard input stood; then the file position is put
// where reading would have left it, and reads take whatever the file has
// gained since. The mapping is private and read-only. A file cut short
// while the filter maps it ends the filter with SIGBUS, as it does other
// programs that map their input.
struct Input::State {
  std::size_t piece;
  std::unique_ptr<char[]> buffer;
  // The stretch mapped now, and how much of it has been handed out.
  char* map = nullptr;
  std::size_t map_size = 0;
  std::size_t map_used = 0;
  // Reading by mapping: where the next stretch begins and where it stops.
  bool mapping = false;
  std::uint64_t file_at = 0;
  std::uint64_t file_end = 0;

  bool MapNext() {
    const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    const std::uint64_t start = file_at & ~(page - 1);
    const auto size = static_cast<std::size_t>(
        std::min<std::uint64_t>(kStretch, file_end - start));
    int flags = MAP_PRIVATE;
#if defined(MAP_POPULATE)
    // The pages are all read at once: one call maps them, where faulting
    // them in one by one would take one each.
    flags |= MAP_POPULATE;
#endif
    void* const mapped =
        mmap(nullptr, size, PROT_READ, flags, 0, static_cast<off_t>(start));
    if (mapped == MAP_FAILED) return false;
    map = static_cast<char*>(mapped);
    map_size = size;
    map_used = static_cast<std::size_t>(file_at - start);
    file_at = start + size;
    return true;
  }
};

Input::Input(std::size_t piece)
    : state_(new State{piece, std::unique_ptr<char[]>(new char[piece])}) {
  struct stat status;
  if (fstat(0, &status) != 0 || !S_ISREG(status.st_mode)) return;
  const off_t at = lseek(0, 0, SEEK_CUR);
  // A file no longer than a piece is as quickly read.
  if (at < 0 || status.st_size - at <= static_cast<off_t>(piece)) return;
  state_->mapping = true;
  state_->file_at = static_cast<std::uint64_t>(at);
  state_->file_end = static_cast<std::uint64_t>(status.st_size);
}

Input::~Input() {
  if (state_->map != nullptr) munmap(state_->map, state_->map_size);
}

StreamResult Input::Next(std::string_view* piece, std::string* error) {
  State& s = *state_;
  for (;;) {
    if (s.map_used < s.map_size) {
      const std::size_t size = std::min(s.piece, s.map_size - s.map_used);
      *piece = {s.map + s.map_used, size};
      s.map_used += size;
      return StreamResult::kOk;
    }
    if (s.map != nullptr) {
      munmap(s.map, s.map_size);
      s.map = nullptr;
      s.map_size = s.map_used = 0;
    }
    if (!s.mapping) break;
    if (s.file_at < s.file_end && s.MapNext()) continue;
    // The file as it was is done, or cannot be mapped (no address space
    // left): on from here with reads.
    s.mapping = false;
    if (lseek(0, static_cast<off_t>(s.file_at), SEEK_SET) < 0) {
      *error =
          std::string("cannot read standard input: ") + std::strerror(errno);
      return StreamResult::kFailed;
    }
  }
  std::size_t got = 0;
  const StreamResult result = ReadInto(s.buffer.get(), s.piece, &got, error);
  *piece = {s.buffer.get(), got};
  return result;
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
