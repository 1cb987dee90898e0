// Analysis: compiles a parse tree into the Pike VM's program, works out the
// sets of units that can begin a match (for the vector scan), and picks the
// cheapest matcher that gives the same result: a repeated set, a list of
// literal strings, or the general Pike VM. Ignore-case is applied here, by
// folding ASCII letters into the sets.
// Covered by the std::regex oracle tests (PatternEngineOracle) and the
// fuzzer, which reach every strategy with generated patterns.
#include <vector>

#include "layout/pattern_program.h"

namespace quillmore {
namespace pattern_internal {
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
      for (const Literal& literal : out_->literals) {
        WordLiteral word;
        if (!AsWord(literal, &word)) {
          out_->word_literals.clear();
          return;
        }
        out_->word_literals.push_back(word);
      }
    }
  }

  // The literal as a WordLiteral, where it fits one.
  bool AsWord(const Literal& literal, WordLiteral* word) const {
    if (literal.sets.size() * sizeof(Unit) > 16) return false;
    for (std::size_t place = 0; place < literal.sets.size(); ++place) {
      const auto& members = out_->sets[literal.sets[place]].members();
      std::uint64_t unit = members[0], fold = 0;
      if (members.size() == 2 && (members[0] ^ members[1]) == 0x20) {
        unit |= 0x20;
        fold = 0x20;
      } else if (members.size() != 1) {
        return false;
      }
      // Units in memory order on a little-endian machine; elsewhere the
      // scalar check is used.
      const std::size_t bit = place * sizeof(Unit) * 8;
      const std::uint64_t all = (std::uint64_t{1} << (sizeof(Unit) * 8)) - 1;
      word->fold[bit / 64] |= fold << (bit % 64);
      word->expect[bit / 64] |= unit << (bit % 64);
      word->mask[bit / 64] |= all << (bit % 64);
    }
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return false;
#else
    return true;
#endif
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

}  // namespace

template <typename Unit>
void CompilePattern(const Parsed<Unit>& parsed, bool ignore_case,
                    Compiled<Unit>* out) {
  Compiler<Unit>(parsed, ignore_case, out).Compile();
}

template void CompilePattern(const Parsed<char>&, bool, Compiled<char>*);
template void CompilePattern(const Parsed<char16_t>&, bool,
                             Compiled<char16_t>*);

}  // namespace pattern_internal
}  // namespace quillmore
