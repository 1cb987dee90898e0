// Whole-stream binary standard input and output for the filter. Each
// platform has its own implementation file; nothing here is converted.
#ifndef QUILLMORE_RUN_STDIO_H_
#define QUILLMORE_RUN_STDIO_H_

#include <string>
#include <string_view>

namespace quillmore {

// Reads standard input to its end, byte for byte. On failure returns false
// and says why in *error.
bool ReadAllInput(std::string* data, std::string* error);
// Writes all of data to standard output. On failure returns false and says
// why in *error.
bool WriteAllOutput(std::string_view data, std::string* error);

}  // namespace quillmore

#endif  // QUILLMORE_RUN_STDIO_H_
