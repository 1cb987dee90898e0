// What the layout must satisfy whatever the text, for the tests and the
// fuzzer. The rule chain is the reference for the fused layout.
#ifndef QUILLMORE_TESTS_LAYOUT_LAYOUT_PROPERTIES_H_
#define QUILLMORE_TESTS_LAYOUT_LAYOUT_PROPERTIES_H_

#include <random>
#include <string>
#include <vector>

#include "layout/fused_layout.h"
#include "layout/layout_sql.h"

namespace quillmore {

template <typename Unit>
std::basic_string<Unit> LayoutOf(std::basic_string_view<Unit> text) {
  PatternEngine<Unit> engine;
  return LayoutSql<Unit>(engine, text);
}

// The fused layout fed pieces of the given sizes (the last one repeated).
template <typename Unit>
std::basic_string<Unit> FusedInPieces(
    std::basic_string_view<Unit> text, const std::vector<std::size_t>& sizes,
    int vector_bytes = FusedLayout<Unit>::BestVectorBytes()) {
  FusedLayout<Unit> layout(vector_bytes);
  std::basic_string<Unit> out;
  std::size_t at = 0;
  for (std::size_t k = 0; at < text.size(); ++k) {
    const std::size_t size =
        std::min(sizes[std::min(k, sizes.size() - 1)], text.size() - at);
    std::basic_string<Unit> room(FusedLayout<Unit>::OutputRoom(size), Unit{});
    out.append(room.data(), layout.Feed(text.substr(at, size), room.data()));
    at += size;
  }
  std::basic_string<Unit> room(FusedLayout<Unit>::OutputRoom(0), Unit{});
  out.append(room.data(), layout.Finish(room.data()));
  return out;
}

// A short text is cut at every boundary, and into single units; a long one
// into pieces of 1, 2, 3, 7 and random larger sizes.
inline std::vector<std::vector<std::size_t>> PieceSizes(std::size_t length,
                                                        std::uint32_t seed) {
  std::vector<std::vector<std::size_t>> plans = {{length + 1}, {1}};
  for (std::size_t k = 1; k < length && length <= 64; ++k) {
    plans.push_back({k, length});
  }
  std::mt19937 rng(seed);
  const std::size_t kSizes[] = {1, 2, 3, 7};
  std::vector<std::size_t> mixed;
  for (std::size_t total = 0; length > 64 && total < length;) {
    const std::size_t pick = rng() % 5;
    mixed.push_back(pick < 4 ? kSizes[pick] : 8 + rng() % 5000);
    total += mixed.back();
  }
  if (!mixed.empty()) plans.push_back(mixed);
  return plans;
}

// Empty when every property holds for text; otherwise which one failed.
inline std::string LayoutPropertyViolation(const std::string& text,
                                           std::uint32_t seed = 1) {
  const std::string once = LayoutOf<char>(text);
  // A fresh engine for each rule: none may rely on a setting left before.
  std::string chained = text;
  for (const LayoutRule& rule : kLayoutRules) {
    PatternEngine<char> fresh;
    std::string next;
    ApplyLayoutRule<char>(fresh, rule, chained, &next);
    chained.swap(next);
    if (&rule == &kLayoutRules[0] &&
        (chained.find_first_of("\r\n") != std::string::npos ||
         chained.find("  ") != std::string::npos)) {
      return "the first rule left a line break or two spaces in a row";
    }
  }
  if (chained != once) return "a rule relies on a setting of the rule before";
  // Bytes widened to UTF-16 units lay out unit for unit the same.
  const std::u16string wide(text.begin(), text.end());
  const std::u16string wide_once(once.begin(), once.end());
  if (LayoutOf<char16_t>(wide) != wide_once) {
    return "the UTF-16 layout differs from the UTF-8 one";
  }
  // The baseline's vectors and, where the processor has them, AVX2's.
  for (const int width : {16, FusedLayout<char>::BestVectorBytes()}) {
    for (const auto& sizes : PieceSizes(text.size(), seed)) {
      if (FusedInPieces<char>(text, sizes, width) != once) {
        return "the fused layout (" + std::to_string(width) +
               "-byte vectors) differs from the rule chain, in pieces of " +
               std::to_string(sizes[0]) + ", ...";
      }
    }
    if (FusedInPieces<char16_t>(wide, {1}, width) != wide_once ||
        FusedInPieces<char16_t>(wide, {wide.size() + 1}, width) != wide_once) {
      return "the UTF-16 fused layout (" + std::to_string(width) +
             "-byte vectors) differs from the rule chain";
    }
  }
  return {};
}

}  // namespace quillmore

#endif  // QUILLMORE_TESTS_LAYOUT_LAYOUT_PROPERTIES_H_
