// Binary standard input and output for the filter, a piece at a time. Each
// platform has its own implementation file, straight on the system's
// descriptors or handles, below any C run-time text mode: nothing here is
// converted, so there is no mode to set first. Nothing here needs the C++
// run-time library either (no exceptions, no allocation but malloc's), so
// that the filter can do without it (see run/CMakeLists.txt).
#ifndef QUILLMORE_RUN_STDIO_H_
#define QUILLMORE_RUN_STDIO_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillmore {

enum class StreamResult {
  kOk,
  // Reading: the input has ended.
  kEnd,
  // Writing: the reader has gone (EPIPE). Not worth a message: a filter
  // whose reader has stopped reading just stops too.
  kClosed,
  // A failure, said in the StreamError.
  kFailed,
};

// Why reading or writing failed, as the line the filter prints.
struct StreamError {
  char text[256];
};

// Standard input, a piece at a time. Where it is a regular file, on POSIX
// systems, the pieces are views of the file mapped into memory a stretch at
// a time, so its bytes are not copied on the way in; otherwise each piece
// is what one read brings, waiting only until there is something: a pipe's
// partial line is returned as it comes.
class Input {
 public:
  Input() = default;
  ~Input();
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  // Makes ready for pieces of at most `piece` bytes. False where there is
  // not enough memory.
  bool Open(std::size_t piece);
  // kOk with the next piece (not empty, valid until the next call) in
  // *piece, kEnd, or kFailed.
  StreamResult Next(std::string_view* piece, StreamError* error);

 private:
  // Maps the next stretch of the file (POSIX). False where it cannot.
  bool MapNext();

  std::size_t piece_ = 0;
  // Where reads put what they bring (from malloc).
  char* buffer_ = nullptr;
  // The stretch of the file mapped now, and how much of it has been handed
  // out.
  char* map_ = nullptr;
  std::size_t map_size_ = 0;
  std::size_t map_used_ = 0;
  // Reading by mapping: where the next stretch begins and where it stops.
  bool mapping_ = false;
  std::uint64_t file_at_ = 0;
  std::uint64_t file_end_ = 0;
};

// Writes all of data to standard output.
StreamResult WriteOutput(std::string_view data, StreamError* error);

}  // namespace quillmore

#endif  // QUILLMORE_RUN_STDIO_H_
