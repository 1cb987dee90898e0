// Status codes shared by every layer. A 32-bit result code in the Windows
// HRESULT convention: negative is a failure, zero or positive is success. The
// same codes are used on every platform so that a report reads the same
// everywhere.
#ifndef QUILLMORE_BASE_STATUS_H_
#define QUILLMORE_BASE_STATUS_H_

#include <cstdint>
#include <string>

namespace quillmore {

using StatusCode = std::int32_t;

namespace status {
inline constexpr StatusCode kOk = 0;
inline constexpr StatusCode kFail = static_cast<StatusCode>(0x80004005u);
inline constexpr StatusCode kInvalidArg = static_cast<StatusCode>(0x80070057u);
inline constexpr StatusCode kOutOfMemory = static_cast<StatusCode>(0x8007000Eu);
inline constexpr StatusCode kAccessDenied =
    static_cast<StatusCode>(0x80070005u);
// HRESULT_FROM_WIN32(ERROR_TIMEOUT).
inline constexpr StatusCode kTimeout = static_cast<StatusCode>(0x800705B4u);

constexpr bool Failed(StatusCode code) { return code < 0; }
}  // namespace status

// The result of an operation: a code and, for a failure, a sentence that says
// what went wrong in words a user can act on.
struct Status {
  StatusCode code = status::kOk;
  std::string cause;

  static Status Ok() { return {}; }
  bool ok() const { return !status::Failed(code); }
};

}  // namespace quillmore

#endif  // QUILLMORE_BASE_STATUS_H_
