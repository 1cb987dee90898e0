// The SQL layout: five fixed pattern-replacement rules applied in order, each
// to the whole output of the one before, through one engine whose settings
// carry over from rule to rule. The clipboard run's path, and the reference
// for the fused layout of the filter (fused_layout.h).
// Covered by tests/layout/layout_sql_test.cc: the case table, an engine
// failure ending the chain, and the properties over real and generated SQL.
#ifndef QUILLMORE_LAYOUT_LAYOUT_SQL_H_
#define QUILLMORE_LAYOUT_LAYOUT_SQL_H_

#include <algorithm>
#include <array>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "base/error.h"
#include "base/memory_advice.h"
#include "layout/pattern_engine.h"
#include "layout/unit_vector.h"

namespace quillmore {

struct LayoutRule {
  // Pattern and replacement are ASCII; they are widened to the text's code
  // unit when the rule is applied. In the replacement, "$1" is group 1.
  std::string_view pattern;
  // True: IgnoreCase is set to true before the rule. False: it is left as
  // the previous rule left it (initially false), never reset.
  bool set_ignore_case;
  std::string_view replacement;
};

// Line breaks are CR LF. The indentations line keywords up in columns:
// two spaces and AND, three spaces and OR are as wide as WHERE and ORDER;
// two spaces and FROM as wide as SELECT; seven spaces as SELECT and a space.
inline constexpr std::array<LayoutRule, 5> kLayoutRules = {{
    // Flatten: every run of line breaks and spaces becomes one space.
    {"[\\r\\n ]+", false, " "},
    // A line break after every comma.
    {"(,)", false, "$1\r\n       "},
    // WHERE and ORDER start their own line.
    {" ((where)|(order))", true, "\r\n$1"},
    // AND and FROM start a line, indented by two.
    {" ((and)|(from))", true, "\r\n  $1"},
    // OR starts a line, indented by three.
    {" (or)", true, "\r\n   $1"},
}};

template <typename Unit>
std::basic_string<Unit> WidenAscii(std::string_view ascii) {
  return std::basic_string<Unit>(ascii.begin(), ascii.end());
}

// Applies one rule to text through engine, in the engine's calling order:
// Pattern, Global, IgnoreCase (when the rule sets it), Replace. Throws Error
// on the first failing status.
template <typename Unit, typename Engine>
void ApplyLayoutRule(Engine& engine, const LayoutRule& rule,
                     std::basic_string_view<Unit> text,
                     std::basic_string<Unit>* result) {
  Check(engine.Pattern(WidenAscii<Unit>(rule.pattern)), Operation::kPattern);
  Check(engine.Global(true), Operation::kGlobal);
  if (rule.set_ignore_case)
    Check(engine.IgnoreCase(true), Operation::kIgnoreCase);
  Check(engine.Replace(text, WidenAscii<Unit>(rule.replacement), result),
        Operation::kReplace);
}

// Lays out source by all five rules. Has no failure of its own; an engine
// failure is thrown as it is and no later rule runs.
template <typename Unit, typename Engine>
std::basic_string<Unit> LayoutSql(Engine& engine,
                                  std::basic_string_view<Unit> source) {
  // Two buffers take turns: each rule reads the previous rule's output and
  // writes over the one before that, which is no longer needed. Both get
  // room for the longest text at the start, so no rule allocates or copies:
  // rule 1 never lengthens the text, rule 2 adds nine units per comma (rule
  // 1 leaves the commas, so they are counted in the source), and rules 3 to
  // 5 add a few units per keyword. The engine writes into a buffer as it is
  // only where it has room for the source and an eighth more, so the room
  // is a quarter more than the longest text: rules 3 to 5 then reuse the
  // buffers even where rule 1 shortened nothing (a comma-separated text)
  // and the keywords add a tenth. Room that is reserved but never written
  // costs no memory.
  const std::size_t commas = CountUnit(source, static_cast<Unit>(','));
  const std::size_t longest = source.size() + 9 * commas;
  const std::size_t room = longest + longest / 4 + 256;
  std::basic_string<Unit> current;
  std::basic_string<Unit> spare;
  try {
    current.reserve(room);
    spare.reserve(room);
    // On large texts the page faults on this fresh room cost as much as
    // the rules themselves; huge pages take one fault per 2 MiB.
    AdviseWholePages(current.data(), current.capacity() * sizeof(Unit),
                     MemoryAdvice::kHugePages);
    AdviseWholePages(spare.data(), spare.capacity() * sizeof(Unit),
                     MemoryAdvice::kHugePages);
  } catch (const std::exception&) {
    // Only a saving: without the room, the engine finds its own or reports
    // the want of memory as its failure.
    std::basic_string<Unit>().swap(current);
  }
  std::basic_string_view<Unit> input = source;
  for (const LayoutRule& rule : kLayoutRules) {
    ApplyLayoutRule<Unit>(engine, rule, input, &spare);
    current.swap(spare);
    input = current;
  }
  return current;
}

}  // namespace quillmore

#endif  // QUILLMORE_LAYOUT_LAYOUT_SQL_H_
