// Binary standard input and output for the filter, a piece at a time. Each
// platform has its own implementation file, straight on the system's
// descriptors or handles, below any C run-time text mode: nothing here is
// converted, so there is no mode to set first.
#ifndef QUILLMORE_RUN_STDIO_H_
#define QUILLMORE_RUN_STDIO_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace quillmore {

enum class StreamResult {
  kOk,
  // Reading: the input has ended.
  kEnd,
  // Writing: the reader has gone (EPIPE). Not worth a message: a filter
  // whose reader has stopped reading just stops too.
  kClosed,
  // A failure, said in *error.
  kFailed,
};

// Reads what standard input has, at most capacity bytes, waiting only until
// there is something: a pipe's partial line is returned as it comes. kOk
// with *got > 0, kEnd, or kFailed.
StreamResult ReadInput(char* buffer, std::size_t capacity, std::size_t* got,
                       std::string* error);
// Writes all of data to standard output.
StreamResult WriteOutput(std::string_view data, std::string* error);

}  // namespace quillmore

#endif  // QUILLMORE_RUN_STDIO_H_
