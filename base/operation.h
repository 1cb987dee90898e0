// The operations a failure can name. An enum rather than strings, so the
// report's choice of words cannot drift from what the backends throw.
#ifndef QUILLMORE_BASE_OPERATION_H_
#define QUILLMORE_BASE_OPERATION_H_

namespace quillmore {

enum class Operation {
  // The clipboard's three operations.
  kGetText,
  kClear,
  kSetText,
  // The pattern engine's settings and its one method.
  kPattern,
  kGlobal,
  kIgnoreCase,
  kReplace,
  // The run itself, for a failure that belongs to no single call (memory).
  kRun,
};

// The published name, as the report shows it.
constexpr const char* OperationName(Operation operation) {
  switch (operation) {
    case Operation::kGetText:
      return "GetText";
    case Operation::kClear:
      return "Clear";
    case Operation::kSetText:
      return "SetText";
    case Operation::kPattern:
      return "Pattern";
    case Operation::kGlobal:
      return "Global";
    case Operation::kIgnoreCase:
      return "IgnoreCase";
    case Operation::kReplace:
      return "Replace";
    case Operation::kRun:
      return "Run";
  }
  return "Run";
}

}  // namespace quillmore

#endif  // QUILLMORE_BASE_OPERATION_H_
