// The limits of one read of another program's text, and the failure for
// each way a read goes over them: the same on X11 and Wayland, whatever
// the protocol carrying the text.
#ifndef QUILLMORE_CLIPBOARD_LINUX_READ_LIMITS_H_
#define QUILLMORE_CLIPBOARD_LINUX_READ_LIMITS_H_

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <new>
#include <string>

#include "base/memory_advice.h"
#include "clipboard/linux/deadlines.h"
#include "clipboard/linux/fail.h"

namespace quillmore::linux_clipboard {

class ReadLimits {
 public:
  ReadLimits() : start_(Clock::now()), waiting_since_(start_) {}

  // A request went out, or a piece of the text came: the owner has
  // kAnswerTimeout from now for its next answer.
  void Waiting() { waiting_since_ = Clock::now(); }
  // When the wait for that answer ends, given received bytes so far.
  Clock::time_point Deadline(std::size_t received) const {
    return std::min(waiting_since_ + kAnswerTimeout, Whole(received));
  }
  // Fails the read whose wait ended at Deadline(received), saying which
  // limit the owner ran into.
  [[noreturn]] void FailTimedOut(std::size_t received) const {
    if (Clock::now() >= Whole(received)) {
      Fail(status::kTimeout,
           "the owning program sent only " + std::to_string(received) +
               " bytes of the text in " +
               InSeconds(std::chrono::duration_cast<std::chrono::milliseconds>(
                   Whole(received) - start_)));
    }
    Fail(status::kTimeout, received == 0
                               ? "the owning program did not answer within " +
                                     InSeconds(kAnswerTimeout)
                               : "the owning program stopped sending the "
                                 "text for " +
                                     InSeconds(kAnswerTimeout));
  }
  // Makes room in text for more bytes, failing if that would pass the cap.
  // A large text gets room for the largest at once: address space only,
  // whose pages cost nothing until written, and in huge pages then. It is
  // neither copied each time it doubles nor faulted in 4 KiB at a time.
  static void MakeRoom(std::string& text, std::size_t more) {
    CheckSize(text.size() + more);
    if (text.size() + more <= text.capacity() ||
        text.size() + more < kLargeText) {
      return;
    }
    try {
      text.reserve(kMaxTextSize);
      AdviseWholePages(text.data() + text.size(), text.capacity() - text.size(),
                       MemoryAdvice::kHugePages);
    } catch (const std::bad_alloc&) {
      // Only a saving: the text grows as strings do.
    }
  }
  // Fails a text that would be size bytes, if that is over the cap: asked
  // before the text grows, since growing past it could double the memory.
  static void CheckSize(std::size_t size) {
    if (size > kMaxTextSize) {
      Fail(status::kOutOfMemory, "the text on the clipboard is larger than " +
                                     std::to_string(kMaxTextSize >> 20) +
                                     " MiB, more than quillmore lays out");
    }
  }

 private:
  // A whole read may take kReadTimeout, and kReadTimePerMiB more for each
  // MiB received so far.
  Clock::time_point Whole(std::size_t received) const {
    return start_ + kReadTimeout +
           kReadTimePerMiB * static_cast<int>(received >> 20);
  }

  // Where a text is large enough for MakeRoom to reserve the most.
  static constexpr std::size_t kLargeText = std::size_t{1} << 20;

  Clock::time_point start_;
  Clock::time_point waiting_since_;
};

}  // namespace quillmore::linux_clipboard

#endif  // QUILLMORE_CLIPBOARD_LINUX_READ_LIMITS_H_
