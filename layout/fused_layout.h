// The fused layout: one pass over the text that gives exactly what the five
// rules of layout_sql.h give in a chain, fed as a stream in pieces of any
// size. quillmore-layout runs on it; the clipboard run keeps the rule chain,
// which is the reference this is checked against.
//
// Why one pass is enough: rule 1 leaves one space where each run of CR, LF
// and spaces was; rule 2 puts a line break and seven spaces after every
// comma; rules 3 to 5 each turn one space into a line break, decided only by
// the letters that follow it. No replacement puts a space in front of a
// keyword's letters, so each space of rule 2's output is decided on its own,
// by the first rule (in rule order) whose keyword follows it. The pass keeps
// one pending space, from a run of CR, LF and spaces or the seventh space
// after a comma, until the next letters decide what it becomes:
//   WHERE or ORDER   CR LF                 (rule 3)
//   AND or FROM      CR LF and two spaces  (rule 4)
//   OR               CR LF and three spaces (rule 5)
//   anything else    the space itself
// A comma's pending space followed by a run is written as it is, and the
// run becomes the pending space. Between two pieces the pass holds back
// only the pending space and up to four letters that could still begin a
// keyword.
//
// Covered by tests/layout/layout_sql_test.cc (the chain's case table, and
// the chain as reference over the SQL sample and generated text split at
// every boundary and at random sizes, at each vector width) and by the
// fuzzer, which compares the two on every input it makes.
#ifndef QUILLMORE_LAYOUT_FUSED_LAYOUT_H_
#define QUILLMORE_LAYOUT_FUSED_LAYOUT_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "base/cpu_features.h"
#include "layout/fused_scan.h"
#include "layout/unit_vector.h"

namespace quillmore {

template <typename Unit>
class FusedLayout {
 public:
  using View = std::basic_string_view<Unit>;

  // vector_bytes: the width of the scan's vectors, 16, or 32 or 64 where
  // the processor runs them (Runs). The tests run each.
  explicit FusedLayout(int vector_bytes = BestVectorBytes())
      : vector_bytes_(vector_bytes) {}
  // 64 where the processor has AVX-512's byte instructions (AVX512BW), 32
  // where it has AVX2, else 16.
  static int BestVectorBytes();
  static bool Runs(int vector_bytes) {
    return (vector_bytes == 16 || vector_bytes == 32 || vector_bytes == 64) &&
           vector_bytes <= BestVectorBytes();
  }

  // The room Feed needs in its output for a piece of `units` units: a comma
  // becomes ten units at most, plus what was held back and what the block
  // stores write beyond their end.
  static constexpr std::size_t OutputRoom(std::size_t units) {
    return 10 * units + kSlack;
  }

  // Lays out the next piece of the text into out, which has room for
  // OutputRoom(piece.size()) units. Returns how many units it wrote.
  std::size_t Feed(View piece, Unit* out);
  // The text has ended: writes what was held back (out has room for
  // OutputRoom(0) units) and makes the layout ready for a new text.
  std::size_t Finish(Unit* out);

 private:
  using V = std::make_unsigned_t<Unit>;
  using Decision = fused_internal::Decision;
  using Breaks = fused_internal::Breaks<Unit>;
  static constexpr std::size_t kSlack = 128;
  // The longest keyword; one fewer letters can be held back.
  static constexpr std::size_t kLookahead = 5;
  // How many units the decision from one word reads.
  static constexpr std::size_t kWordUnits = fused_internal::kWordUnits<Unit>;

  using Pending = fused_internal::Pending;

  static bool IsBlank(V c) { return fused_internal::IsBlank(c); }
  static bool BeginsKeyword(V c) {
    const unsigned folded = c | 0x20u;
    return folded == 'w' || folded == 'o' || folded == 'a' || folded == 'f';
  }
  static Decision Decide(const V* p, std::size_t available, bool at_end);
  static Unit* WriteBreak(Decision decision, Unit* out) {
    return fused_internal::Write(Breaks::kByDecision[decision], out);
  }
  static std::size_t SkipBlanks(const V* s, std::size_t i, std::size_t n) {
    return fused_internal::SkipBlanks<Unit>(s, i, n);
  }
  bool SettlePending(const V* s, std::size_t n, std::size_t* i, Unit** out);

  int vector_bytes_;
  Pending pending_ = Pending::kNone;
  Unit held_[kLookahead - 1] = {};
  std::size_t held_count_ = 0;
};

// The exact decision for a pending space, however few units follow it.
template <typename Unit>
fused_internal::Decision FusedLayout<Unit>::Decide(const V* p,
                                                   std::size_t available,
                                                   bool at_end) {
  using namespace fused_internal;
  if (available >= kWordUnits) return DecideFromWord<Unit>(p);
  if (available == 0) return at_end ? kPlain : kUndecided;
  // How many leading letters of word follow (the first is known to).
  auto matched = [&](const char* word, std::size_t length) {
    std::size_t k = 1;
    while (k < length && k < available &&
           (p[k] | 0x20u) == static_cast<unsigned char>(word[k])) {
      ++k;
    }
    return k;
  };
  // The letters ran out before the word did: more text could still make it.
  auto open = [&](std::size_t k, std::size_t length) {
    return k < length && k == available && !at_end;
  };
  std::size_t k = 0;
  switch (p[0] | 0x20u) {
    case 'w':
      k = matched("where", 5);
      return k == 5 ? kClause : open(k, 5) ? kUndecided : kPlain;
    case 'o':
      // ORDER must be ruled out before OR can be taken.
      k = matched("order", 5);
      if (k == 5) return kClause;
      if (open(k, 5)) return kUndecided;
      return k >= 2 ? kOr : kPlain;
    case 'a':
      k = matched("and", 3);
      return k == 3 ? kJoin : open(k, 3) ? kUndecided : kPlain;
    case 'f':
      k = matched("from", 4);
      return k == 4 ? kJoin : open(k, 4) ? kUndecided : kPlain;
    default:
      return kPlain;
  }
}

// Decides the pending space from the units at s[*i] on, or holds them back
// when they could still begin a keyword and the piece ends. False when the
// piece is used up.
template <typename Unit>
bool FusedLayout<Unit>::SettlePending(const V* s, std::size_t n, std::size_t* i,
                                      Unit** out) {
  while (*i < n && IsBlank(s[*i])) {
    if (pending_ == Pending::kComma) {
      *(*out)++ = Unit{' '};
      pending_ = Pending::kRun;
    }
    *i = SkipBlanks(s, *i + 1, n);
  }
  if (*i == n) return false;
  const Decision decision = Decide(s + *i, std::min(n - *i, kWordUnits), false);
  if (decision == fused_internal::kUndecided) {
    for (; *i < n; ++*i) held_[held_count_++] = static_cast<Unit>(s[*i]);
    return false;
  }
  *out = WriteBreak(decision, *out);
  pending_ = Pending::kNone;
  return true;
}

template <typename Unit>
int FusedLayout<Unit>::BestVectorBytes() {
#if defined(QUILLMORE_FUSED_WIDE)
  if (CpuHas(CpuFeature::kAvx512Bw)) return 64;
  return CpuHas(CpuFeature::kAvx2) ? 32 : 16;
#else
  return 16;
#endif
}

template <typename Unit>
std::size_t FusedLayout<Unit>::Feed(View piece, Unit* out) {
  const V* s = reinterpret_cast<const V*>(piece.data());
  const std::size_t n = piece.size();
  std::size_t i = 0;
  Unit* o = out;
  if (held_count_ > 0) {
    // Letters held back from the last piece: decide with this one's first.
    V look[kLookahead] = {};
    std::size_t have = 0;
    for (std::size_t k = 0; k < held_count_; ++k) look[have++] = held_[k];
    for (std::size_t k = 0; k < n && have < kLookahead; ++k)
      look[have++] = s[k];
    const Decision decision = Decide(look, have, false);
    if (decision == fused_internal::kUndecided) {
      // Still a keyword's start: the piece is short and all held back.
      for (std::size_t k = 0; k < n; ++k) held_[held_count_++] = piece[k];
      return 0;
    }
    o = WriteBreak(decision, o);
    for (std::size_t k = 0; k < held_count_; ++k) *o++ = held_[k];
    held_count_ = 0;
    pending_ = Pending::kNone;
  }
  for (;;) {
    if (pending_ != Pending::kNone && !SettlePending(s, n, &i, &o)) break;
    if (pending_ == Pending::kNone) {
#if defined(QUILLMORE_FUSED_WIDE)
      if (vector_bytes_ == 64) {
        i = fused_internal::avx512::LayOutWindows(s, i, n, &o, &pending_);
      } else if (vector_bytes_ == 32) {
        i = fused_internal::avx2::LayOutWindows(s, i, n, &o, &pending_);
      } else {
        i = fused_internal::baseline::LayOutWindows(s, i, n, &o, &pending_);
      }
#else
      i = fused_internal::baseline::LayOutWindows(s, i, n, &o, &pending_);
#endif
    }
    if (pending_ != Pending::kNone) continue;
    // The last units of the piece, one at a time.
    for (; i < n; ++i) {
      const V c = s[i];
      if (c == '\r' || c == '\n' || c == ',') break;
      if (c == ' ' &&
          (i + 1 == n || IsBlank(s[i + 1]) || BeginsKeyword(s[i + 1]))) {
        break;
      }
      *o++ = static_cast<Unit>(c);
    }
    if (i == n) break;
    if (s[i] == ',') {
      o = fused_internal::Write(Breaks::kComma, o);
      pending_ = Pending::kComma;
      ++i;
    } else {
      pending_ = Pending::kRun;
      i = SkipBlanks(s, i + 1, n);
    }
  }
  return static_cast<std::size_t>(o - out);
}

template <typename Unit>
std::size_t FusedLayout<Unit>::Finish(Unit* out) {
  Unit* o = out;
  if (pending_ != Pending::kNone) {
    V look[kLookahead] = {};
    for (std::size_t k = 0; k < held_count_; ++k) look[k] = held_[k];
    o = WriteBreak(Decide(look, held_count_, true), o);
    for (std::size_t k = 0; k < held_count_; ++k) *o++ = held_[k];
  }
  held_count_ = 0;
  pending_ = Pending::kNone;
  return static_cast<std::size_t>(o - out);
}

}  // namespace quillmore

#endif  // QUILLMORE_LAYOUT_FUSED_LAYOUT_H_
