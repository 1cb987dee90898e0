// The five layout rules run by PCRE2 with its JIT, each over the whole text
// as the rule chain does: the engine a user would otherwise reach for.
// Reads all of standard input, writes the result. A peer of our own, since
// no packaged tool runs PCRE2-JIT substitutions over a stream; bench/compare
// times quillmore-layout against it and checks that the outputs agree.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstdio>
#include <string>

#include "bench/read_all.h"

namespace {

struct Rule {
  const char* pattern;
  bool ignore_case;
  const char* replacement;
};

constexpr Rule kRules[] = {
    {"[\\r\\n ]+", false, " "},
    {"(,)", false, "$1\r\n       "},
    {" ((where)|(order))", true, "\r\n$1"},
    {" ((and)|(from))", true, "\r\n  $1"},
    {" (or)", true, "\r\n   $1"},
};

bool Apply(const Rule& rule, const std::string& in, std::string* out) {
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* code = pcre2_compile(
      reinterpret_cast<PCRE2_SPTR>(rule.pattern), PCRE2_ZERO_TERMINATED,
      rule.ignore_case ? PCRE2_CASELESS : 0, &error, &offset, nullptr);
  if (code == nullptr || pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) != 0) {
    return false;
  }
  pcre2_match_data* match = pcre2_match_data_create_from_pattern(code, nullptr);
  out->resize(in.size() + in.size() / 4 + 64);
  int result = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    PCRE2_SIZE length = out->size();
    result = pcre2_substitute(
        code, reinterpret_cast<PCRE2_SPTR>(in.data()), in.size(), 0,
        PCRE2_SUBSTITUTE_GLOBAL | PCRE2_SUBSTITUTE_OVERFLOW_LENGTH, match,
        nullptr, reinterpret_cast<PCRE2_SPTR>(rule.replacement),
        PCRE2_ZERO_TERMINATED, reinterpret_cast<PCRE2_UCHAR*>(out->data()),
        &length);
    if (result == PCRE2_ERROR_NOMEMORY) {
      out->resize(length);  // The length it needs, counted.
      continue;
    }
    out->resize(length);
    break;
  }
  pcre2_match_data_free(match);
  pcre2_code_free(code);
  return result >= 0;
}

}  // namespace

int main() {
  std::string text;
  if (!quillmore::bench::ReadAllStdin(&text)) return 1;
  std::string next;
  for (const Rule& rule : kRules) {
    if (!Apply(rule, text, &next)) {
      std::fprintf(stderr, "pcre2_rules: rule '%s' failed\n", rule.pattern);
      return 1;
    }
    text.swap(next);
  }
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
                 std::fflush(stdout) == 0
             ? 0
             : 1;
}
