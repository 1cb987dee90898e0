// PatternEngine's interface: its settings, and Replace, which writes the
// result of replacing every match (or the first) in one pass into a reused
// buffer. The stages it drives live in their own files: pattern_parser.cc,
// pattern_analysis.cc, candidate_scan.h, matcher.h, window_replace.h,
// pike_vm.h and replacement.h.
// Covered by tests/layout/pattern_engine_test.cc (settings, refusals,
// buffer reuse, results far larger than any clipboard) and, as the layout's
// engine, by tests/layout/layout_sql_test.cc.
#include "layout/pattern_engine.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <utility>

#include "layout/matcher.h"
#include "layout/pattern_program.h"
#include "layout/replacement.h"
#include "layout/window_replace.h"

namespace quillmore {

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
    Status status = ParsePattern<Unit>(pattern, parsed.get());
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
    CompilePattern<Unit>(*parsed_, ignore_case_, compiled.get());
    compiled_ = std::move(compiled);
  }
  return compiled_.get();
}

template <typename Unit>
void PatternEngine<Unit>::WriteResult(const Compiled<Unit>& compiled,
                                      const Template<Unit>& tmpl, View source,
                                      const U<Unit>* noop, Text* out) const {
  const Unit* const s = source.data();
  const std::size_t n = source.size();
  ResultWriter<Unit> w(out);
  // Where the search goes on, the source before `copied` is written, and
  // (when not global) the one match has been replaced.
  std::size_t from = 0;
  std::size_t copied = 0;
  bool replaced_one = false;
  // Writes on from there; false when the capacity ran out first.
  auto write_on = [&]() {
    Matcher<Unit> matcher(compiled, source, noop);
    if (global_ && WindowReplace<Unit>::Takes(compiled, matcher.scan())) {
      WindowReplace<Unit> windows{compiled, matcher.scan(), tmpl,
                                  reinterpret_cast<const U<Unit>*>(s), n};
      if (!windows.Run(&w, &from, &copied)) return false;
    }
    MatchSpan m;
    for (; !replaced_one && matcher.Find(from, &m); from = m.end) {
      if (!w.Reserve(m.begin - copied + tmpl.Length(m))) return false;
      w.at = CopyUnits(s + copied, m.begin - copied, w.at);
      w.at = tmpl.Write(s, m, w.at);
      copied = m.end;
      replaced_one = !global_;
    }
    if (!w.Reserve(n - copied)) return false;
    w.at = CopyUnits(s + copied, n - copied, w.at);
    return true;
  };
  while (!write_on()) {
    // The room ran out: count what the rest makes, and move what is
    // written into a buffer with room for all of it, and an eighth more so
    // the rules after this one, whose texts grow a little each time, can
    // write into the same buffer.
    std::size_t rest = n - copied;
    Matcher<Unit> counter(compiled, source, noop);
    MatchSpan m;
    for (std::size_t at = from; !replaced_one && counter.Find(at, &m);
         at = m.end) {
      rest = rest - (m.end - m.begin) + tmpl.Length(m);
      if (!global_) break;
    }
    const std::size_t length = w.Written() + rest;
    w.Grow(length + length / 8 + kWriteSlack);
  }
  w.Finish();
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

    // The result is written in place. A buffer that already has the room
    // is reused as it is; one that is too small is dropped first rather than
    // grown, since growing would copy its stale contents. A result that
    // shares memory with the source is built aside and swapped in.
    const Unit* const result_begin = result->data();
    const bool aliased = result_begin < source.data() + source.size() &&
                         source.data() < result_begin + result->capacity();
    Text aside;
    Text& out = aliased ? aside : *result;

    // Most replacements change a text's length by a few percent at most,
    // so the result is written in one pass into room for the source and an
    // eighth more: room that is reserved but not written costs no memory.
    // Only when that is not enough is the rest counted and what was written
    // moved into room for all of it (the layout's chain reserves room for
    // its commas beforehand, so its rules never need to).
    const std::size_t room =
        source.size() + source.size() / 8 + 16 + kWriteSlack;
    if (out.capacity() < room) {
      Text().swap(out);
      out.reserve(room);
    }
    WriteResult(*compiled, tmpl, source, noop, &out);
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
