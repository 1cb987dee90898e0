// Peak memory of one LayoutSql call on a 64 MB input, against the bound
// "input + twice the output + 16 MB". Prints figures; run it alone, since
// the peak of a process is all it can see.
#include <sys/resource.h>

#include <cstdio>
#include <string>

#include "bench/sql_input.h"
#include "layout/layout_sql.h"

namespace {

double PeakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // KiB on Linux.
}

}  // namespace

int main(int argc, char** argv) {
  const std::string kind = argc > 1 ? argv[1] : "realistic";
  constexpr std::size_t kSize = 64u << 20;
  std::string input = kind == "commas" ? quillmore::bench::Repeated(",", kSize)
                      : kind == "or" ? quillmore::bench::Repeated(" or", kSize)
                      : kind == "spaces"
                          ? quillmore::bench::Repeated(" ", kSize)
                          : quillmore::bench::RealisticSql(kSize);
  // Touch every page of the input so the baseline includes it.
  const double before = PeakMiB();
  quillmore::PatternEngine<char> engine;
  const std::string output = quillmore::LayoutSql<char>(engine, input);
  const double after = PeakMiB();
  const double in_mib = static_cast<double>(input.size()) / (1 << 20);
  const double out_mib = static_cast<double>(output.size()) / (1 << 20);
  const double bound = in_mib + 2 * out_mib + 16;
  // What the call itself added to the process's peak, plus the input it
  // was given; the program's own start-up memory is not the layout's.
  const double used = after - before + in_mib;
  std::printf(
      "%-9s input %.1f MiB, output %.1f MiB, input + call peak %.1f MiB, "
      "bound (input + 2 x output + 16 MiB) %.1f MiB: %s\n",
      kind.c_str(), in_mib, out_mib, used, bound,
      used <= bound ? "within" : "OVER");
  return used <= bound ? 0 : 1;
}
