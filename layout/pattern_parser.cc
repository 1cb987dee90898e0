// Parsing: turns a pattern into its parse tree (Parsed), or refuses it with
// a status that says what is not supported and where. Recursive descent whose
// depth is bounded by kMaxNesting, never by the text being searched.
// Covered by PatternEngineTest.RefusesWhatItDoesNotSupport and, for what it
// accepts, by the std::regex oracle and the fuzzer (tests/layout/).
#include <string>

#include "layout/pattern_program.h"

namespace quillmore {
namespace pattern_internal {
namespace {

bool IsAsciiPunctuation(std::uint32_t c) {
  return (c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) ||
         (c >= 0x5B && c <= 0x60) || (c >= 0x7B && c <= 0x7E);
}

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

template <typename Unit>
Status ParsePattern(std::basic_string_view<Unit> pattern, Parsed<Unit>* out) {
  return Parser<Unit>(pattern).Parse(out);
}

template Status ParsePattern(std::string_view, Parsed<char>*);
template Status ParsePattern(std::u16string_view, Parsed<char16_t>*);

}  // namespace pattern_internal
}  // namespace quillmore
