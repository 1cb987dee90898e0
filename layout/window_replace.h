// The replacement loop for the direct matchers (a repeated set, a list of
// literals) when every match is replaced: a 64-byte window of candidates at
// a time from the vector scan, each checked where it stands, with the text
// between matches copied a stretch at a time. Literals that fit a
// WordLiteral are checked with one 16-byte load, and a compact template is
// written with fixed-size stores, so a match costs a few instructions and
// the text between matches is never looked at unit by unit. It leaves the
// last windows, and anything it cannot take, to the Matcher.
// Covered by the std::regex oracle tests (texts long enough for whole
// windows), the layout's properties and case table, the engine's
// EachRuleTakesItsWindowLoopAndBothWidthsAgree (which rules must take this
// loop, at both vector widths) and the fuzzer.
#ifndef QUILLMORE_LAYOUT_WINDOW_REPLACE_H_
#define QUILLMORE_LAYOUT_WINDOW_REPLACE_H_

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/cpu_features.h"
#include "layout/candidate_scan.h"
#include "layout/pattern_program.h"
#include "layout/replacement.h"
#include "layout/unit_vector.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace quillmore {
namespace pattern_internal {

template <typename Unit>
struct WindowReplace {
  const Compiled<Unit>& c;
  const CandidateScan<Unit>& scan;
  const Template<Unit>& tmpl;
  const U<Unit>* s;
  std::size_t n;

  static constexpr std::size_t kWindow = CandidateScan<Unit>::kWindowUnits;
  // What is read past a window: the scan's last places, a literal's
  // 16-byte word and group 1's 16-byte copy from inside it.
  static constexpr std::size_t kReadsPast = kWindow;

  // Whether the loop takes this pattern: a direct matcher whose candidates
  // the scan finds a vector at a time.
  static bool Takes(const Compiled<Unit>& c, const CandidateScan<Unit>& scan) {
    return c.strategy != Strategy::kPikeVm && scan.vectorized();
  }

  // Replaces the matches that begin in whole windows from *from on, writing
  // from *copied (the source before it is written). False when the result's
  // capacity ran out; *from and *copied say where to go on. Vectors of 32
  // bytes where the processor has AVX2 (and widths is not 16), else 16.
  bool Run(ResultWriter<Unit>* w, std::size_t* from, std::size_t* copied,
           int widths = 32) const;

  // Where a run pattern's run, known to go on up to `end`, ends.
  std::size_t RunEnd(std::size_t end) const {
    const UnitSet<Unit>& set = c.sets[c.run_set];
    while (end < n && set.Has(s[end])) ++end;
    return end;
  }

  // The match at candidate p, if there is one.
  bool MatchAt(std::size_t p, MatchSpan* m) const {
    if (c.strategy == Strategy::kRun) {
      // The scan's clauses make p the start of a run to replace.
      *m = {p, RunEnd(p + 1), kNone, kNone};
      return true;
    }
    std::size_t k = 0;
    if (!c.word_literals.empty()) {
      std::uint64_t word[2];
      std::memcpy(word, s + p, sizeof word);
      for (; k < c.word_literals.size(); ++k) {
        const WordLiteral& l = c.word_literals[k];
        if ((((word[0] | l.fold[0]) ^ l.expect[0]) & l.mask[0]) == 0 &&
            (((word[1] | l.fold[1]) ^ l.expect[1]) & l.mask[1]) == 0) {
          break;
        }
      }
    } else {
      for (; k < c.literals.size(); ++k) {
        const Literal& literal = c.literals[k];
        const std::size_t length = literal.sets.size();
        if (n - p < length) continue;
        std::size_t i = 0;
        while (i < length && c.sets[literal.sets[i]].Has(s[p + i])) ++i;
        if (i == length) break;
      }
    }
    if (k == c.literals.size()) return false;
    const Literal& literal = c.literals[k];
    *m = {p, p + literal.sets.size(), kNone, kNone};
    if (literal.group1_begin >= 0) {
      m->group1_begin = p + literal.group1_begin;
      m->group1_end = p + literal.group1_end;
    }
    return true;
  }
};

namespace window_baseline {
#define QUILLMORE_WINDOW_WIDTH 16
#include "layout/window_replace.inc"
#undef QUILLMORE_WINDOW_WIDTH
}  // namespace window_baseline

#if defined(__x86_64__) || defined(__i386__)
// As for the fused layout: 32 bytes where the processor has AVX2.
#define QUILLMORE_WINDOW_AVX2 1
QUILLMORE_AVX2_BEGIN
namespace window_avx2 {
#define QUILLMORE_WINDOW_WIDTH 32
#include "layout/window_replace.inc"
#undef QUILLMORE_WINDOW_WIDTH
}  // namespace window_avx2
QUILLMORE_AVX2_END
#endif

template <typename Unit>
bool WindowReplace<Unit>::Run(ResultWriter<Unit>* w, std::size_t* from,
                              std::size_t* copied, int widths) const {
#if defined(QUILLMORE_WINDOW_AVX2)
  if (widths == 32 && CpuHas(CpuFeature::kAvx2)) {
    return window_avx2::ReplaceWindowsAnyDepth(*this, w, from, copied);
  }
#else
  (void)widths;
#endif
  return window_baseline::ReplaceWindowsAnyDepth(*this, w, from, copied);
}

}  // namespace pattern_internal
}  // namespace quillmore

#endif  // QUILLMORE_LAYOUT_WINDOW_REPLACE_H_
