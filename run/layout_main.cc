// quillmore-layout: the layout as a filter. Reads all of standard input as
// bytes, writes the laid-out bytes to standard output, nothing added or
// removed. For editors (":%!quillmore-layout" in vim) and pipelines.
#include <cstdio>
#include <string>
#include <string_view>

#include "layout/layout_sql.h"
#include "run/stdio.h"
#include "run/version.h"

namespace {

constexpr char kUsage[] =
    "usage: quillmore-layout [--help | --version]\n"
    "Reads SQL on standard input and writes it laid out on standard output:\n"
    "a line break after every comma, and before WHERE, ORDER, AND, FROM and "
    "OR.\nLine breaks are CR LF. Every other byte passes through unchanged.\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "quillmore-layout: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    const std::string_view arg = argv[1];
    if (argc == 2 && arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (argc == 2 && arg == "--version") {
      std::printf("quillmore %s\n", quillmore::kVersionText);
      return 0;
    }
    std::fprintf(stderr, "quillmore-layout: unexpected argument '%s'\n%s",
                 argv[1], kUsage);
    return 2;
  }
  std::string input;
  std::string error;
  if (!quillmore::ReadAllInput(&input, &error)) return Fail(error);
  std::string output;
  try {
    quillmore::PatternEngine<char> engine;
    output = quillmore::LayoutSql<char>(engine, input);
  } catch (const quillmore::Error& failure) {
    return Fail(failure.cause());
  }
  input = {};  // Not needed any more; give the memory back before writing.
  if (!quillmore::WriteAllOutput(output, &error)) return Fail(error);
  return 0;
}
