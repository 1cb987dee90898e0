// libFuzzer target. An odd first byte: the rest is a text, and every layout
// property must hold. An even one: the next bytes spell a pattern, the rest
// is a text, and the engine must replace as the oracle does in the code
// unit, modes and template the first byte chooses.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/layout/layout_properties.h"
#include "tests/layout/regex_oracle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  std::string failure;
  if (mode & 1) {
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    failure = quillmore::LayoutPropertyViolation(text, size);
  } else {
    std::size_t at = 1;
    quillmore::Speller speller{
        [&](int n) { return at < size ? data[at++] % n : 0; }};
    const std::string pattern = speller.Pattern();
    const std::string text(
        reinterpret_cast<const char*>(data + at),
        std::min(size - at, quillmore::OracleTextLimit(pattern)));
    const bool ignore_case = mode & 2, global = !(mode & 4);
    const std::string tmpl = (mode & 8) ? "<$1>" : "#";
    if (mode & 16) {
      std::u16string wide;
      for (unsigned char c : text) wide += c == 0xFE ? char16_t{0xD800} : c;
      failure = quillmore::OracleDisagreement<char16_t, wchar_t>(
          pattern, ignore_case, global, tmpl, wide);
    } else {
      failure = quillmore::OracleDisagreement<char, char>(pattern, ignore_case,
                                                          global, tmpl, text);
    }
  }
  if (!failure.empty()) {
    std::fprintf(stderr, "layout_fuzzer: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
