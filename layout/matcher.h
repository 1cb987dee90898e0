// Leftmost-first search over one text: the literal matchers, which take a
// repeated set (rule 1) or a finite list of literal strings (rules 2 to 5)
// directly at the places the vector scan finds, and the hand-over to the
// Pike VM for every other pattern.
// Covered by the semantic case tables and the std::regex oracle tests in
// tests/layout/pattern_engine_test.cc, and by the fuzzer.
#ifndef QUILLMORE_LAYOUT_MATCHER_H_
#define QUILLMORE_LAYOUT_MATCHER_H_

#include <memory>
#include <string_view>

#include "layout/candidate_scan.h"
#include "layout/pattern_program.h"
#include "layout/pike_vm.h"

namespace quillmore {
namespace pattern_internal {

template <typename Unit>
class Matcher {
 public:
  // noop_unit: when every match is replaced (not just the first) and the
  // replacement of a run is that one unit, a run consisting of just that
  // unit is left as it is; such runs are not reported at all, which lets the
  // scan skip the single spaces that make up most of a text.
  Matcher(const Compiled<Unit>& compiled, std::basic_string_view<Unit> text,
          const U<Unit>* noop_unit)
      : c_(compiled),
        s_(reinterpret_cast<const U<Unit>*>(text.data())),
        n_(text.size()) {
    if (c_.strategy == Strategy::kRun && noop_unit != nullptr &&
        c_.sets[c_.run_set].Has(*noop_unit)) {
      for (auto u : c_.sets[c_.run_set].members()) {
        if (u != *noop_unit) others_.Add(u);
      }
      only_noop_.Add(*noop_unit);
      if (!others_.members().empty()) scan_.AddClause({&others_});
      scan_.AddClause({&only_noop_, &c_.sets[c_.run_set]});
    } else {
      typename CandidateScan<Unit>::Places places{};
      for (std::size_t i = 0; i < kPrefixLength && !c_.prefix_any[i]; ++i) {
        places[i] = &c_.prefix[i];
      }
      scan_.AddClause(places);
    }
    if (c_.strategy == Strategy::kPikeVm) {
      pike_ = std::make_unique<PikeVm<Unit>>(c_, s_, n_);
    }
  }

  // Where the scan finds candidates, for the window loop
  // (window_replace.h).
  const CandidateScan<Unit>& scan() const { return scan_; }

  // The first match starting at or after `from`.
  bool Find(std::size_t from, MatchSpan* match) {
    switch (c_.strategy) {
      case Strategy::kRun:
        return FindRun(from, match);
      case Strategy::kLiterals:
        return FindLiteral(from, match);
      case Strategy::kPikeVm:
        return pike_->Find(from, scan_, match);
    }
    return false;
  }

 private:
  bool FindRun(std::size_t from, MatchSpan* match) {
    const UnitSet<Unit>& set = c_.sets[c_.run_set];
    const std::size_t p = scan_.Next(s_, n_, from);
    if (p != kNone) {
      std::size_t end = p + 1;
      while (end < n_ && set.Has(s_[end])) ++end;
      // The scan's clauses guarantee this is not a lone no-op unit.
      *match = {p, end, kNone, kNone};
      return true;
    }
    return false;
  }

  bool FindLiteral(std::size_t from, MatchSpan* match) {
    for (std::size_t p = from; (p = scan_.Next(s_, n_, p)) != kNone; ++p) {
      for (const Literal& literal : c_.literals) {
        const std::size_t length = literal.sets.size();
        if (n_ - p < length) continue;
        std::size_t i = 0;
        while (i < length && c_.sets[literal.sets[i]].Has(s_[p + i])) ++i;
        if (i < length) continue;
        *match = {p, p + length, kNone, kNone};
        if (literal.group1_begin >= 0) {
          match->group1_begin = p + literal.group1_begin;
          match->group1_end = p + literal.group1_end;
        }
        return true;
      }
    }
    return false;
  }

  const Compiled<Unit>& c_;
  const U<Unit>* s_;
  std::size_t n_;
  UnitSet<Unit> others_;
  UnitSet<Unit> only_noop_;
  CandidateScan<Unit> scan_;
  std::unique_ptr<PikeVm<Unit>> pike_;
};

}  // namespace pattern_internal
}  // namespace quillmore

#endif  // QUILLMORE_LAYOUT_MATCHER_H_
