// The one error type. Every component that calls into something that can
// fail (the clipboard, the pattern engine) turns a failing status into an
// Error right after the call, so the report can say which interface and which
// operation failed and with what code, without guessing after the fact.
#ifndef QUILLMORE_BASE_ERROR_H_
#define QUILLMORE_BASE_ERROR_H_

#include <stdexcept>
#include <string>
#include <utility>

#include "base/operation.h"
#include "base/status.h"

namespace quillmore {

class Error : public std::runtime_error {
 public:
  Error(StatusCode code, std::string interface_name, Operation operation,
        std::string cause)
      : std::runtime_error(cause),
        code_(code),
        interface_name_(std::move(interface_name)),
        operation_(operation),
        cause_(std::move(cause)) {}

  StatusCode code() const { return code_; }
  const std::string& interface_name() const { return interface_name_; }
  Operation operation() const { return operation_; }
  const std::string& cause() const { return cause_; }

 private:
  StatusCode code_;
  std::string interface_name_;
  Operation operation_;
  std::string cause_;
};

// The status check that follows every call: a failure becomes an Error that
// names where it happened.
inline void Check(const Status& status, const char* interface_name,
                  Operation operation) {
  if (!status.ok()) {
    throw Error(status.code, interface_name, operation, status.cause);
  }
}

}  // namespace quillmore

#endif  // QUILLMORE_BASE_ERROR_H_
