// The floor for a filter: read all of standard input, copy it once in
// memory, write it out. bench/compare measures quillmore-layout against it.
#include <string>

#include "run/stdio.h"

int main() {
  std::string input;
  std::string error;
  if (!quillmore::ReadAllInput(&input, &error)) return 1;
  const std::string copy = input;
  input = {};
  return quillmore::WriteAllOutput(copy, &error) ? 0 : 1;
}
