// The vector scan: finds where a match could start, so the matchers look
// only there. Sixteen-byte vectors through the compiler's vector extension,
// which becomes SSE2 on x86 and plain word arithmetic elsewhere.
// Covered by the std::regex oracle tests, whose texts are long enough for
// whole 64-byte windows, by PatternEngineUnits (UTF-16 units whose low byte
// is a pattern's byte) and by the fuzzer.
#ifndef QUILLMORE_LAYOUT_CANDIDATE_SCAN_H_
#define QUILLMORE_LAYOUT_CANDIDATE_SCAN_H_

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "layout/pattern_program.h"
#include "layout/unit_vector.h"

namespace quillmore {
namespace pattern_internal {

// Finds where a match could start, 64 bytes at a time. A candidate is a
// position whose first units belong to given sets, one set per place (up to
// kPrefixLength places; fewer where a match can be shorter); there may be
// two such clauses. Everything else is skipped without being looked at one
// unit at a time: sets of up to four units are compared lane-wise, and the
// candidates of a 64-byte window are kept as a bit mask, so the next call
// usually finds its answer there without scanning again. With larger sets
// the scan goes one unit at a time.
template <typename Unit>
class CandidateScan {
 public:
  // The set at each place; nullptr from the first place that may be
  // anything (or past the end of the text).
  using Places = std::array<const UnitSet<Unit>*, kPrefixLength>;
  static constexpr std::size_t kLanes = 16 / sizeof(Unit);
  static constexpr int kSplatWidth = 4;
  using Vector = typename VectorOf<sizeof(Unit)>::type;
  using Splats = std::array<Vector, kSplatWidth>;

  // A clause: the set of each place, as vectors to compare with.
  struct Clause {
    Places places{};
    std::size_t depth = 0;  // Places with a set.
    std::array<Splats, kPrefixLength> splats{};
    // Bit 5 in every lane where the place's set is matched folded.
    std::array<Vector, kPrefixLength> folds{};
    std::array<int, kPrefixLength> counts{};  // Distinct units in splats.
  };

  void AddClause(const Places& places) {
    Clause& clause = clauses_[clause_count_++];
    clause.places = places;
    clause.depth = 0;
    while (clause.depth < kPrefixLength && places[clause.depth] != nullptr) {
      vectorized_ =
          vectorized_ &&
          Splat(*places[clause.depth], &clause.splats[clause.depth],
                &clause.folds[clause.depth], &clause.counts[clause.depth]);
      ++clause.depth;
    }
  }

  // Whether whole windows are scanned a vector at a time, and how many
  // places each clause tests (0 for no second clause): WindowMask's
  // arguments.
  bool vectorized() const { return vectorized_; }
  const Clause& clause(int i) const { return clauses_[i]; }
  std::size_t depth(int clause) const {
    return clause < clause_count_ ? clauses_[clause].depth : 0;
  }
  // The units a window and what its last places read after it take.
  static constexpr std::size_t kWindowUnits = 64 / sizeof(Unit);
  static constexpr std::size_t kReadsPastWindow = kPrefixLength;

  // The candidates among the kWindowUnits units at `at` (which has
  // kReadsPastWindow units after them), one bit per byte, set on every byte
  // of a candidate. For vectorized scans only, with kDepth0 and kDepth1
  // their clauses' depths.
  template <std::size_t kDepth0, std::size_t kDepth1>
  std::uint64_t WindowMask(const U<Unit>* at) const {
    const Clause& c0 = clauses_[0];
    const Clause& c1 = clauses_[kDepth1 == 0 ? 0 : 1];
    std::uint64_t mask = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      Vector hits = ClauseHits<kDepth0>(at + i * kLanes, c0);
      if constexpr (kDepth1 != 0)
        hits |= ClauseHits<kDepth1>(at + i * kLanes, c1);
      mask |= std::uint64_t{ByteMask(reinterpret_cast<ByteVector>(hits))}
              << (16 * i);
    }
    return mask;
  }

  // The first candidate at or after `from`, or kNone. Calls must not go
  // backwards: `from` is at least the previous call's `from`.
  std::size_t Next(const U<Unit>* s, std::size_t n, std::size_t from) {
    if (vectorized_) {
      if (from >= window_ && from < window_ + kWindowUnits) {
        const unsigned shift =
            static_cast<unsigned>((from - window_) * sizeof(Unit));
        const std::uint64_t rest = mask_ >> shift;
        if (rest != 0) return from + Units(rest);
        from = window_ + kWindowUnits;
      }
      const std::size_t depth0 = clauses_[0].depth;
      const std::size_t depth1 = clause_count_ == 2 ? clauses_[1].depth : 0;
      switch (depth0 * 4 + depth1) {
#define QUILLMORE_SCAN_CASE(d0, d1)         \
  case d0 * 4 + d1:                         \
    from = ScanWindows<d0, d1>(s, n, from); \
    break;
        QUILLMORE_SCAN_CASE(1, 0)
        QUILLMORE_SCAN_CASE(1, 1)
        QUILLMORE_SCAN_CASE(1, 2)
        QUILLMORE_SCAN_CASE(1, 3)
        QUILLMORE_SCAN_CASE(2, 0)
        QUILLMORE_SCAN_CASE(2, 1)
        QUILLMORE_SCAN_CASE(2, 2)
        QUILLMORE_SCAN_CASE(2, 3)
        QUILLMORE_SCAN_CASE(3, 0)
        QUILLMORE_SCAN_CASE(3, 1)
        QUILLMORE_SCAN_CASE(3, 2)
        QUILLMORE_SCAN_CASE(3, 3)
#undef QUILLMORE_SCAN_CASE
      }
      if (from >= window_ && from < window_ + kWindowUnits) return from;
    }
    for (; from < n; ++from) {
      if (Accept(s, n, from)) return from;
    }
    return kNone;
  }

 private:
  // Units before the lowest candidate bit (each unit has sizeof(Unit) bits).
  static std::size_t Units(std::uint64_t mask) {
    return static_cast<std::size_t>(__builtin_ctzll(mask)) / sizeof(Unit);
  }

  bool Accept(const U<Unit>* s, std::size_t n, std::size_t p) const {
    for (int i = 0; i < clause_count_; ++i) {
      const Clause& c = clauses_[i];
      std::size_t k = 0;
      while (k < c.depth && p + k < n && c.places[k]->Has(s[p + k])) ++k;
      if (k == c.depth) return true;
    }
    return false;
  }

  // A set of up to kSplatWidth units, each repeated across a vector (the
  // last repeated to fill all kSplatWidth, so the comparison is fixed). A
  // set made of pairs that differ only in bit 5 (a letter under ignore
  // case) is compared with that bit set on both sides: a unit with it set
  // equals m | 0x20 only when it is m or m ^ 0x20, so the test stays exact
  // with half the comparisons, and four letters in both cases fit.
  static bool Splat(const UnitSet<Unit>& set, Splats* out, Vector* fold,
                    int* count) {
    const auto& members = set.members();
    std::vector<U<Unit>> units;
    bool paired = true;
    for (U<Unit> u : members) {
      paired = paired && set.Has(static_cast<U<Unit>>(u ^ 0x20));
      const U<Unit> folded = static_cast<U<Unit>>(u | 0x20);
      if (std::find(units.begin(), units.end(), folded) == units.end()) {
        units.push_back(folded);
      }
    }
    if (!paired) units = members;
    if (units.empty() || units.size() > kSplatWidth) return false;
    *count = static_cast<int>(units.size());
    for (int i = 0; i < kSplatWidth; ++i) {
      const U<Unit> u = units[std::min<std::size_t>(i, units.size() - 1)];
      for (std::size_t lane = 0; lane < kLanes; ++lane) (*out)[i][lane] = u;
    }
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      (*fold)[lane] = paired ? 0x20 : 0;
    }
    return true;
  }

  static Vector Load(const U<Unit>* at) {
    Vector v;
    std::memcpy(&v, at, sizeof v);
    return v;
  }

  // Only the distinct units are compared: the branches go the same way for
  // every vector of a scan, so they cost less than the comparisons.
  static Vector In(Vector v, const Splats& splat, Vector fold, int count) {
    v |= fold;
    auto hits = v == splat[0];
    if (count > 1) hits |= v == splat[1];
    if (count > 2) hits |= v == splat[2];
    if (count > 3) hits |= v == splat[3];
    return reinterpret_cast<Vector>(hits);
  }

  template <std::size_t kDepth>
  static Vector ClauseHits(const U<Unit>* at, const Clause& c) {
    Vector hits = In(Load(at), c.splats[0], c.folds[0], c.counts[0]);
    if constexpr (kDepth >= 2)
      hits &= In(Load(at + 1), c.splats[1], c.folds[1], c.counts[1]);
    if constexpr (kDepth >= 3)
      hits &= In(Load(at + 2), c.splats[2], c.folds[2], c.counts[2]);
    return hits;
  }

  // Scans whole 64-byte windows (with the units the last places read after
  // them inside the text) from `from`. At the first window with a
  // candidate, remembers its mask (one bit per byte, set on every byte of a
  // candidate) and returns the candidate; otherwise returns where the whole
  // windows end. kDepth1 == 0: one clause only.
  template <std::size_t kDepth0, std::size_t kDepth1>
  std::size_t ScanWindows(const U<Unit>* s, std::size_t n, std::size_t from) {
    // Nothing is stored inside the loop, so the compiler keeps the sets in
    // registers rather than reloading them for every block.
    for (; from + kWindowUnits + kPrefixLength <= n; from += kWindowUnits) {
      const std::uint64_t mask = WindowMask<kDepth0, kDepth1>(s + from);
      if (mask != 0) {
        window_ = from;
        mask_ = mask;
        return from + Units(mask);
      }
    }
    return from;
  }

  std::array<Clause, 2> clauses_{};
  int clause_count_ = 0;
  bool vectorized_ = true;
  // The last window that held a candidate, and its candidates.
  std::size_t window_ = kNone;
  std::uint64_t mask_ = 0;
};

}  // namespace pattern_internal
}  // namespace quillmore

#endif  // QUILLMORE_LAYOUT_CANDIDATE_SCAN_H_
