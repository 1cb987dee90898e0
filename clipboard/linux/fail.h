// How both Linux backends fail: a Failure, with a status and a cause. Which
// operation it failed is added at the edge (linux_clipboard_text.cc).
#ifndef QUILLMORE_CLIPBOARD_LINUX_FAIL_H_
#define QUILLMORE_CLIPBOARD_LINUX_FAIL_H_

#include <string>

#include "base/error.h"

namespace quillmore::linux_clipboard {

[[noreturn]] inline void Fail(StatusCode code, const std::string& cause) {
  throw Failure(code, cause);
}

}  // namespace quillmore::linux_clipboard

#endif  // QUILLMORE_CLIPBOARD_LINUX_FAIL_H_
