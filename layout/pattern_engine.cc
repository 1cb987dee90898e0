// PatternEngine's interface: its settings, and Replace, which writes the
// result of replacing every match (or the first) in one pass into a reused
// buffer. The stages it drives live in their own files: pattern_parser.cc,
// pattern_analysis.cc, candidate_scan.h, matcher.h, pike_vm.h and
// replacement.h.
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
bool PatternEngine<Unit>::WriteResult(const Compiled<Unit>& compiled,
                                      const Template<Unit>& tmpl, View source,
                                      const std::make_unsigned_t<Unit>* noop,
                                      std::size_t limit, Text* out) const {
  // The length of *out is the part of its buffer in use: it grows (within
  // the capacity, so the buffer never moves) a step ahead of the writing,
  // and is cut to what was written at the end. Zero-filling a step just
  // before it is overwritten is cheap, and memory that is never written is
  // never touched. What a reused buffer already holds is simply overwritten.
  constexpr std::size_t kStep = std::size_t{1} << 16;
  if (out->size() > limit) out->resize(limit);
  const Unit* const s = source.data();
  std::size_t written = 0;
  auto room_for = [&](std::size_t more) -> Unit* {
    const std::size_t needed = written + more;
    if (needed > out->size()) {
      if (needed > limit) return nullptr;
      out->resize(std::min(limit, std::max(needed, out->size() + kStep)));
    }
    return out->data() + written;
  };
  Matcher<Unit> matcher(compiled, source, noop);
  MatchSpan m;
  std::size_t copied = 0;
  for (std::size_t from = 0; matcher.Find(from, &m); from = m.end) {
    const std::size_t gap = m.begin - copied;
    Unit* w = room_for(gap + tmpl.Length(m));
    if (w == nullptr) return false;
    w = CopyUnits(s + copied, gap, w);
    w = tmpl.Write(s, m, w);
    written = static_cast<std::size_t>(w - out->data());
    copied = m.end;
    if (!global_) break;
  }
  Unit* w = room_for(source.size() - copied);
  if (w == nullptr) return false;
  w = CopyUnits(s + copied, source.size() - copied, w);
  out->resize(static_cast<std::size_t>(w - out->data()));
  return true;
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

    // Most replacements change a text's length by a few percent at most, so
    // the result is written in one pass into room for the source and an
    // eighth more: room that is reserved but not written costs no memory.
    // Only when that is not enough is the room given up and the exact
    // length counted first, so memory never holds two results at once.
    const std::size_t room = source.size() + source.size() / 8 + 16;
    if (out.capacity() < room) {
      Text().swap(out);
      out.reserve(room);
    }
    if (!WriteResult(*compiled, tmpl, source, noop, out.capacity(), &out)) {
      std::size_t length = source.size();
      Matcher<Unit> matcher(*compiled, source, noop);
      MatchSpan m;
      for (std::size_t from = 0; matcher.Find(from, &m); from = m.end) {
        length = length - (m.end - m.begin) + tmpl.Length(m);
        if (!global_) break;
      }
      Text().swap(out);
      // Room to spare, so the rules after this one, whose texts grow a
      // little each time, can write into the same buffer.
      out.reserve(length + length / 8);
      WriteResult(*compiled, tmpl, source, noop, length, &out);
    }
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
