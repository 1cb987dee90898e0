// Inputs for the benchmarks: real SQL, repeated to size, and the adversarial
// texts that make every rule match as often as they can. The real SQL is the
// larger corpus beside the checkout when there is one, else the sample kept
// with the tests.
#ifndef QUILLMORE_BENCH_SQL_INPUT_H_
#define QUILLMORE_BENCH_SQL_INPUT_H_

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace quillmore::bench {

// The SQL files, concatenated and repeated until they are `size` bytes.
inline std::string RealisticSql(std::size_t size) {
  std::string corpus;
  const std::filesystem::path root =
      std::filesystem::exists(QUILLMORE_CORPUS_DIR) ? QUILLMORE_CORPUS_DIR
                                                    : QUILLMORE_SQL_SAMPLE_DIR;
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(root)) {
    if (entry.path().extension() != ".sql") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    corpus += text.str();
  }
  if (corpus.empty()) throw std::runtime_error("no SQL corpus found");
  std::string out;
  out.reserve(size);
  while (out.size() < size) out.append(corpus, 0, size - out.size());
  return out;
}

inline std::string Repeated(std::string_view piece, std::size_t size) {
  std::string out;
  out.reserve(size);
  while (out.size() < size) out.append(piece, 0, size - out.size());
  return out;
}

}  // namespace quillmore::bench

#endif  // QUILLMORE_BENCH_SQL_INPUT_H_
