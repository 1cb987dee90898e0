// The single place where a failed run becomes what the user is told. The
// entry points only decide where the sentence goes (stderr, a message box).
#ifndef QUILLMORE_RUN_REPORT_H_
#define QUILLMORE_RUN_REPORT_H_

#include <new>
#include <string>
#include <utility>

#include "base/error.h"
#include "run/format_clipboard.h"

namespace quillmore {

// One line, for example:
// "quillmore: cannot read the clipboard: the owning program did not answer
// within 2 s (GetText, status 0x800705B4)".
std::string DescribeFailure(const Error& error);
// The same, followed by what became of the user's text.
std::string DescribeFailure(const WriteFailure& failure);

// Exit statuses of the program.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;

// Opens the clipboard, runs FormatClipboard once and turns any failure into
// one call of report(sentence). Returns the process exit status.
template <typename OpenClipboard, typename MakeEngine, typename Report>
int RunAndReport(OpenClipboard&& open_clipboard, MakeEngine&& make_engine,
                 Report&& report) {
  try {
    auto clipboard = open_clipboard();
    FormatClipboard(*clipboard, std::forward<MakeEngine>(make_engine));
    return kExitSuccess;
  } catch (const WriteFailure& failure) {
    report(DescribeFailure(failure));
  } catch (const Error& error) {
    report(DescribeFailure(error));
  } catch (const std::bad_alloc&) {
    report(DescribeFailure(Error(status::kOutOfMemory, Operation::kRun,
                                 "not enough memory for the text")));
  }
  return kExitFailure;
}

}  // namespace quillmore

#endif  // QUILLMORE_RUN_REPORT_H_
