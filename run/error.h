// The one error type of a run. Every component that calls into something that
// can fail (the clipboard, the pattern engine) turns a failing status into an
// Error right after the call, so the report can say which interface and which
// operation failed and with what code, without guessing after the fact.
#ifndef QUILLMORE_RUN_ERROR_H_
#define QUILLMORE_RUN_ERROR_H_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace quillmore {

// A 32-bit result code in the Windows HRESULT convention: negative is a
// failure, zero or positive is success. The same codes are used on every
// platform so that a report reads the same everywhere.
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
// HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED).
inline constexpr StatusCode kNotSupported =
    static_cast<StatusCode>(0x80070032u);

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

class Error : public std::runtime_error {
 public:
  Error(StatusCode code, std::string interface_name, std::string operation,
        std::string cause)
      : std::runtime_error(cause),
        code_(code),
        interface_name_(std::move(interface_name)),
        operation_(std::move(operation)),
        cause_(std::move(cause)) {}

  // Whether the user's original text was put back after a failed write.
  enum class Restore { kNotAttempted, kRestored, kFailed };

  StatusCode code() const { return code_; }
  const std::string& interface_name() const { return interface_name_; }
  const std::string& operation() const { return operation_; }
  const std::string& cause() const { return cause_; }
  Restore restore() const { return restore_; }
  const std::string& restore_cause() const { return restore_cause_; }
  void set_restore(Restore restore, std::string cause) {
    restore_ = restore;
    restore_cause_ = std::move(cause);
  }

 private:
  StatusCode code_;
  std::string interface_name_;
  std::string operation_;
  std::string cause_;
  Restore restore_ = Restore::kNotAttempted;
  std::string restore_cause_;
};

// The status check that follows every call: a failure becomes an Error that
// names where it happened.
inline void Check(const Status& status, const char* interface_name,
                  const char* operation) {
  if (!status.ok()) {
    throw Error(status.code, interface_name, operation, status.cause);
  }
}

}  // namespace quillmore

#endif  // QUILLMORE_RUN_ERROR_H_
