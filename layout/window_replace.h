// The replacement loop for the direct matchers (a repeated set, a list of
// literals) when every match is replaced: a 64-byte window of candidates at
// a time from the vector scan, each checked where it stands, with the text
// between matches copied a stretch at a time. Literals that fit a
// WordLiteral are checked with one 16-byte load, and a compact template is
// written with fixed-size stores, so a match costs a few instructions and
// the text between matches is never looked at unit by unit. It leaves the
// last windows, and anything it cannot take, to the Matcher.
// Covered by the std::regex oracle tests (texts long enough for whole
// windows), the layout's properties and case table, PatternEngineStrategy
// (which says which rule takes this loop) and the fuzzer.
#ifndef QUILLMORE_LAYOUT_WINDOW_REPLACE_H_
#define QUILLMORE_LAYOUT_WINDOW_REPLACE_H_

#include <cstdint>
#include <cstring>

#include "layout/candidate_scan.h"
#include "layout/pattern_program.h"
#include "layout/replacement.h"

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
  // capacity ran out; *from and *copied say where to go on.
  bool Run(ResultWriter<Unit>* w, std::size_t* from, std::size_t* copied) {
    switch (scan.depth(0) * 4 + scan.depth(1)) {
#define QUILLMORE_WINDOW_CASE(d0, d1) \
  case d0 * 4 + d1:                   \
    return Windows<d0, d1>(w, from, copied);
      QUILLMORE_WINDOW_CASE(1, 0)
      QUILLMORE_WINDOW_CASE(1, 2)
      QUILLMORE_WINDOW_CASE(2, 0)
      QUILLMORE_WINDOW_CASE(3, 0)
#undef QUILLMORE_WINDOW_CASE
      default:
        return RunAnyDepth(w, from, copied);
    }
  }

 private:
  // mask without the bits of the units before `units`.
  static std::uint64_t From(std::uint64_t mask, std::size_t units) {
    return units * sizeof(Unit) >= 64
               ? 0
               : mask & (~std::uint64_t{0} << (units * sizeof(Unit)));
  }

  bool RunAnyDepth(ResultWriter<Unit>* w, std::size_t* from,
                   std::size_t* copied) {
    switch (scan.depth(0) * 4 + scan.depth(1)) {
#define QUILLMORE_WINDOW_CASE(d0, d1) \
  case d0 * 4 + d1:                   \
    return Windows<d0, d1>(w, from, copied);
      QUILLMORE_WINDOW_CASE(1, 1)
      QUILLMORE_WINDOW_CASE(1, 3)
      QUILLMORE_WINDOW_CASE(2, 1)
      QUILLMORE_WINDOW_CASE(2, 2)
      QUILLMORE_WINDOW_CASE(2, 3)
      QUILLMORE_WINDOW_CASE(3, 1)
      QUILLMORE_WINDOW_CASE(3, 2)
      QUILLMORE_WINDOW_CASE(3, 3)
#undef QUILLMORE_WINDOW_CASE
    }
    return true;  // Not reached: AddClause gives depths 1 to 3.
  }

  // The match at candidate p, if there is one.
  bool MatchAt(std::size_t p, MatchSpan* m) const {
    if (c.strategy == Strategy::kRun) {
      // The scan's clauses make p the start of a run to replace.
      const UnitSet<Unit>& set = c.sets[c.run_set];
      std::size_t end = p + 1;
      while (end < n && set.Has(s[end])) ++end;
      *m = {p, end, kNone, kNone};
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

  template <std::size_t kDepth0, std::size_t kDepth1>
  bool Windows(ResultWriter<Unit>* w, std::size_t* from, std::size_t* copied) {
    const Unit* const text = reinterpret_cast<const Unit*>(s);
    // The template is written with fixed-size stores where group 1, if it
    // takes part, is at most a 16-byte literal's.
    const bool compact = tmpl.compact && (c.strategy == Strategy::kRun ||
                                          !c.word_literals.empty());
    std::size_t longest = tmpl.literal_length;
    for (const Literal& literal : c.literals) {
      longest = std::max(longest, tmpl.literal_length +
                                      tmpl.group1_uses * literal.sets.size());
    }
    // The scan's sets as a local copy: the output's stores (of char, which
    // may alias anything) would otherwise make the compiler reload them for
    // every window.
    const CandidateScan<Unit> sets = scan;
    std::size_t i = *from;
    std::size_t done = *copied;
    Unit* o = w->at;
    for (; i + kWindow + kReadsPast <= n; i += kWindow) {
      std::uint64_t mask =
          From(sets.template WindowMask<kDepth0, kDepth1>(s + i),
               done > i ? done - i : 0);
      while (mask != 0) {
        const std::size_t p =
            i + static_cast<std::size_t>(__builtin_ctzll(mask)) / sizeof(Unit);
        MatchSpan m;
        if (!MatchAt(p, &m)) {
          mask = From(mask, p - i + 1);
          continue;
        }
        const std::size_t need = p - done + longest + kWriteSlack;
        if (static_cast<std::size_t>(w->end - o) < need) {
          w->at = o;
          if (!w->Reserve(need)) {
            *from = p;
            *copied = done;
            return false;
          }
          o = w->at;
        }
        o = CopyUnits(text + done, p - done, o);
        o = compact ? tmpl.WriteCompact(text, m, o) : tmpl.Write(text, m, o);
        done = m.end;
        mask = From(mask, done - i);
      }
      // A run that reaches past this window: go on after it.
      if (done > i + kWindow) i = done - kWindow;
    }
    w->at = o;
    *from = std::max(i, done);
    *copied = done;
    return true;
  }
};

}  // namespace pattern_internal
}  // namespace quillmore

#endif  // QUILLMORE_LAYOUT_WINDOW_REPLACE_H_
