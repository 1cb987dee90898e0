// How both Linux backends fail: an Error naming the interface and the
// operation that was being done.
#ifndef QUILLMORE_CLIPBOARD_LINUX_FAIL_H_
#define QUILLMORE_CLIPBOARD_LINUX_FAIL_H_

#include <string>
#include <utility>

#include "base/error.h"
#include "base/operation.h"

namespace quillmore::linux_clipboard {

inline constexpr char kInterface[] = "ClipboardText";

[[noreturn]] inline void Fail(StatusCode code, Operation operation,
                              std::string cause) {
  throw Error(code, kInterface, operation, std::move(cause));
}

}  // namespace quillmore::linux_clipboard

#endif  // QUILLMORE_CLIPBOARD_LINUX_FAIL_H_
