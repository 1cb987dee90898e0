// The event loops' clock and deadlines, the same for both Linux backends:
// every wait on another program has one, because that program may hang.
#ifndef QUILLMORE_CLIPBOARD_LINUX_DEADLINES_H_
#define QUILLMORE_CLIPBOARD_LINUX_DEADLINES_H_

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstddef>
#include <string>

namespace quillmore::linux_clipboard {

using Clock = std::chrono::steady_clock;

// How long another program may take to answer when we read: the owner of
// the clipboard to start, and to send each next piece of the text; also
// each round trip to the display server.
inline constexpr std::chrono::milliseconds kAnswerTimeout{2000};
// A whole read of the clipboard may take kReadTimeout, and kReadTimePerMiB
// more for each MiB received so far, up to kMaxTextSize: an owner that
// trickles or floods the text fails the read instead of holding it.
inline constexpr std::chrono::milliseconds kReadTimeout{3000};
inline constexpr std::chrono::milliseconds kReadTimePerMiB{100};
inline constexpr std::size_t kMaxTextSize = std::size_t{256} << 20;
// How long a reader of our text may make no progress before we give up on
// that reader (and only on it).
inline constexpr std::chrono::milliseconds kRequestorTimeout{5000};
// How long the server keeps finishing transfers after losing the clipboard.
inline constexpr std::chrono::milliseconds kFinishTimeout{5000};

// A limit as the messages give it ("2 s", "0.5 s"), so that none can
// drift from the constant.
inline std::string InSeconds(std::chrono::milliseconds limit) {
  const long long ms = limit.count();
  std::string text = std::to_string(ms / 1000);
  if (ms % 1000 != 0) text += "." + std::to_string(ms % 1000 / 100);
  return text + " s";
}

// Why an event loop's wait returned.
enum class Wake {
  kEvent,    // an event the caller waited for arrived
  kTimeout,  // the deadline passed
  kFd,       // the caller's extra descriptor became readable
  kStop,     // the caller's stop condition holds
  kBroken,   // the connection to the display server failed
};

// poll's timeout until wake_at: -1 for never, else whole milliseconds,
// rounded up so that the loop never wakes just before its deadline.
inline int PollTimeout(Clock::time_point now, Clock::time_point wake_at) {
  if (wake_at == Clock::time_point::max()) return -1;
  const auto ms =
      std::chrono::ceil<std::chrono::milliseconds>(wake_at - now).count();
  return static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX));
}

}  // namespace quillmore::linux_clipboard

#endif  // QUILLMORE_CLIPBOARD_LINUX_DEADLINES_H_
