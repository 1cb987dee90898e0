// The fast parts of the fused layout (fused_layout.h): the vector scan that
// finds the units needing a decision, and the keyword check that decides a
// pending space from one 8-byte word. Baseline instructions only (SSE2 on
// x86, through unit_vector.h), so the filter runs on any x86-64.
// Covered with the fused layout: LayoutSqlFused's case table and the rule
// chain as reference (tests/layout/), and the fuzzer.
#ifndef QUILLMORE_LAYOUT_FUSED_SCAN_H_
#define QUILLMORE_LAYOUT_FUSED_SCAN_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "layout/unit_vector.h"

namespace quillmore {
namespace fused_internal {

// What a pending space becomes: itself, or the break of rule 3, 4 or 5.
// kUndecided: the letters so far could still begin a keyword that another
// rule breaks differently.
enum Decision { kPlain, kClause, kJoin, kOr, kUndecided };

// Up to 16 ASCII units, widened to Unit at compile time, so a constant
// piece of output is written with one fixed-size copy.
template <typename Unit>
struct Constant {
  Unit units[16];
  std::size_t length;
};

template <typename Unit, std::size_t N>
constexpr Constant<Unit> Widen(const char (&text)[N]) {
  Constant<Unit> out{};
  for (std::size_t k = 0; k + 1 < N; ++k) out.units[k] = text[k];
  out.length = N - 1;
  return out;
}

template <typename Unit>
inline Unit* Write(const Constant<Unit>& constant, Unit* out) {
  std::memcpy(out, constant.units, sizeof constant.units);
  return out + constant.length;
}

template <typename Unit>
struct Breaks {
  static constexpr Constant<Unit> kByDecision[4] = {
      Widen<Unit>(" "), Widen<Unit>("\r\n"), Widen<Unit>("\r\n  "),
      Widen<Unit>("\r\n   ")};
  static constexpr Constant<Unit> kComma = Widen<Unit>(",\r\n      ");
  static constexpr Constant<Unit> kSpaceComma = Widen<Unit>(" ,\r\n      ");
};

// The word holding text's bytes, the first in the lowest byte.
template <std::size_t N>
constexpr std::uint64_t Word(const char (&text)[N]) {
  std::uint64_t word = 0;
  for (std::size_t k = 0; k + 1 < N; ++k) {
    word |= std::uint64_t{static_cast<unsigned char>(text[k])} << (8 * k);
  }
  return word;
}

// The word as if its bytes had been loaded little-endian.
inline std::uint64_t FromMemoryOrder(std::uint64_t word) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return __builtin_bswap64(word);
#else
  return word;
#endif
}

// How many units DecideFromWord reads.
template <typename Unit>
inline constexpr std::size_t kWordUnits = sizeof(Unit) == 1 ? 8 : 5;

// Decides a pending space from the five units after it (it reads
// kWordUnits, all present): one
// word of folded letters compared with each keyword. Folding sets bit 5 of
// every byte, which turns only A to Z into a to z among the bytes that can
// equal a keyword's letter; a unit beyond ASCII becomes a byte no keyword
// has.
template <typename Unit>
inline Decision DecideFromWord(const std::make_unsigned_t<Unit>* p) {
  std::uint64_t word = 0;
  if constexpr (sizeof(Unit) == 1) {
    std::memcpy(&word, p, 8);
    word = FromMemoryOrder(word);
  } else {
    for (std::size_t k = 0; k < 5; ++k) {
      word |= std::uint64_t{p[k] < 0x80 ? p[k] : 0x80u} << (8 * k);
    }
  }
  word |= Word("\x20\x20\x20\x20\x20");
  const std::uint64_t five = word & Word("\xff\xff\xff\xff\xff");
  const std::uint64_t four = word & Word("\xff\xff\xff\xff");
  const std::uint64_t three = word & Word("\xff\xff\xff");
  const std::uint64_t two = word & Word("\xff\xff");
  const bool clause = five == Word("where") || five == Word("order");
  const bool join = three == Word("and") || four == Word("from");
  const bool disjunction = two == Word("or");
  // In rule order: ORDER is taken by rule 3 before rule 5 could take OR.
  int decision = disjunction ? kOr : kPlain;
  decision = join ? kJoin : decision;
  decision = clause ? kClause : decision;
  return static_cast<Decision>(decision);
}

// A window of 64 bytes of text, as two masks with one bit per byte: the
// units that need a decision (CR, LF, comma, and a space that begins a run
// or stands before the first two letters of a keyword; a lone space before
// anything else is copied like any other unit), and the blank ones (CR, LF,
// space), whose runs the layout skips.
template <typename Unit>
class WindowScan {
 public:
  using V = std::make_unsigned_t<Unit>;
  static constexpr std::size_t kLanes = 16 / sizeof(Unit);
  static constexpr std::size_t kUnits = 64 / sizeof(Unit);
  // How many units a window needs: its own, and after them the two its
  // scan reads and what the copies from it read (a window's worth from any
  // of its units).
  static constexpr std::size_t kReads = 2 * kUnits;

  struct Masks {
    std::uint64_t special;
    std::uint64_t blank;
  };

  Masks Scan(const V* s) const {
    Masks masks{0, 0};
    for (std::size_t block = 0; block < 4; ++block) {
      const V* at = s + block * kLanes;
      const Vector v = LoadLanes<Vector>(at);
      const Vector unfolded = LoadLanes<Vector>(at + 1);
      const Vector next = unfolded | fold_;
      const Vector after = LoadLanes<Vector>(at + 2) | fold_;
      const auto space = v == space_;
      const auto blank = space | (v == cr_) | (v == lf_);
      const auto next_blank =
          (unfolded == space_) | (unfolded == cr_) | (unfolded == lf_);
      const auto keyword = ((next == w_) & (after == h_)) |
                           (((next == o_) | (next == f_)) & (after == r_)) |
                           ((next == a_) & (after == n_));
      const auto special =
          (blank & ~space) | (v == comma_) | (space & (next_blank | keyword));
      const unsigned shift = 16 * block;
      masks.special |= std::uint64_t{ByteMask(As(special))} << shift;
      masks.blank |= std::uint64_t{ByteMask(As(blank))} << shift;
    }
    return masks;
  }

 private:
  using Vector = typename VectorOf<sizeof(Unit)>::type;
  template <typename Lanes>
  static ByteVector As(Lanes lanes) {
    return reinterpret_cast<ByteVector>(lanes);
  }
  static Vector Splat(unsigned u) { return SplatLanes<Vector>(V(u)); }

  const Vector space_ = Splat(' '), cr_ = Splat('\r'), lf_ = Splat('\n');
  const Vector comma_ = Splat(','), fold_ = Splat(0x20);
  const Vector w_ = Splat('w'), h_ = Splat('h'), o_ = Splat('o'),
               r_ = Splat('r'), f_ = Splat('f'), a_ = Splat('a'),
               n_ = Splat('n');
};

}  // namespace fused_internal
}  // namespace quillmore

#endif  // QUILLMORE_LAYOUT_FUSED_SCAN_H_
