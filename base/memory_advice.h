// Advice to the system about how a stretch of memory will be used. Only a
// hint: nothing else changes where the system refuses it or has no such
// advice (on Windows every call does nothing).
#ifndef QUILLMORE_BASE_MEMORY_ADVICE_H_
#define QUILLMORE_BASE_MEMORY_ADVICE_H_

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace quillmore {

enum class MemoryAdvice {
  // Back the memory with huge pages, so its first writes take one page
  // fault per 2 MiB rather than per 4 KiB: on large texts the faults on
  // fresh memory cost as much as the work done in it.
  kHugePages,
  // Leave the memory out of a child made by fork, which would otherwise
  // share it copy-on-write with us.
  kDontFork,
  // Undo kDontFork.
  kDoFork,
};

// Gives advice for the whole pages inside [begin, begin + bytes) and for
// nothing else, since the pages at the edges may hold other data. Pages are
// the system's, or 2 MiB for kHugePages.
inline void AdviseWholePages(const void* begin, std::size_t bytes,
                             MemoryAdvice advice) noexcept {
#if defined(__linux__)
  std::uintptr_t page = 0;
  int how = 0;
  switch (advice) {
    case MemoryAdvice::kHugePages:
#if defined(MADV_HUGEPAGE)
      page = std::uintptr_t{1} << 21;
      how = MADV_HUGEPAGE;
#endif
      break;
    case MemoryAdvice::kDontFork:
    case MemoryAdvice::kDoFork:
      page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
      how = advice == MemoryAdvice::kDontFork ? MADV_DONTFORK : MADV_DOFORK;
      break;
  }
  if (page == 0) return;
  const auto start = reinterpret_cast<std::uintptr_t>(begin);
  const std::uintptr_t from = (start + page - 1) & ~(page - 1);
  const std::uintptr_t to = (start + bytes) & ~(page - 1);
  if (to > from) madvise(reinterpret_cast<void*>(from), to - from, how);
#else
  (void)begin;
  (void)bytes;
  (void)advice;
#endif
}

}  // namespace quillmore

#endif  // QUILLMORE_BASE_MEMORY_ADVICE_H_
