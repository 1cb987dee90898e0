// Replacement: the template split once into literal pieces and "$1"s, and
// the copying of the pieces of a result (the text between matches, the
// template, group 1). pattern_engine.cc writes results with these.
// Covered by the case table in tests/layout/pattern_engine_test.cc, the
// std::regex oracle tests (both templates) and the fuzzer.
#ifndef QUILLMORE_LAYOUT_REPLACEMENT_H_
#define QUILLMORE_LAYOUT_REPLACEMENT_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "layout/pattern_program.h"

namespace quillmore {
namespace pattern_internal {

// Copies bytes (from sizeof(Word) to twice that) as two words that may
// overlap.
template <typename Word>
inline void CopyHeadAndTail(const unsigned char* src, std::size_t bytes,
                            unsigned char* dst) {
  Word head, tail;
  std::memcpy(&head, src, sizeof head);
  std::memcpy(&tail, src + bytes - sizeof tail, sizeof tail);
  std::memcpy(dst, &head, sizeof head);
  std::memcpy(dst + bytes - sizeof tail, &tail, sizeof tail);
}

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
    CopyHeadAndTail<std::uint64_t>(src, bytes, dst);
  } else if (bytes >= 4) {
    CopyHeadAndTail<std::uint32_t>(src, bytes, dst);
  } else {
    for (std::size_t i = 0; i < bytes; ++i) dst[i] = src[i];
  }
  return to + count;
}

// Units the fixed-size stores of Template::WriteCompact may write past the
// end of what they write; the result's buffer keeps this much to spare.
inline constexpr std::size_t kWriteSlack = 64;

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
  // The template as the pieces before and after its one $1 (if any), when
  // both are at most 16 units.
  bool compact = false;
  Unit before[16] = {};
  Unit after[16] = {};
  std::size_t before_length = 0;
  std::size_t after_length = 0;

  explicit Template(std::basic_string_view<Unit> text) {
    std::size_t start = 0;
    std::size_t dollar = text.size();
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
      if (text[i] == '$' && text[i + 1] == '1') {
        dollar = std::min(dollar, i);
        if (i > start) pieces.push_back({false, text.substr(start, i - start)});
        pieces.push_back({true, {}});
        ++group1_uses;
        start = i + 2;
        ++i;
      }
    }
    if (start < text.size()) pieces.push_back({false, text.substr(start)});
    literal_length = text.size() - 2 * group1_uses;
    // At most one $1, between two pieces of at most 16 units.
    compact = group1_uses <= 1 && dollar <= 16 &&
              text.size() - std::min(text.size(), dollar + 2) <= 16;
    if (compact) {
      before_length = dollar;
      text.copy(before, before_length);
      if (group1_uses == 1) {
        after_length = text.size() - dollar - 2;
        text.copy(after, after_length, dollar + 2);
      }
    }
  }

  std::size_t Length(const MatchSpan& m) const {
    const std::size_t group =
        m.group1_begin == kNone ? 0 : m.group1_end - m.group1_begin;
    return literal_length + group1_uses * group;
  }

  // Write for a compact template, with fixed-size stores: out has
  // kWriteSlack units to spare, and group 1 is at most 16 bytes with 16
  // bytes of source readable from its start.
  Unit* WriteCompact(const Unit* source, const MatchSpan& m, Unit* out) const {
    std::memcpy(out, before, sizeof before);
    out += before_length;
    if (group1_uses == 1 && m.group1_begin != kNone) {
      std::memcpy(out, source + m.group1_begin, 16);
      out += m.group1_end - m.group1_begin;
    }
    std::memcpy(out, after, sizeof after);
    return out + after_length;
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

// Where the result is written: *out's buffer, whose length is the part in
// use. The length grows (within the capacity, so the buffer stays put) a
// step ahead of the writing and is cut to what was written at the end.
// Zero-filling a step just before it is overwritten is cheap, and memory
// that is never written is never touched. What a reused buffer already
// holds is simply overwritten.
template <typename Unit>
class ResultWriter {
 public:
  explicit ResultWriter(std::basic_string<Unit>* out) : out_(out) {
    at = out->data();
    end = at + out->size();
  }

  // Makes room for `more` units at `at`; false when the capacity is short.
  bool Reserve(std::size_t more) {
    constexpr std::size_t kStep = std::size_t{1} << 16;
    const std::size_t written = Written();
    if (more <= out_->size() - written) return true;
    if (written + more > out_->capacity()) {
      wanted_ = written + more;
      return false;
    }
    out_->resize(std::min(out_->capacity(),
                          std::max(written + more, out_->size() + kStep)));
    at = out_->data() + written;
    end = out_->data() + out_->size();
    return true;
  }
  // Moves what was written into a buffer of `capacity` units, or more if
  // the Reserve that failed asked for more (room for the longest
  // replacement and the fixed-size stores, which the rest may not need).
  void Grow(std::size_t capacity) {
    const std::size_t written = Written();
    out_->resize(written);
    out_->reserve(std::max(capacity, wanted_));
    at = out_->data() + written;
    end = at;
  }
  void Finish() { out_->resize(Written()); }
  std::size_t Written() const {
    return static_cast<std::size_t>(at - out_->data());
  }

  Unit* at;   // The next unit to write.
  Unit* end;  // The end of the buffer's length.

 private:
  std::basic_string<Unit>* out_;
  std::size_t wanted_ = 0;
};

}  // namespace pattern_internal
}  // namespace quillmore

#endif  // QUILLMORE_LAYOUT_REPLACEMENT_H_
