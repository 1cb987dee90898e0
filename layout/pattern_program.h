// The forms a pattern takes inside PatternEngine, shared by its stages: the
// parse tree (pattern_parser.cc), the compiled program with its prefix sets
// and matching strategy (pattern_analysis.cc), and the sets of code units and
// match spans that the scan, the matchers and the replacement work with.
// Covered through the stages' tests in tests/layout/pattern_engine_test.cc.
#ifndef QUILLMORE_LAYOUT_PATTERN_PROGRAM_H_
#define QUILLMORE_LAYOUT_PATTERN_PROGRAM_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/status.h"

namespace quillmore {
namespace pattern_internal {

// Parentheses nested deeper than this are refused, which bounds the
// recursion of parsing and compiling by a constant.
inline constexpr int kMaxNesting = 64;
// A pattern without "+" denotes a finite list of literal strings; up to these
// sizes it is matched by trying the list directly instead of by the Pike VM.
inline constexpr std::size_t kMaxLiterals = 32;
inline constexpr std::size_t kMaxLiteralLength = 256;
inline constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
// How many leading places of a match the candidate scan tests.
inline constexpr std::size_t kPrefixLength = 3;

template <typename Unit>
using U = std::make_unsigned_t<Unit>;

inline Status Failure(StatusCode code, std::string cause) {
  return Status{code, std::move(cause)};
}

// A set of code units: a bitmap for the first 256 values (all of them for
// bytes) and a short list for the rest, so a UTF-16 set stays small.
template <typename Unit>
class UnitSet {
 public:
  void Add(U<Unit> u) {
    if (Has(u)) return;
    if (IsLow(u)) {
      low_[u >> 6] |= std::uint64_t{1} << (u & 63);
    } else {
      high_.push_back(u);
    }
    members_.push_back(u);
  }
  bool Has(U<Unit> u) const {
    if (IsLow(u)) return (low_[u >> 6] >> (u & 63)) & 1;
    return std::find(high_.begin(), high_.end(), u) != high_.end();
  }
  const std::vector<U<Unit>>& members() const { return members_; }

 private:
  static bool IsLow(U<Unit> u) {
    if constexpr (sizeof(Unit) == 1) {
      (void)u;
      return true;
    } else {
      return u < 256;
    }
  }

  std::array<std::uint64_t, 4> low_{};
  std::vector<U<Unit>> high_;
  std::vector<U<Unit>> members_;
};

// Where one match lies in the source, and where its group 1 does.
struct MatchSpan {
  std::size_t begin;
  std::size_t end;
  std::size_t group1_begin;  // kNone when group 1 took no part.
  std::size_t group1_end;
};

enum class NodeKind { kSet, kConcat, kAlt, kGroup, kPlus };

struct Node {
  explicit Node(NodeKind k) : kind(k) {}
  NodeKind kind;
  int set = -1;   // kSet: index into Parsed::sets.
  int group = 0;  // kGroup: its number, from 1.
  std::vector<int> children;
};

template <typename Unit>
struct Parsed {
  std::vector<Node> nodes;
  std::vector<std::vector<U<Unit>>> sets;  // As written, before case folding.
  int root = -1;
  int group_count = 0;
};

// One instruction of the Pike VM program.
struct Inst {
  enum Op : std::uint8_t { kSet, kSplit, kJmp, kSave, kMatch };
  Op op;
  int x = 0;  // kSet: set; kSplit, kJmp: preferred target; kSave: slot.
  int y = 0;  // kSplit: the other target.
};

// Capture slots the engine tracks: the whole match (0, 1) and group 1 (2, 3).
// Templates can only name group 1, so other groups cost nothing to match.
using Slots = std::array<std::size_t, 4>;

// A pattern without repetition, expanded to its strings in the order a
// backtracking matcher would try them.
struct Literal {
  std::vector<int> sets;
  int group1_begin = -1;  // Offsets into sets; -1 when group 1 is not in it.
  int group1_end = -1;
};

enum class Strategy { kRun, kLiterals, kPikeVm };

// A literal of at most 16 bytes whose every place is one unit or a pair
// that differs in bit 5 (a letter under ignore case), checked with one
// 16-byte load: it matches where ((load | fold) ^ expect) & mask is zero.
struct WordLiteral {
  std::array<std::uint64_t, 2> fold{};
  std::array<std::uint64_t, 2> expect{};
  std::array<std::uint64_t, 2> mask{};
};

template <typename Unit>
struct Compiled {
  std::vector<UnitSet<Unit>> sets;  // Folded when ignore-case was on.
  std::vector<Inst> program;
  Strategy strategy = Strategy::kPikeVm;
  int run_set = -1;               // kRun: the repeated set.
  std::vector<Literal> literals;  // kLiterals, in priority order.
  // kLiterals: the literals as words, one for each; empty when some literal
  // cannot be checked that way.
  std::vector<WordLiteral> word_literals;
  // What every match starts with: prefix[i] holds the units that can stand
  // at place i; prefix_any[i] when a match can end before place i.
  std::array<UnitSet<Unit>, kPrefixLength> prefix;
  std::array<bool, kPrefixLength> prefix_any{};
  int group_count = 0;
};

// The two stages that build these forms, each in its own file.
// pattern_parser.cc: parses pattern into *out; a pattern outside the syntax
// fails with status::kInvalidArg and a cause naming the problem.
template <typename Unit>
Status ParsePattern(std::basic_string_view<Unit> pattern, Parsed<Unit>* out);
// pattern_analysis.cc: compiles a parsed pattern for the given case mode.
template <typename Unit>
void CompilePattern(const Parsed<Unit>& parsed, bool ignore_case,
                    Compiled<Unit>* out);

}  // namespace pattern_internal
}  // namespace quillmore

#endif  // QUILLMORE_LAYOUT_PATTERN_PROGRAM_H_
