#include <errno.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "run/stdio.h"

namespace quillmore {
namespace {

// How much of a file is mapped at once: enough that mapping costs little
// beside the layout, little enough to keep the filter's memory small.
constexpr std::size_t kStretch = std::size_t{1} << 19;

StreamResult Failed(const char* what, StreamError* error) {
  std::snprintf(error->text, sizeof error->text, "%s: %s", what,
                std::strerror(errno));
  return StreamResult::kFailed;
}

}  // namespace

namespace {

// A file cut short while the filter maps it makes the pages past its new
// end fault with SIGBUS: that is a failed read like any other, said in one
// line with status 1, not a crash. Only async-signal-safe calls here.
extern "C" void FailCutShort(int) {
  static const char kSaid[] =
      "quillmore-layout: cannot read standard input: the file was cut short "
      "while it was read\n";
  const ssize_t said = write(2, kSaid, sizeof kSaid - 1);
  (void)said;
  _exit(1);
}

}  // namespace

// A file is read through a mapping up to the size it had when the filter
// began, from where standard input stood; then the file position is put
// where reading would have left it, and reads take whatever the file has
// gained since. The mapping is private and read-only.
bool Input::Open(std::size_t piece) {
  piece_ = piece;
  buffer_ = static_cast<char*>(std::malloc(piece));
  if (buffer_ == nullptr) return false;
  struct stat status;
  if (fstat(0, &status) != 0 || !S_ISREG(status.st_mode)) return true;
  const off_t at = lseek(0, 0, SEEK_CUR);
  // A file no longer than a piece is as quickly read.
  if (at < 0 || status.st_size - at <= static_cast<off_t>(piece)) return true;
  struct sigaction cut_short {};
  cut_short.sa_handler = FailCutShort;
  sigemptyset(&cut_short.sa_mask);
  if (sigaction(SIGBUS, &cut_short, nullptr) != 0) return true;
  mapping_ = true;
  file_at_ = static_cast<std::uint64_t>(at);
  file_end_ = static_cast<std::uint64_t>(status.st_size);
  return true;
}

Input::~Input() {
  if (map_ != nullptr) munmap(map_, map_size_);
  std::free(buffer_);
}

bool Input::MapNext() {
  const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  const std::uint64_t start = file_at_ & ~(page - 1);
  const auto size = static_cast<std::size_t>(
      std::min<std::uint64_t>(kStretch, file_end_ - start));
  int flags = MAP_PRIVATE;
#if defined(MAP_POPULATE)
  // The pages are all read at once: one call maps them, where faulting
  // them in one by one would take one each.
  flags |= MAP_POPULATE;
#endif
  void* const mapped =
      mmap(nullptr, size, PROT_READ, flags, 0, static_cast<off_t>(start));
  if (mapped == MAP_FAILED) return false;
  map_ = static_cast<char*>(mapped);
  map_size_ = size;
  map_used_ = static_cast<std::size_t>(file_at_ - start);
  file_at_ = start + size;
  return true;
}

StreamResult Input::Next(std::string_view* piece, StreamError* error) {
  for (;;) {
    if (map_used_ < map_size_) {
      const std::size_t size = std::min(piece_, map_size_ - map_used_);
      *piece = {map_ + map_used_, size};
      map_used_ += size;
      return StreamResult::kOk;
    }
    if (map_ != nullptr) {
      munmap(map_, map_size_);
      map_ = nullptr;
      map_size_ = map_used_ = 0;
    }
    if (!mapping_) break;
    if (file_at_ < file_end_ && MapNext()) continue;
    // The file as it was is done, or cannot be mapped (no address space
    // left): on from here with reads.
    mapping_ = false;
    if (lseek(0, static_cast<off_t>(file_at_), SEEK_SET) < 0) {
      return Failed("cannot read standard input", error);
    }
  }
  for (;;) {
    const ssize_t n = read(0, buffer_, piece_);
    if (n > 0) {
      *piece = {buffer_, static_cast<std::size_t>(n)};
      return StreamResult::kOk;
    }
    if (n == 0) return StreamResult::kEnd;
    if (errno != EINTR) return Failed("cannot read standard input", error);
  }
}

StreamResult WriteOutput(std::string_view data, StreamError* error) {
  while (!data.empty()) {
    const ssize_t put = write(1, data.data(), data.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      if (errno == EPIPE) return StreamResult::kClosed;
      return Failed("cannot write standard output", error);
    }
    data.remove_prefix(static_cast<std::size_t>(put));
  }
  return StreamResult::kOk;
}

}  // namespace quillmore
