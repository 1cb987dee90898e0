// Binary standard input and output for the filter, a piece at a time. Each
// platform has its own implementation file, straight on the system's
// descriptors or handles, below any C run-time text mode: nothing here is
// converted, so there is no mode to set first.
#ifndef QUILLMORE_RUN_STDIO_H_
#define QUILLMORE_RUN_STDIO_H_

#include <cstddef>
#include <memory>
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

// Standard input, a piece at a time. Where it is a regular file, on POSIX
// systems, the pieces are views of the file mapped into memory a stretch at
// a time, so its bytes are not copied on the way in; otherwise each piece
// is what one read brings, waiting only until there is something: a pipe's
// partial line is returned as it comes.
class Input {
 public:
  // piece: the most one piece holds.
  explicit Input(std::size_t piece);
  ~Input();
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  // kOk with the next piece (not empty, valid until the next call) in
  // *piece, kEnd, or kFailed.
  StreamResult Next(std::string_view* piece, std::string* error);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Writes all of data to standard output.
StreamResult WriteOutput(std::string_view data, std::string* error);

}  // namespace quillmore

#endif  // QUILLMORE_RUN_STDIO_H_
