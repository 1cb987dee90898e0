// quillmore-layout: the layout as a filter. Reads standard input as bytes
// and writes the laid-out bytes to standard output as it goes, nothing added
// or removed, in constant memory whatever the input's size. For editors
// (":%!quillmore-layout" in vim) and pipelines, including ones that never end
// (`tail -f queries.log | quillmore-layout`).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "layout/fused_layout.h"
#include "run/stdio.h"
#include "run/version.h"

namespace {

constexpr char kUsage[] =
    "usage: quillmore-layout [--help | --version]\n"
    "Reads SQL on standard input and writes it laid out on standard output:\n"
    "a line break after every comma, and before WHERE, ORDER, AND, FROM and "
    "OR.\nLine breaks are CR LF. Every other byte passes through unchanged.\n";

// Each piece of input is at most this much; the output of one piece needs
// at most ten times as much room (every byte a comma).
constexpr std::size_t kPiece = std::size_t{1} << 17;

int Fail(const char* message) {
  std::fprintf(stderr, "quillmore-layout: %s\n", message);
  return 1;
}

// Prints the help or the version; an output that cannot take it is a
// failure like any other.
int Print(const char* text) {
  if (std::fputs(text, stdout) < 0 || std::fflush(stdout) != 0) {
    char message[128];
    std::snprintf(message, sizeof message, "cannot write standard output: %s",
                  std::strerror(errno));
    return Fail(message);
  }
  return 0;
}

// The output's room, from malloc like the rest of the filter's memory.
struct OutputBuffer {
  ~OutputBuffer() { std::free(units); }
  char* const units;
};

int Filter() {
  using Layout = quillmore::FusedLayout<char>;
  quillmore::Input input;
  const OutputBuffer out{
      static_cast<char*>(std::malloc(Layout::OutputRoom(kPiece)))};
  if (out.units == nullptr || !input.Open(kPiece)) {
    return Fail("not enough memory");
  }
  Layout layout;
  quillmore::StreamError error;
  for (;;) {
    std::string_view piece;
    const quillmore::StreamResult read = input.Next(&piece, &error);
    if (read == quillmore::StreamResult::kFailed) return Fail(error.text);
    // Whatever a read brings is laid out and written before the next read
    // waits, except the few bytes that the next ones decide.
    const std::size_t size = read == quillmore::StreamResult::kEnd
                                 ? layout.Finish(out.units)
                                 : layout.Feed(piece, out.units);
    switch (quillmore::WriteOutput({out.units, size}, &error)) {
      case quillmore::StreamResult::kOk:
        break;
      case quillmore::StreamResult::kClosed:
        return 1;  // The reader has gone: stop, as other filters do.
      default:
        return Fail(error.text);
    }
    if (read == quillmore::StreamResult::kEnd) return 0;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    const std::string_view arg = argv[1];
    const bool help = arg == "--help";
    const bool version = arg == "--version";
    if (argc == 2 && help) return Print(kUsage);
    if (argc == 2 && version) {
      char text[64];
      std::snprintf(text, sizeof text, "quillmore %s\n",
                    quillmore::kVersionText);
      return Print(text);
    }
    // After --help or --version, the argument in the way is the next one.
    const char* unexpected = help || version ? argv[2] : argv[1];
    std::fprintf(stderr, "quillmore-layout: unexpected argument '%s'\n%s",
                 unexpected, kUsage);
    return 2;
  }
  return Filter();
}
