// libFuzzer target. An odd first byte: the rest is a text, and every layout
// property must hold. An even one: the next bytes spell a pattern, the rest
// is a text, and the engine must replace as the oracle does in the mode the
// first byte gives.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/layout/oracles.h"

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
    // The whole rest for the engine; OracleDisagreement gives the oracle
    // only as much as its backtracking can take within the timeout.
    const std::string text(reinterpret_cast<const char*>(data + at), size - at);
    failure = quillmore::OracleDisagreement(pattern, mode, text);
  }
  if (!failure.empty()) {
    std::fprintf(stderr, "layout_fuzzer: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
