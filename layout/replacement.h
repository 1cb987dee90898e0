// Replacement: the template split once into literal pieces and "$1"s, and
// the copying of the pieces of a result (the text between matches, the
// template, group 1). pattern_engine.cc writes results with these.
// Covered by the case table in tests/layout/pattern_engine_test.cc, the
// std::regex oracle tests (both templates) and the fuzzer.
#ifndef QUILLMORE_LAYOUT_REPLACEMENT_H_
#define QUILLMORE_LAYOUT_REPLACEMENT_H_

#include <cstdint>
#include <cstring>
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

}  // namespace pattern_internal
}  // namespace quillmore

#endif  // QUILLMORE_LAYOUT_REPLACEMENT_H_
