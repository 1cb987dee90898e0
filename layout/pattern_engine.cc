#include "layout/pattern_engine.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillmore {
namespace pattern_internal {
namespace {

// Parentheses nested deeper than this are refused, which bounds the
// recursion of parsing and compiling by a constant.
constexpr int kMaxNesting = 64;
// A pattern without "+" denotes a finite list of literal strings; up to these
// sizes it is matched by trying the list directly instead of by the Pike VM.
constexpr std::size_t kMaxLiterals = 32;
constexpr std::size_t kMaxLiteralLength = 256;
// Matches remembered by the counting pass, so the writing pass does not have
// to find them again. Beyond this the writing pass searches anew, which keeps
// the engine's own memory bounded whatever the input.
constexpr std::size_t kRememberedMatches = std::size_t{1} << 18;
constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
// How many leading places of a match the candidate scan tests.
constexpr std::size_t kPrefixLength = 3;

Status Failure(StatusCode code, std::string cause) {
  return Status{code, std::move(cause)};
}

}  // namespace

template <typename Unit>
using U = std::make_unsigned_t<Unit>;

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

// Memory an engine keeps from one Replace to the next, so that a chain of
// replacements does not allocate (and fault in) the same space every time.
struct Scratch {
  std::vector<MatchSpan> matches;
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

namespace {

bool IsAsciiPunctuation(std::uint32_t c) {
  return (c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) ||
         (c >= 0x5B && c <= 0x60) || (c >= 0x7B && c <= 0x7E);
}

// Recursive descent over the pattern. Depth is bounded by kMaxNesting, not by
// anything the text to be searched can influence.
template <typename Unit>
class Parser {
 public:
  explicit Parser(std::basic_string_view<Unit> pattern) : pattern_(pattern) {}

  Status Parse(Parsed<Unit>* out) {
    out_ = out;
    if (pattern_.empty()) {
      Fail("the pattern is empty");
      return error_;
    }
    const int root = ParseAlternatives(0);
    if (root < 0) return error_;
    if (pos_ != pattern_.size()) {
      Fail("')' has no matching '('");
      return error_;
    }
    out_->root = root;
    return Status::Ok();
  }

 private:
  U<Unit> Peek() const { return static_cast<U<Unit>>(pattern_[pos_]); }
  bool AtEnd() const { return pos_ >= pattern_.size(); }

  int Fail(const std::string& what) {
    error_ = Failure(status::kInvalidArg, std::string("unsupported pattern: ") +
                                              what + " at position " +
                                              std::to_string(pos_));
    return -1;
  }

  int Add(Node node) {
    out_->nodes.push_back(std::move(node));
    return static_cast<int>(out_->nodes.size() - 1);
  }

  int AddSet(std::vector<U<Unit>> units) {
    out_->sets.push_back(std::move(units));
    Node node{NodeKind::kSet};
    node.set = static_cast<int>(out_->sets.size() - 1);
    return Add(std::move(node));
  }

  int ParseAlternatives(int depth) {
    if (depth > kMaxNesting) return Fail("groups nest too deeply");
    std::vector<int> alternatives;
    for (;;) {
      const int sequence = ParseSequence(depth);
      if (sequence < 0) return -1;
      alternatives.push_back(sequence);
      if (AtEnd() || Peek() != '|') break;
      ++pos_;
    }
    if (alternatives.size() == 1) return alternatives[0];
    Node node{NodeKind::kAlt};
    node.children = std::move(alternatives);
    return Add(std::move(node));
  }

  int ParseSequence(int depth) {
    std::vector<int> items;
    while (!AtEnd() && Peek() != '|' && Peek() != ')') {
      const int item = ParseItem(depth);
      if (item < 0) return -1;
      items.push_back(item);
    }
    if (items.empty()) return Fail("an empty alternative would match nothing");
    if (items.size() == 1) return items[0];
    Node node{NodeKind::kConcat};
    node.children = std::move(items);
    return Add(std::move(node));
  }

  int ParseItem(int depth) {
    const int atom = ParseAtom(depth);
    if (atom < 0 || AtEnd() || Peek() != '+') return atom;
    ++pos_;
    if (!AtEnd() && Peek() == '+') return Fail("'+' cannot follow '+'");
    Node node{NodeKind::kPlus};
    node.children = {atom};
    return Add(std::move(node));
  }

  int ParseAtom(int depth) {
    const U<Unit> c = Peek();
    switch (c) {
      case '(': {
        ++pos_;
        const int group = ++out_->group_count;
        const int inner = ParseAlternatives(depth + 1);
        if (inner < 0) return -1;
        if (AtEnd() || Peek() != ')') return Fail("'(' has no matching ')'");
        ++pos_;
        Node node{NodeKind::kGroup};
        node.group = group;
        node.children = {inner};
        return Add(std::move(node));
      }
      case '[':
        return ParseSet();
      case '\\': {
        U<Unit> unit{};
        if (!ParseEscape(&unit)) return -1;
        return AddSet({unit});
      }
      case '+':
        return Fail("'+' has nothing to repeat");
      case '.':
      case '*':
      case '?':
      case '{':
      case '}':
      case '^':
      case '$':
      case ']':
        return Fail(std::string("the metacharacter '") + static_cast<char>(c) +
                    "' is not supported");
      default:
        ++pos_;
        return AddSet({c});
    }
  }

  // At a backslash: consumes the escape and yields the unit it stands for.
  bool ParseEscape(U<Unit>* unit) {
    ++pos_;
    if (AtEnd()) return Fail("the pattern ends in a backslash") >= 0;
    const U<Unit> c = Peek();
    if (c == 'r') {
      *unit = 13;
    } else if (c == 'n') {
      *unit = 10;
    } else if (c == 't') {
      *unit = 9;
    } else if (IsAsciiPunctuation(c)) {
      *unit = c;
    } else {
      return Fail("this escape is not supported") >= 0;
    }
    ++pos_;
    return true;
  }

  int ParseSet() {
    ++pos_;  // '['
    if (!AtEnd() && Peek() == '^')
      return Fail("negated sets are not supported");
    std::vector<U<Unit>> units;
    while (!AtEnd() && Peek() != ']') {
      const U<Unit> c = Peek();
      if (c == '\\') {
        U<Unit> unit{};
        if (!ParseEscape(&unit)) return -1;
        units.push_back(unit);
      } else if (c == '-') {
        return Fail("ranges in sets are not supported (write \\- for '-')");
      } else {
        units.push_back(c);
        ++pos_;
      }
    }
    if (AtEnd()) return Fail("'[' has no matching ']'");
    ++pos_;  // ']'
    if (units.empty()) return Fail("an empty set would match nothing");
    return AddSet(std::move(units));
  }

  std::basic_string_view<Unit> pattern_;
  std::size_t pos_ = 0;
  Parsed<Unit>* out_ = nullptr;
  Status error_;
};

}  // namespace

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

template <typename Unit>
struct Compiled {
  std::vector<UnitSet<Unit>> sets;  // Folded when ignore-case was on.
  std::vector<Inst> program;
  Strategy strategy = Strategy::kPikeVm;
  int run_set = -1;               // kRun: the repeated set.
  std::vector<Literal> literals;  // kLiterals, in priority order.
  // What every match starts with: prefix[i] holds the units that can stand
  // at place i; prefix_any[i] when a match can end before place i.
  std::array<UnitSet<Unit>, kPrefixLength> prefix;
  std::array<bool, kPrefixLength> prefix_any{};
  int group_count = 0;
};

namespace {

template <typename Unit>
class Compiler {
 public:
  Compiler(const Parsed<Unit>& parsed, bool ignore_case, Compiled<Unit>* out)
      : parsed_(parsed), out_(out) {
    for (const auto& units : parsed.sets) {
      UnitSet<Unit> set;
      for (U<Unit> u : units) {
        set.Add(u);
        if (ignore_case && u >= 'A' && u <= 'Z') set.Add(u + 32);
        if (ignore_case && u >= 'a' && u <= 'z') set.Add(u - 32);
      }
      out->sets.push_back(std::move(set));
    }
    out->group_count = parsed.group_count;
  }

  void Compile() {
    Emit({Inst::kSave, 0});
    EmitNode(parsed_.root);
    Emit({Inst::kSave, 1});
    Emit({Inst::kMatch});
    ComputePrefix();
    ChooseStrategy();
  }

 private:
  int Emit(Inst inst) {
    out_->program.push_back(inst);
    return static_cast<int>(out_->program.size() - 1);
  }
  int Here() const { return static_cast<int>(out_->program.size()); }

  void EmitNode(int index) {
    const Node& node = parsed_.nodes[index];
    switch (node.kind) {
      case NodeKind::kSet:
        Emit({Inst::kSet, node.set});
        break;
      case NodeKind::kConcat:
        for (int child : node.children) EmitNode(child);
        break;
      case NodeKind::kAlt: {
        std::vector<int> jumps;
        for (std::size_t i = 0; i < node.children.size(); ++i) {
          const bool last = i + 1 == node.children.size();
          const int split = last ? -1 : Emit({Inst::kSplit});
          if (!last) out_->program[split].x = Here();
          EmitNode(node.children[i]);
          if (!last) {
            jumps.push_back(Emit({Inst::kJmp}));
            out_->program[split].y = Here();
          }
        }
        for (int jump : jumps) out_->program[jump].x = Here();
        break;
      }
      case NodeKind::kGroup:
        if (node.group == 1) Emit({Inst::kSave, 2});
        EmitNode(node.children[0]);
        if (node.group == 1) Emit({Inst::kSave, 3});
        break;
      case NodeKind::kPlus: {
        const int start = Here();
        EmitNode(node.children[0]);
        Emit({Inst::kSplit, start, Here() + 1});
        break;
      }
    }
  }

  // The consuming instructions reachable from pc without consuming, and
  // whether the match is.
  void Closure(int pc, std::vector<int>* consuming, bool* match) const {
    std::vector<char> seen(out_->program.size(), 0);
    std::vector<int> stack = {pc};
    while (!stack.empty()) {
      const int at = stack.back();
      stack.pop_back();
      if (seen[at]) continue;
      seen[at] = 1;
      const Inst& inst = out_->program[at];
      switch (inst.op) {
        case Inst::kSet:
          consuming->push_back(at);
          break;
        case Inst::kMatch:
          *match = true;
          break;
        case Inst::kJmp:
          stack.push_back(inst.x);
          break;
        case Inst::kSplit:
          stack.push_back(inst.y);
          stack.push_back(inst.x);
          break;
        case Inst::kSave:
          stack.push_back(at + 1);
          break;
      }
    }
  }

  // The sets of units that can stand at the first three places of a match.
  // Each is the union over every path, so it may admit more than the
  // pattern does, but never less. A place a match may end before is "any".
  void ComputePrefix() {
    std::vector<int> states;
    bool match = false;
    Closure(0, &states, &match);
    for (std::size_t place = 0; place < kPrefixLength; ++place) {
      if (match) {
        for (std::size_t rest = place; rest < kPrefixLength; ++rest) {
          out_->prefix_any[rest] = true;
        }
        break;
      }
      std::vector<int> next;
      std::vector<char> seen(out_->program.size(), 0);
      for (int pc : states) {
        if (seen[pc]) continue;
        seen[pc] = 1;
        for (auto u : out_->sets[out_->program[pc].x].members()) {
          out_->prefix[place].Add(u);
        }
        Closure(pc + 1, &next, &match);
      }
      states = std::move(next);
    }
  }

  void ChooseStrategy() {
    const Node& root = parsed_.nodes[parsed_.root];
    if (root.kind == NodeKind::kPlus &&
        parsed_.nodes[root.children[0]].kind == NodeKind::kSet) {
      out_->strategy = Strategy::kRun;
      out_->run_set = parsed_.nodes[root.children[0]].set;
      return;
    }
    std::vector<Literal> literals;
    if (Expand(parsed_.root, &literals)) {
      out_->strategy = Strategy::kLiterals;
      out_->literals = std::move(literals);
    }
  }

  // Expands a node without repetition into its strings, in priority order.
  // False when the node repeats or the expansion would be too large.
  bool Expand(int index, std::vector<Literal>* out) const {
    const Node& node = parsed_.nodes[index];
    switch (node.kind) {
      case NodeKind::kSet:
        out->push_back(Literal{{node.set}});
        return true;
      case NodeKind::kPlus:
        return false;
      case NodeKind::kGroup:
        if (!Expand(node.children[0], out)) return false;
        if (node.group == 1) {
          for (Literal& literal : *out) {
            literal.group1_begin = 0;
            literal.group1_end = static_cast<int>(literal.sets.size());
          }
        }
        return true;
      case NodeKind::kAlt:
        for (int child : node.children) {
          std::vector<Literal> part;
          if (!Expand(child, &part)) return false;
          out->insert(out->end(), part.begin(), part.end());
          if (out->size() > kMaxLiterals) return false;
        }
        return true;
      case NodeKind::kConcat: {
        std::vector<Literal> product = {Literal{}};
        for (int child : node.children) {
          std::vector<Literal> part;
          if (!Expand(child, &part)) return false;
          if (product.size() * part.size() > kMaxLiterals) return false;
          std::vector<Literal> next;
          for (const Literal& head : product) {
            for (const Literal& tail : part) {
              Literal joined = head;
              const int offset = static_cast<int>(head.sets.size());
              joined.sets.insert(joined.sets.end(), tail.sets.begin(),
                                 tail.sets.end());
              if (joined.sets.size() > kMaxLiteralLength) return false;
              if (tail.group1_begin >= 0) {
                joined.group1_begin = tail.group1_begin + offset;
                joined.group1_end = tail.group1_end + offset;
              }
              next.push_back(std::move(joined));
            }
          }
          product = std::move(next);
        }
        *out = std::move(product);
        return true;
      }
    }
    return false;
  }

  const Parsed<Unit>& parsed_;
  Compiled<Unit>* out_;
};

// Sixteen bytes of units, compared lane by lane; the compiler maps this to
// the target's vector instructions, or to plain code where it has none.
template <std::size_t kUnitSize>
struct VectorOf;
template <>
struct VectorOf<1> {
  typedef std::uint8_t type __attribute__((vector_size(16)));
};
template <>
struct VectorOf<2> {
  typedef std::uint16_t type __attribute__((vector_size(16)));
};
using ByteVector = VectorOf<1>::type;

// One bit per byte of v (whose bytes are all 0x00 or 0xFF), lowest byte
// first.
inline unsigned ByteMask(ByteVector v) {
#if defined(__SSE2__)
  return static_cast<unsigned>(_mm_movemask_epi8(reinterpret_cast<__m128i>(v)));
#else
  // Gathers the top bit of each byte of a little-endian word.
  std::uint64_t words[2];
  std::memcpy(words, &v, sizeof words);
  auto gather = [](std::uint64_t w) {
    return static_cast<unsigned>(
        ((w & 0x8080808080808080u) * 0x0002040810204081u) >> 56);
  };
  return gather(words[0]) | gather(words[1]) << 8;
#endif
}

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

  void AddClause(const Places& places) {
    Clause& clause = clauses_[clause_count_++];
    clause.places = places;
    clause.depth = 0;
    while (clause.depth < kPrefixLength && places[clause.depth] != nullptr) {
      vectorized_ = vectorized_ &&
                    Splat(*places[clause.depth], &clause.splats[clause.depth]);
      ++clause.depth;
    }
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
  static constexpr std::size_t kLanes = 16 / sizeof(Unit);
  static constexpr std::size_t kWindowUnits = 4 * kLanes;
  static constexpr int kSplatWidth = 4;
  using Vector = typename VectorOf<sizeof(Unit)>::type;
  using Splats = std::array<Vector, kSplatWidth>;

  struct Clause {
    Places places{};
    std::size_t depth = 0;  // Places with a set.
    std::array<Splats, kPrefixLength> splats{};
  };

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
  // last repeated to fill all kSplatWidth, so the comparison is fixed).
  static bool Splat(const UnitSet<Unit>& set, Splats* out) {
    const auto& members = set.members();
    if (members.empty() || members.size() > kSplatWidth) return false;
    for (int i = 0; i < kSplatWidth; ++i) {
      const U<Unit> u = members[std::min<std::size_t>(i, members.size() - 1)];
      for (std::size_t lane = 0; lane < kLanes; ++lane) (*out)[i][lane] = u;
    }
    return true;
  }

  static Vector Load(const U<Unit>* at) {
    Vector v;
    std::memcpy(&v, at, sizeof v);
    return v;
  }

  static Vector In(Vector v, const Splats& splat) {
    return reinterpret_cast<Vector>((v == splat[0]) | (v == splat[1]) |
                                    (v == splat[2]) | (v == splat[3]));
  }

  template <std::size_t kDepth>
  static Vector ClauseHits(const U<Unit>* at, const Clause& c) {
    Vector hits = In(Load(at), c.splats[0]);
    if constexpr (kDepth >= 2) hits &= In(Load(at + 1), c.splats[1]);
    if constexpr (kDepth >= 3) hits &= In(Load(at + 2), c.splats[2]);
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
    const Clause& c0 = clauses_[0];
    const Clause& c1 = clauses_[kDepth1 == 0 ? 0 : 1];
    for (; from + kWindowUnits + kPrefixLength <= n; from += kWindowUnits) {
      std::uint64_t mask = 0;
      for (std::size_t i = 0; i < 4; ++i) {
        const U<Unit>* at = s + from + i * kLanes;
        Vector hits = ClauseHits<kDepth0>(at, c0);
        if constexpr (kDepth1 != 0) hits |= ClauseHits<kDepth1>(at, c1);
        mask |= std::uint64_t{ByteMask(reinterpret_cast<ByteVector>(hits))}
                << (16 * i);
      }
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

// Leftmost-first search over one text with a compiled pattern.
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
      const std::size_t size = c_.program.size();
      for (auto* list : {&current_, &next_}) {
        list->sparse.assign(size, 0);
        list->dense.reserve(size);
      }
    }
  }

  // The first match starting at or after `from`.
  bool Find(std::size_t from, MatchSpan* match) {
    switch (c_.strategy) {
      case Strategy::kRun:
        return FindRun(from, match);
      case Strategy::kLiterals:
        return FindLiteral(from, match);
      case Strategy::kPikeVm:
        return FindPike(from, match);
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

  // Thread lists of the Pike VM: ordered by priority, deduplicated by pc.
  struct ThreadList {
    std::vector<int> sparse;
    std::vector<int> dense;  // pcs of every instruction visited this step.
    std::vector<std::pair<int, Slots>> threads;  // Consuming ones, in order.
    bool Contains(int pc) const {
      const int i = sparse[pc];
      return i < static_cast<int>(dense.size()) && dense[i] == pc;
    }
    void Insert(int pc) {
      sparse[pc] = static_cast<int>(dense.size());
      dense.push_back(pc);
    }
    void Clear() {
      dense.clear();
      threads.clear();
    }
  };

  // Follows the non-consuming instructions from pc, in priority order,
  // without recursion.
  void AddThread(ThreadList* list, int pc, std::size_t pos,
                 const Slots& slots) {
    stack_.clear();
    stack_.push_back({pc, slots});
    while (!stack_.empty()) {
      auto [at, caps] = stack_.back();
      stack_.pop_back();
      if (list->Contains(at)) continue;
      list->Insert(at);
      const Inst& inst = c_.program[at];
      switch (inst.op) {
        case Inst::kJmp:
          stack_.push_back({inst.x, caps});
          break;
        case Inst::kSplit:
          stack_.push_back({inst.y, caps});
          stack_.push_back({inst.x, caps});
          break;
        case Inst::kSave:
          caps[inst.x] = pos;
          stack_.push_back({at + 1, caps});
          break;
        case Inst::kSet:
        case Inst::kMatch:
          list->threads.push_back({at, caps});
          break;
      }
    }
  }

  bool FindPike(std::size_t from, MatchSpan* match) {
    current_.Clear();
    bool matched = false;
    Slots best{};
    const Slots unset = {kNone, kNone, kNone, kNone};
    for (std::size_t pos = from;; ++pos) {
      if (!matched) {
        if (current_.threads.empty()) {
          // Nothing under way: jump straight to where a match could start.
          pos = scan_.Next(s_, n_, pos);
          if (pos == kNone) break;
        }
        AddThread(&current_, 0, pos, unset);
      }
      if (current_.threads.empty()) break;
      next_.Clear();
      for (const auto& [pc, caps] : current_.threads) {
        const Inst& inst = c_.program[pc];
        if (inst.op == Inst::kMatch) {
          matched = true;
          best = caps;
          break;  // Lower-priority threads can no longer win.
        }
        if (pos < n_ && c_.sets[inst.x].Has(s_[pos])) {
          AddThread(&next_, pc + 1, pos + 1, caps);
        }
      }
      std::swap(current_, next_);
      if (pos >= n_) break;
    }
    if (!matched) return false;
    *match = {best[0], best[1], best[2], best[3]};
    if (match->group1_begin == kNone || match->group1_end == kNone) {
      match->group1_begin = match->group1_end = kNone;
    }
    return true;
  }

  const Compiled<Unit>& c_;
  const U<Unit>* s_;
  std::size_t n_;
  UnitSet<Unit> others_;
  UnitSet<Unit> only_noop_;
  CandidateScan<Unit> scan_;
  ThreadList current_;
  ThreadList next_;
  std::vector<std::pair<int, Slots>> stack_;
};

// Copies count units. Most pieces of a result are short (the text between
// two nearby matches, a keyword, a template), where a call to memcpy costs
// more than the copy; those are moved as one or two overlapping words.
template <typename Unit>
inline Unit* CopyUnits(const Unit* from, std::size_t count, Unit* to) {
  const std::size_t bytes = count * sizeof(Unit);
  auto* dst = reinterpret_cast<unsigned char*>(to);
  const auto* src = reinterpret_cast<const unsigned char*>(from);
  if (bytes > 16) {
    std::memcpy(dst, src, bytes);
  } else if (bytes >= 8) {
    std::uint64_t head, tail;
    std::memcpy(&head, src, 8);
    std::memcpy(&tail, src + bytes - 8, 8);
    std::memcpy(dst, &head, 8);
    std::memcpy(dst + bytes - 8, &tail, 8);
  } else if (bytes >= 4) {
    std::uint32_t head, tail;
    std::memcpy(&head, src, 4);
    std::memcpy(&tail, src + bytes - 4, 4);
    std::memcpy(dst, &head, 4);
    std::memcpy(dst + bytes - 4, &tail, 4);
  } else {
    for (std::size_t i = 0; i < bytes; ++i) dst[i] = src[i];
  }
  return to + count;
}

// The replacement template, split once into literal pieces and "$1"s.
template <typename Unit>
struct Template {
  struct Piece {
    bool group1;
    std::basic_string_view<Unit> literal;
  };
  std::vector<Piece> pieces;
  std::size_t literal_length = 0;
  std::size_t group1_uses = 0;

  explicit Template(std::basic_string_view<Unit> text) {
    std::size_t start = 0;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
      if (text[i] == '$' && text[i + 1] == '1') {
        if (i > start) pieces.push_back({false, text.substr(start, i - start)});
        pieces.push_back({true, {}});
        ++group1_uses;
        start = i + 2;
        ++i;
      }
    }
    if (start < text.size()) pieces.push_back({false, text.substr(start)});
    literal_length = text.size() - 2 * group1_uses;
  }

  std::size_t Length(const MatchSpan& m) const {
    const std::size_t group =
        m.group1_begin == kNone ? 0 : m.group1_end - m.group1_begin;
    return literal_length + group1_uses * group;
  }

  Unit* Write(const Unit* source, const MatchSpan& m, Unit* out) const {
    for (const Piece& piece : pieces) {
      if (!piece.group1) {
        out = CopyUnits(piece.literal.data(), piece.literal.size(), out);
      } else if (m.group1_begin != kNone) {
        out = CopyUnits(source + m.group1_begin, m.group1_end - m.group1_begin,
                        out);
      }
    }
    return out;
  }
};

}  // namespace
}  // namespace pattern_internal

using namespace pattern_internal;

template <typename Unit>
PatternEngine<Unit>::PatternEngine() = default;
template <typename Unit>
PatternEngine<Unit>::~PatternEngine() = default;
template <typename Unit>
PatternEngine<Unit>::PatternEngine(PatternEngine&&) noexcept = default;
template <typename Unit>
PatternEngine<Unit>& PatternEngine<Unit>::operator=(PatternEngine&&) noexcept =
    default;

template <typename Unit>
Status PatternEngine<Unit>::Pattern(View pattern) {
  parsed_.reset();
  compiled_.reset();
  try {
    auto parsed = std::make_unique<Parsed<Unit>>();
    Status status = Parser<Unit>(pattern).Parse(parsed.get());
    if (!status.ok()) return status;
    parsed_ = std::move(parsed);
    return Status::Ok();
  } catch (const std::bad_alloc&) {
    return Failure(status::kOutOfMemory, "not enough memory for the pattern");
  }
}

template <typename Unit>
Status PatternEngine<Unit>::Global(bool global) {
  global_ = global;
  return Status::Ok();
}

template <typename Unit>
Status PatternEngine<Unit>::IgnoreCase(bool ignore_case) {
  if (ignore_case != ignore_case_) compiled_.reset();
  ignore_case_ = ignore_case;
  return Status::Ok();
}

template <typename Unit>
const Compiled<Unit>* PatternEngine<Unit>::CompiledForSettings() {
  if (!compiled_) {
    auto compiled = std::make_unique<Compiled<Unit>>();
    Compiler<Unit>(*parsed_, ignore_case_, compiled.get()).Compile();
    compiled_ = std::move(compiled);
  }
  return compiled_.get();
}

template <typename Unit>
Status PatternEngine<Unit>::Replace(View source, View replacement,
                                    Text* result) {
  if (!parsed_) {
    return Failure(status::kInvalidArg, "no pattern has been set");
  }
  try {
    const Template<Unit> tmpl(replacement);
    if (tmpl.group1_uses > 0 && parsed_->group_count < 1) {
      return Failure(status::kInvalidArg,
                     "the replacement uses $1, but the pattern has no group");
    }
    const Compiled<Unit>* compiled = CompiledForSettings();

    const U<Unit>* noop = nullptr;
    U<Unit> noop_unit{};
    if (global_ && tmpl.group1_uses == 0 && replacement.size() == 1) {
      noop_unit = static_cast<U<Unit>>(replacement[0]);
      noop = &noop_unit;
    }

    // First pass: the exact size of the result, so it is allocated once and
    // the peak memory is the source plus the result, nothing more.
    if (!scratch_) scratch_ = std::make_unique<Scratch>();
    std::vector<MatchSpan>& remembered = scratch_->matches;
    remembered.clear();
    bool all_remembered = true;
    std::size_t length = source.size();
    {
      Matcher<Unit> matcher(*compiled, source, noop);
      MatchSpan beyond;
      for (std::size_t from = 0;;) {
        // The match is found straight into its place in the list: copying
        // it there afterwards would read back what was just written, which
        // the processor makes wait.
        MatchSpan* m = remembered.size() < kRememberedMatches
                           ? &remembered.emplace_back()
                           : &beyond;
        if (!matcher.Find(from, m)) {
          if (m != &beyond) remembered.pop_back();
          break;
        }
        if (m == &beyond) all_remembered = false;
        length = length - (m->end - m->begin) + tmpl.Length(*m);
        from = m->end;
        if (!global_) break;
      }
    }

    // The result is written in place. A buffer that already has the room
    // is reused as it is (no allocation, no zero-filling of what is about to
    // be overwritten); one that is too small is dropped first rather than
    // grown, since growing would copy its stale contents. A result that
    // shares memory with the source is built aside and swapped in.
    const Unit* const result_begin = result->data();
    const bool aliased = result_begin < source.data() + source.size() &&
                         source.data() < result_begin + result->capacity();
    Text aside;
    Text& out = aliased ? aside : *result;
    if (out.capacity() < length) {
      // Room to spare, so the rules after this one, whose texts grow a
      // little each time, can write into the same buffer. Memory that is
      // reserved but never written costs nothing on any desktop system.
      Text().swap(out);
      out.reserve(length + length / 8);
    }
    out.resize(length);
    Unit* w = out.data();
    const Unit* s = source.data();
    std::size_t copied = 0;
    auto emit = [&](const MatchSpan& m) {
      w = CopyUnits(s + copied, m.begin - copied, w);
      w = tmpl.Write(s, m, w);
      copied = m.end;
    };
    for (const MatchSpan& m : remembered) emit(m);
    if (!all_remembered) {
      Matcher<Unit> matcher(*compiled, source, noop);
      MatchSpan m;
      for (std::size_t from = copied; matcher.Find(from, &m); from = m.end) {
        emit(m);
      }
    }
    CopyUnits(s + copied, source.size() - copied, w);
    if (aliased) result->swap(out);
    return Status::Ok();
  } catch (const std::bad_alloc&) {
    return Failure(status::kOutOfMemory, "not enough memory for the result");
  } catch (const std::length_error&) {
    return Failure(status::kOutOfMemory, "the result would be too long");
  }
}

template class PatternEngine<char>;
template class PatternEngine<char16_t>;

}  // namespace quillmore
