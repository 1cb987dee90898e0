#include "run/report.h"

#include <cstdio>
#include <string_view>

namespace quillmore {
namespace {

// What the user was trying to have done when the operation failed, in words.
std::string_view Goal(Operation operation) {
  switch (operation) {
    case Operation::kGetText:
      return "cannot read the clipboard";
    case Operation::kClear:
      return "cannot empty the clipboard";
    case Operation::kSetText:
      return "cannot write the clipboard";
    case Operation::kPattern:
    case Operation::kGlobal:
    case Operation::kIgnoreCase:
    case Operation::kReplace:
      return "cannot lay out the text";
    case Operation::kRun:
      break;
  }
  return "cannot format the clipboard";
}

}  // namespace

std::string DescribeFailure(const Error& error) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X",
                static_cast<unsigned>(error.code()));
  std::string line = "quillmore: ";
  line += Goal(error.operation());
  line += ": ";
  line += *error.what() == '\0' ? "unknown failure" : error.what();
  line += " (";
  line += OperationName(error.operation());
  line += ", status ";
  line += code;
  line += ")";
  return line;
}

std::string DescribeFailure(const WriteFailure& failure) {
  std::string line = DescribeFailure(static_cast<const Error&>(failure));
  switch (failure.restore()) {
    case WriteFailure::Restore::kRestored:
      line += "; the original text was put back on the clipboard";
      break;
    case WriteFailure::Restore::kFailed:
      line += "; the original text could not be put back either";
      if (!failure.restore_cause().empty())
        line += " (" + failure.restore_cause() + ")";
      line += ", and the clipboard is left empty";
      break;
    case WriteFailure::Restore::kOvertaken:
      line +=
          "; the original text was not put back: another program wrote the "
          "clipboard first, and its copy stays";
      break;
  }
  return line;
}

}  // namespace quillmore
