// Where a failed run's report goes on Windows: a message box.
#ifndef QUILLMORE_RUN_FAILURE_BOX_WINDOWS_H_
#define QUILLMORE_RUN_FAILURE_BOX_WINDOWS_H_

#include <string>

namespace quillmore {

// Shows sentence (UTF-8) in a message box titled "quillmore" with the error
// icon and an OK button, and returns when the user has closed it, or at once
// when there is no desktop to show it on.
void ShowFailureBox(const std::string& sentence);

}  // namespace quillmore

#endif  // QUILLMORE_RUN_FAILURE_BOX_WINDOWS_H_
