// The readers of our text still being sent it, each with the time it last
// took some: one that takes nothing for kRequestorTimeout is given up (and
// only it), so a stuck reader never holds up the others or the server.
#ifndef QUILLMORE_CLIPBOARD_LINUX_TRANSFERS_H_
#define QUILLMORE_CLIPBOARD_LINUX_TRANSFERS_H_

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "clipboard/linux/deadlines.h"

namespace quillmore::linux_clipboard {

// What every transfer has; each backend adds where the text goes.
struct TransferProgress {
  std::shared_ptr<const std::string> data;
  std::size_t offset = 0;
  Clock::time_point last_progress = Clock::now();

  std::size_t left() const { return data->size() - offset; }
  void Sent(std::size_t n) {
    offset += n;
    last_progress = Clock::now();
  }
};

template <typename Transfer>
class Transfers {
 public:
  using List = std::vector<Transfer>;

  List& list() { return list_; }
  const List& list() const { return list_; }
  bool empty() const { return list_.empty(); }
  void clear() { list_.clear(); }

  // When the loop must wake at the latest: the deadline, or a transfer's
  // expiry before it.
  Clock::time_point WakeAt(Clock::time_point deadline) const {
    if (list_.empty()) return deadline;
    return std::min(deadline, oldest_ + kRequestorTimeout);
  }

  // Ends the transfers that made no progress for too long, each through
  // end(iterator), which erases it (and only it: the last may take its
  // place) and does what else its backend needs. Looks at them all only
  // when the oldest progress known could have expired, so that a loop over
  // many transfers costs a look at each per expiry, not per wake.
  template <typename End>
  void Expire(Clock::time_point now, End&& end) {
    if (list_.empty() || now - oldest_ < kRequestorTimeout) return;
    Clock::time_point oldest = now;
    for (std::size_t i = 0; i < list_.size();) {
      if (now - list_[i].last_progress >= kRequestorTimeout) {
        end(list_.begin() + i);
      } else {
        oldest = std::min(oldest, list_[i].last_progress);
        ++i;
      }
    }
    oldest_ = oldest;
  }

 private:
  List list_;
  // No transfer made its last progress before this: a lower bound, since
  // progress only moves on and new transfers start later. Wakes early at
  // worst, which only brings the next look forward.
  Clock::time_point oldest_ = Clock::now();
};

}  // namespace quillmore::linux_clipboard

#endif  // QUILLMORE_CLIPBOARD_LINUX_TRANSFERS_H_
