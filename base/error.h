// The error types. Below an interface, a call that fails throws a Failure
// right where it failed: a status code and a sentence a user can act on.
// The interface's edge, which knows which of its operations is running,
// makes that an Error, so the report can say which operation failed and
// with what code without the layers below carrying the operation along.
#ifndef QUILLMORE_BASE_ERROR_H_
#define QUILLMORE_BASE_ERROR_H_

#include <stdexcept>
#include <string>

#include "base/operation.h"
#include "base/status.h"

namespace quillmore {

// What went wrong, not yet which operation it failed.
class Failure : public std::runtime_error {
 public:
  Failure(StatusCode code, const std::string& cause)
      : std::runtime_error(cause), code_(code) {}

  StatusCode code() const { return code_; }

 private:
  StatusCode code_;
};

// A failed operation, as the report tells it; what() is the cause.
class Error : public std::runtime_error {
 public:
  Error(StatusCode code, Operation operation, const std::string& cause)
      : std::runtime_error(cause), code_(code), operation_(operation) {}

  StatusCode code() const { return code_; }
  Operation operation() const { return operation_; }

 private:
  StatusCode code_;
  Operation operation_;
};

// The status check that follows every call of an interface that reports by
// status: a failure becomes an Error of the operation called.
inline void Check(const Status& status, Operation operation) {
  if (!status.ok()) throw Error(status.code, operation, status.cause);
}

// An interface's edge: runs step as operation, and makes a Failure in it
// that operation's Error.
template <typename Step>
decltype(auto) AsOperation(Operation operation, Step&& step) {
  try {
    return step();
  } catch (const Failure& failure) {
    throw Error(failure.code(), operation, failure.what());
  }
}

}  // namespace quillmore

#endif  // QUILLMORE_BASE_ERROR_H_
