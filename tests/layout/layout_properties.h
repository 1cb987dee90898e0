// Properties every layout must have, whatever the text: shared by the tests
// (over real SQL) and the fuzzer (over arbitrary bytes).
#ifndef QUILLMORE_TESTS_LAYOUT_LAYOUT_PROPERTIES_H_
#define QUILLMORE_TESTS_LAYOUT_LAYOUT_PROPERTIES_H_

#include <string>

#include "layout/layout_sql.h"

namespace quillmore {

template <typename Unit>
std::basic_string<Unit> LayoutOf(std::basic_string_view<Unit> text) {
  PatternEngine<Unit> engine;
  return LayoutSql<Unit>(engine, text);
}

// Puts a space after every comma that has none: what the first rule makes
// of a laid-out text, given the flattened source.
inline std::string WithSpaceAfterEveryComma(const std::string& flat) {
  std::string out;
  for (std::size_t i = 0; i < flat.size(); ++i) {
    out += flat[i];
    if (flat[i] == ',' && (i + 1 == flat.size() || flat[i + 1] != ' ')) {
      out += ' ';
    }
  }
  return out;
}

// Empty when every property holds for text; otherwise which one failed.
inline std::string LayoutPropertyViolation(const std::string& text) {
  PatternEngine<char> engine;
  std::string flat;
  ApplyLayoutRule<char>(engine, kLayoutRules[0], text, &flat);
  if (flat.find_first_of("\r\n") != std::string::npos) {
    return "the first rule left a line break";
  }
  if (flat.find("  ") != std::string::npos) {
    return "the first rule left two spaces in a row";
  }
  // A second run changes the text only where a comma was not followed by a
  // space: there the next item gets one more space in front.
  const std::string once = LayoutOf<char>(text);
  if (LayoutOf<char>(once) != LayoutOf<char>(WithSpaceAfterEveryComma(flat))) {
    return "a second run changed more than the commas without a space";
  }
  // Bytes widened one to one into UTF-16 units lay out unit for unit the
  // same: the two code-unit widths share one behaviour.
  const std::u16string wide(text.begin(), text.end());
  const std::u16string wide_once = LayoutOf<char16_t>(wide);
  if (wide_once != std::u16string(once.begin(), once.end())) {
    return "the UTF-16 layout differs from the UTF-8 one";
  }
  return {};
}

}  // namespace quillmore

#endif  // QUILLMORE_TESTS_LAYOUT_LAYOUT_PROPERTIES_H_
