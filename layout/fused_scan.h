// The fast parts of the fused layout (fused_layout.h): the vector scan that
// finds the units needing a decision, and the keyword check that decides a
// pending space from one 8-byte word. The window loop is compiled for the
// baseline (SSE2 on x86, through unit_vector.h), so the filter runs on any
// x86-64, and on x86 once more for AVX2 and for AVX-512, which FusedLayout
// calls only where the processor has them.
// Covered with the fused layout: the case table and the rule chain as
// reference in tests/layout/layout_sql_test.cc, and the fuzzer.
#ifndef QUILLMORE_LAYOUT_FUSED_SCAN_H_
#define QUILLMORE_LAYOUT_FUSED_SCAN_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "layout/unit_vector.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace quillmore {
namespace fused_internal {

// What a pending space becomes: itself, or the break of rule 3, 4 or 5,
// each numbered by the length of what it writes, so that the output
// pointer, which waits for that length, needs no lookup for it.
// kUndecided: the letters so far could still begin a keyword that another
// rule breaks differently.
enum Decision { kUndecided = 0, kPlain = 1, kClause = 2, kJoin = 4, kOr = 5 };

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
  // By Decision; the entries of no decision are never written.
  static constexpr Constant<Unit> kByDecision[6] = {
      {}, Widen<Unit>(" "),      Widen<Unit>("\r\n"),
      {}, Widen<Unit>("\r\n  "), Widen<Unit>("\r\n   ")};
  static constexpr Constant<Unit> kComma = Widen<Unit>(",\r\n      ");
  // A comma whose seventh space the next comma decides: the space itself.
  static constexpr Constant<Unit> kCommaSpace = Widen<Unit>(",\r\n       ");
};

// The length of Breaks::kByDecision[decision].
constexpr std::size_t BreakLength(Decision decision) { return decision; }
static_assert(BreakLength(kPlain) == Breaks<char>::kByDecision[kPlain].length &&
              BreakLength(kClause) ==
                  Breaks<char>::kByDecision[kClause].length &&
              BreakLength(kJoin) == Breaks<char>::kByDecision[kJoin].length &&
              BreakLength(kOr) == Breaks<char>::kByDecision[kOr].length);

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

// What the word after a pending space is compared with, picked by the low
// five bits of its first letter, which tell the keywords' first letters
// (a, f, o, w) apart: the keyword (its letters in the word's bytes, the
// others masked off) and what the space becomes when the word begins with
// it, or else with its first two letters only (OR, for the entry of ORDER).
struct KeywordEntry {
  std::uint64_t mask;
  std::uint64_t keyword;
  // What the space becomes, by whether the word begins with the first two
  // letters (1) and with the whole keyword (2): no match, the first two
  // letters only, and the keyword (which begins with them).
  unsigned char decisions[4];
};

struct KeywordTable {
  KeywordEntry entries[32];
};

constexpr KeywordTable MakeKeywordTable() {
  KeywordTable table{};
  for (KeywordEntry& entry : table.entries) {
    // Matches nothing: every folded word has bit 5 of its first byte set.
    entry = {0, 1, {kPlain, kPlain, kPlain, kPlain}};
  }
  table.entries['w' & 31] = {Word("\xff\xff\xff\xff\xff"),
                             Word("where"),
                             {kPlain, kPlain, kPlain, kClause}};
  table.entries['o' & 31] = {Word("\xff\xff\xff\xff\xff"),
                             Word("order"),
                             {kPlain, kOr, kPlain, kClause}};
  table.entries['a' & 31] = {
      Word("\xff\xff\xff"), Word("and"), {kPlain, kPlain, kPlain, kJoin}};
  table.entries['f' & 31] = {
      Word("\xff\xff\xff\xff"), Word("from"), {kPlain, kPlain, kPlain, kJoin}};
  return table;
}
inline constexpr KeywordTable kKeywords = MakeKeywordTable();

// Decides a pending space from the units after it (it reads kWordUnits,
// all present): one word of their five first folded letters, compared with
// the one keyword its first letter could begin. Folding sets bit 5 of every
// byte, which turns only A to Z into a to z among the bytes that can equal
// a keyword's letter; a unit beyond ASCII becomes a byte no keyword has.
// In rule order: ORDER is taken by rule 3 before rule 5 could take OR.
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
  const KeywordEntry& entry = kKeywords.entries[word & 31];
  const unsigned whole = (word & entry.mask) == entry.keyword;
  const unsigned first_two = static_cast<std::uint16_t>(word) ==
                             static_cast<std::uint16_t>(entry.keyword);
  // A lookup rather than a choice, which the compiler would make a branch
  // that no predictor could guess.
  return static_cast<Decision>(entry.decisions[first_two + 2 * whole]);
}

// How much a window holds and needs, in units: 64 bytes, so its masks have
// one bit per byte; and after them the two units the scan reads and what
// the copies from it read (a window's worth from any of its units).
template <typename Unit>
struct Window {
  static constexpr std::size_t kUnits = 64 / sizeof(Unit);
  static constexpr std::size_t kReads = 2 * kUnits;
};

// A window's units, one bit per byte.
struct WindowMasks {
  // Where the layout has something to decide, one bit per unit (the lowest
  // of its bytes): each comma, and the first unit of each run of CR, LF and
  // spaces that is not a comma's. A run needs a decision when it holds CR or
  // LF, has more than one unit, or stands before the first two letters of a
  // keyword; a lone space before anything else is copied like any other
  // unit.
  std::uint64_t events;
  // CR, LF and space.
  std::uint64_t blank;
  std::uint64_t comma;
};

// The space the layout has not written yet: none, a run of CR, LF and
// spaces, or the seventh space after a comma.
enum class Pending : std::uint8_t { kNone, kRun, kComma };

template <typename V>
inline bool IsBlank(V c) {
  return c == ' ' || c == '\r' || c == '\n';
}

// The first unit at or after s[i] that is not blank, or n.
template <typename Unit>
std::size_t SkipBlanks(const std::make_unsigned_t<Unit>* s, std::size_t i,
                       std::size_t n) {
  using V = std::make_unsigned_t<Unit>;
  constexpr std::size_t kLanes = 16 / sizeof(Unit);
  // Most runs are a line break and some indentation: look at those one by
  // one, and at longer runs a vector at a time.
  for (const std::size_t short_run = std::min(n, i + kLanes); i < short_run;
       ++i) {
    if (!IsBlank(s[i])) return i;
  }
  using Vector = typename VectorOf<sizeof(Unit)>::type;
  const Vector space = SplatLanes<Vector>(V{' '});
  const Vector cr = SplatLanes<Vector>(V{'\r'});
  const Vector lf = SplatLanes<Vector>(V{'\n'});
  for (; i + kLanes <= n; i += kLanes) {
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

namespace baseline {
#define QUILLMORE_FUSED_WIDTH 16
#include "layout/fused_windows.inc"
#undef QUILLMORE_FUSED_WIDTH
}  // namespace baseline

#if defined(__x86_64__) || defined(__i386__)
// The vectors' width is chosen at run time: 64 bytes where the processor
// has AVX-512's byte instructions, 32 where it has AVX2, else the 16 bytes
// of the x86 baseline, so the program runs on any x86 and is quicker where
// it can be.
#define QUILLMORE_FUSED_WIDE 1
QUILLMORE_AVX2_BEGIN
namespace avx2 {
#define QUILLMORE_FUSED_WIDTH 32
#include "layout/fused_windows.inc"
#undef QUILLMORE_FUSED_WIDTH
}  // namespace avx2
QUILLMORE_AVX2_END

QUILLMORE_AVX512_BEGIN
namespace avx512 {
#define QUILLMORE_FUSED_WIDTH 64
#include "layout/fused_windows.inc"
#undef QUILLMORE_FUSED_WIDTH
}  // namespace avx512
QUILLMORE_AVX512_END
#endif

}  // namespace fused_internal
}  // namespace quillmore

#endif  // QUILLMORE_LAYOUT_FUSED_SCAN_H_
