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
// Covered by LayoutSqlFused in tests/layout/layout_sql_test.cc (the chain's
// case table, and the chain as reference over the SQL sample and generated
// text split at every boundary and at random sizes) and by the fuzzer,
// which compares the two on every input it makes.
#ifndef QUILLMORE_LAYOUT_FUSED_LAYOUT_H_
#define QUILLMORE_LAYOUT_FUSED_LAYOUT_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

#include "layout/fused_scan.h"
#include "layout/unit_vector.h"

namespace quillmore {

template <typename Unit>
class FusedLayout {
 public:
  using View = std::basic_string_view<Unit>;

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
  using Scan = fused_internal::WindowScan<Unit>;
  using Breaks = fused_internal::Breaks<Unit>;
  static constexpr std::size_t kSlack = 128;
  // The longest keyword; one fewer letters can be held back.
  static constexpr std::size_t kLookahead = 5;
  // How many units the decision from one word reads.
  static constexpr std::size_t kWordUnits = fused_internal::kWordUnits<Unit>;

  enum class Pending : std::uint8_t { kNone, kRun, kComma };

  static bool IsBlank(V c) { return c == ' ' || c == '\r' || c == '\n'; }
  static bool BeginsKeyword(V c) {
    const unsigned folded = c | 0x20u;
    return folded == 'w' || folded == 'o' || folded == 'a' || folded == 'f';
  }
  static Decision Decide(const V* p, std::size_t available, bool at_end);
  static Unit* WriteBreak(Decision decision, Unit* out) {
    return fused_internal::Write(Breaks::kByDecision[decision], out);
  }
  static std::size_t SkipBlanks(const V* s, std::size_t i, std::size_t n);
  // Copies count units (fewer than a window's) with four vector stores
  // whatever the count, so no branch depends on the gap between two
  // decisions. The input has a window's worth of units after from, and the
  // output the slack.
  static Unit* CopyGap(const V* from, std::size_t count, Unit* out) {
    for (std::size_t k = 0; k < Scan::kUnits; k += Scan::kLanes) {
      std::memcpy(out + k, from + k, 16);
    }
    return out + count;
  }
  bool SettlePending(const V* s, std::size_t n, std::size_t* i, Unit** out);

  Pending pending_ = Pending::kNone;
  Unit held_[kLookahead - 1] = {};
  std::size_t held_count_ = 0;
};

// The whole text at once, for callers that have it in memory.
template <typename Unit>
std::basic_string<Unit> FusedLayoutSql(std::basic_string_view<Unit> text) {
  constexpr std::size_t kPiece = std::size_t{1} << 16;
  FusedLayout<Unit> layout;
  std::basic_string<Unit> out;
  std::basic_string<Unit> room(FusedLayout<Unit>::OutputRoom(kPiece), Unit{});
  for (std::size_t at = 0; at < text.size(); at += kPiece) {
    const std::size_t written =
        layout.Feed(text.substr(at, kPiece), room.data());
    out.append(room.data(), written);
  }
  out.append(room.data(), layout.Finish(room.data()));
  return out;
}

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

template <typename Unit>
std::size_t FusedLayout<Unit>::SkipBlanks(const V* s, std::size_t i,
                                          std::size_t n) {
  // Most runs are a line break and some indentation: look at those one by
  // one, and at longer runs a vector at a time.
  for (const std::size_t short_run = std::min(n, i + Scan::kLanes);
       i < short_run; ++i) {
    if (!IsBlank(s[i])) return i;
  }
  using Vector = typename VectorOf<sizeof(Unit)>::type;
  const Vector space = SplatLanes<Vector>(V{' '});
  const Vector cr = SplatLanes<Vector>(V{'\r'});
  const Vector lf = SplatLanes<Vector>(V{'\n'});
  for (; i + Scan::kLanes <= n; i += Scan::kLanes) {
    const Vector v = LoadLanes<Vector>(s + i);
    const auto blank = (v == space) | (v == cr) | (v == lf);
    const unsigned other =
        ~ByteMask(reinterpret_cast<ByteVector>(blank)) & 0xFFFFu;
    if (other != 0) {
      return i + static_cast<std::size_t>(__builtin_ctz(other)) / sizeof(Unit);
    }
  }
  while (i < n && IsBlank(s[i])) ++i;
  return i;
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
  const Scan scan;
  for (;;) {
    if (pending_ != Pending::kNone && !SettlePending(s, n, &i, &o)) break;
    // Whole windows: copy up to each unit that needs a decision, and decide
    // the space it leaves pending from one word when five units follow.
    // Where the next decision stands depends only on the masks, not on what
    // the units are, so one decision need not wait for the last.
    while (i + Scan::kReads <= n && pending_ == Pending::kNone) {
      const std::size_t base = i;
      const typename Scan::Masks masks = scan.Scan(s + base);
      const std::uint64_t solid = ~masks.blank;
      std::uint64_t bits = masks.special;
      for (;;) {
        if (bits == 0) {
          o = CopyGap(s + i, base + Scan::kUnits - i, o);
          i = base + Scan::kUnits;
          break;
        }
        const unsigned bit = static_cast<unsigned>(__builtin_ctzll(bits));
        const std::size_t p = base + bit / sizeof(Unit);
        o = CopyGap(s + i, p - i, o);
        // The first unit after p that is not blank: past the run that p
        // begins, or past the comma at p and the run after it.
        const std::uint64_t after = (solid >> bit) >> sizeof(Unit);
        std::size_t r =
            after != 0 ? p + 1 +
                             static_cast<std::size_t>(__builtin_ctzll(after)) /
                                 sizeof(Unit)
                       : SkipBlanks(s, base + Scan::kUnits, n);
        // Without branches on what the unit is, which no predictor could
        // guess: a comma's break is written whatever the unit, and kept
        // only for a comma; so is the space a run after a comma keeps (the
        // comma's seventh; the run is the space to decide).
        const bool comma = s[p] == ',';
        fused_internal::Write(Breaks::kComma, o);
        o += comma ? Breaks::kComma.length : 0;
        *o = Unit{' '};
        o += comma && r > p + 1;
        if (comma && r == p + 1) {
          // A run of commas: each writes the space its predecessor left,
          // then its own break.
          for (; r < n && s[r] == ','; ++r) {
            o = fused_internal::Write(Breaks::kSpaceComma, o);
          }
        }
        i = r;
        if (r + kWordUnits > n) {
          pending_ = comma && s[r - 1] == ',' ? Pending::kComma : Pending::kRun;
          break;
        }
        o = WriteBreak(fused_internal::DecideFromWord<Unit>(s + r), o);
        if (r >= base + Scan::kUnits) break;
        bits &= ~std::uint64_t{0} << ((r - base) * sizeof(Unit));
      }
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
