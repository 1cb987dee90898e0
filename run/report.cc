#include "run/report.h"

#include <cstdio>
#include <string_view>

namespace quillmore {
namespace {

// What the user was trying to have done when the operation failed, in words.
std::string_view Goal(std::string_view operation) {
  if (operation == "GetText") return "cannot read the clipboard";
  if (operation == "Clear") return "cannot empty the clipboard";
  if (operation == "SetText") return "cannot write the clipboard";
  if (operation == "Create" || operation == "Pattern" ||
      operation == "Global" || operation == "IgnoreCase" ||
      operation == "Replace") {
    return "cannot lay out the text";
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
  line += error.cause().empty() ? "unknown failure" : error.cause();
  line += " (" + error.operation() + ", status " + code + ")";
  switch (error.restore()) {
    case Error::Restore::kNotAttempted:
      break;
    case Error::Restore::kRestored:
      line += "; the original text was put back on the clipboard";
      break;
    case Error::Restore::kFailed:
      line += "; the original text could not be put back either";
      if (!error.restore_cause().empty())
        line += " (" + error.restore_cause() + ")";
      line += ", and the clipboard is empty";
      break;
  }
  return line;
}

}  // namespace quillmore
