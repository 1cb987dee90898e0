// The Pike VM: the general matcher, for patterns that the direct matchers in
// matcher.h cannot take (a "+" on anything but a lone set). It runs every
// thread of the program in lock step, in priority order, so it finds the
// leftmost-first match a backtracking engine would, in time linear in the
// text and without recursion.
// Covered by the std::regex oracle tests, PatternEngineLarge's two million
// repetitions and the fuzzer.
#ifndef QUILLMORE_LAYOUT_PIKE_VM_H_
#define QUILLMORE_LAYOUT_PIKE_VM_H_

#include <utility>
#include <vector>

#include "layout/candidate_scan.h"
#include "layout/pattern_program.h"

namespace quillmore {
namespace pattern_internal {

template <typename Unit>
class PikeVm {
 public:
  PikeVm(const Compiled<Unit>& compiled, const U<Unit>* s, std::size_t n)
      : c_(compiled), s_(s), n_(n) {
    const std::size_t size = c_.program.size();
    for (auto* list : {&current_, &next_}) {
      list->sparse.assign(size, 0);
      list->dense.reserve(size);
    }
  }

  // The first match starting at or after `from`; scan says where a match
  // could start.
  bool Find(std::size_t from, CandidateScan<Unit>& scan, MatchSpan* match) {
    current_.Clear();
    bool matched = false;
    Slots best{};
    const Slots unset = {kNone, kNone, kNone, kNone};
    for (std::size_t pos = from;; ++pos) {
      if (!matched) {
        if (current_.threads.empty()) {
          // Nothing under way: jump straight to where a match could start.
          pos = scan.Next(s_, n_, pos);
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

 private:
  // Thread lists: ordered by priority, deduplicated by pc.
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

  const Compiled<Unit>& c_;
  const U<Unit>* s_;
  std::size_t n_;
  ThreadList current_;
  ThreadList next_;
  std::vector<std::pair<int, Slots>> stack_;
};

}  // namespace pattern_internal
}  // namespace quillmore

#endif  // QUILLMORE_LAYOUT_PIKE_VM_H_
