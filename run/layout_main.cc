// quillmore-layout: the layout as a filter. Reads standard input as bytes
// and writes the laid-out bytes to standard output as it goes, nothing added
// or removed, in constant memory whatever the input's size. For editors
// (":%!quillmore-layout" in vim) and pipelines, including ones that never end
// (`tail -f queries.log | quillmore-layout`).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
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

int Fail(const std::string& message) {
  std::fprintf(stderr, "quillmore-layout: %s\n", message.c_str());
  return 1;
}

// Prints the help or the version; an output that cannot take it is a
// failure like any other.
int Print(const std::string& text) {
  if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
    return Fail(std::string("cannot write standard output: ") +
                std::strerror(errno));
  }
  return 0;
}

int Filter() {
  using Layout = quillmore::FusedLayout<char>;
  quillmore::Input input(kPiece);
  const std::unique_ptr<char[]> out(new char[Layout::OutputRoom(kPiece)]);
  Layout layout;
  std::string error;
  for (;;) {
    std::string_view piece;
    const quillmore::StreamResult read = input.Next(&piece, &error);
    if (read == quillmore::StreamResult::kFailed) return Fail(error);
    // Whatever a read brings is laid out and written before the next read
    // waits, except the few bytes that the next ones decide.
    const std::size_t size = read == quillmore::StreamResult::kEnd
                                 ? layout.Finish(out.get())
                                 : layout.Feed(piece, out.get());
    switch (quillmore::WriteOutput({out.get(), size}, &error)) {
      case quillmore::StreamResult::kOk:
        break;
      case quillmore::StreamResult::kClosed:
        return 1;  // The reader has gone: stop, as other filters do.
      default:
        return Fail(error);
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
      return Print(std::string("quillmore ") + quillmore::kVersionText + "\n");
    }
    // After --help or --version, the argument in the way is the next one.
    const char* unexpected = help || version ? argv[2] : argv[1];
    std::fprintf(stderr, "quillmore-layout: unexpected argument '%s'\n%s",
                 unexpected, kUsage);
    return 2;
  }
  try {
    return Filter();
  } catch (const std::bad_alloc&) {
    return Fail("not enough memory");
  }
}
