#include "clipboard/linux/text_codecs.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/cpu_features.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace quillmore::linux_clipboard {
namespace {

// Decodes one UTF-8 sequence at text[*i]; returns the code point and
// advances *i, or returns -1 for a sequence that is not valid UTF-8.
long DecodeUtf8(std::string_view text, std::size_t* i) {
  const auto byte = [&](std::size_t k) {
    return static_cast<unsigned char>(text[k]);
  };
  const unsigned char lead = byte(*i);
  if (lead < 0x80) {
    ++*i;
    return lead;
  }
  int length;
  long cp;
  long min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    return -1;
  }
  if (text.size() - *i < static_cast<std::size_t>(length)) return -1;
  for (int k = 1; k < length; ++k) {
    const unsigned char next = byte(*i + k);
    if ((next & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (next & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  *i += length;
  return cp;
}

#if defined(__x86_64__)
// For each set of cut bytes among eight (bit k: byte k is cut), the places
// of the bytes kept, for a byte shuffle, and how many there are.
struct CutTable {
  alignas(16) std::uint8_t kept_places[256][16];
  std::uint8_t kept[256];
};
constexpr CutTable MakeCutTable() {
  CutTable table{};
  for (int cut = 0; cut < 256; ++cut) {
    int k = 0;
    for (int byte = 0; byte < 8; ++byte) {
      if ((cut >> byte & 1) == 0) table.kept_places[cut][k++] = byte;
    }
    table.kept[cut] = static_cast<std::uint8_t>(k);
    for (; k < 16; ++k) table.kept_places[cut][k] = 0x80;  // a zero
  }
  return table;
}
constexpr CutTable kCutTable = MakeCutTable();

__attribute__((target("ssse3"))) inline __m128i Places(unsigned cut) {
  return _mm_load_si128(
      reinterpret_cast<const __m128i*>(kCutTable.kept_places[cut]));
}

// The cut sixteen bytes at a time, with SSSE3's byte shuffle: a block is
// loaded whole before anything is stored over it, and the stores reach no
// further than its end, so the text is rewritten in place. Returns where
// the output ends; *from is where the input goes on.
__attribute__((target("ssse3"))) char* CutCrLfBlocks(char* begin, std::size_t n,
                                                     std::size_t* from) {
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  char* to = begin;
  std::size_t i = 0;
  for (; i + 17 <= n; i += 16) {
    const __m128i block =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin + i));
    const __m128i next =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin + i + 1));
    const unsigned cut = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_and_si128(_mm_cmpeq_epi8(block, cr), _mm_cmpeq_epi8(next, lf))));
    if (cut == 0) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to), block);
      to += 16;
      continue;
    }
    const unsigned low = cut & 0xFF;
    const unsigned high = cut >> 8;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to),
                     _mm_shuffle_epi8(block, Places(low)));
    to += kCutTable.kept[low];
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to),
                     _mm_shuffle_epi8(_mm_srli_si128(block, 8), Places(high)));
    to += kCutTable.kept[high];
  }
  *from = i;
  return to;
}
#endif

}  // namespace

void ToLfLineBreaks(std::string* text) {
  // A laid-out comma-separated text has a line break every sixteen bytes:
  // a memchr and a memmove per line would cost a call each.
  char* const begin = text->data();
  const std::size_t n = text->size();
  char* to = begin;
  std::size_t i = 0;
#if defined(__x86_64__)
  if (CpuHas(CpuFeature::kSsse3)) to = CutCrLfBlocks(begin, n, &i);
#endif
  for (; i < n; ++i) {
    const char c = begin[i];
    *to = c;
    to += !(c == '\r' && i + 1 < n && begin[i + 1] == '\n');
  }
  text->resize(to - begin);
}

bool RepresentableInLatin1(std::string_view text) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  for (std::size_t i = 0; i < text.size();) {
    // ASCII, most of any text, is taken 32 bytes at a time, then eight.
    std::uint64_t words[4];
    if (text.size() - i >= sizeof words) {
      std::memcpy(words, text.data() + i, sizeof words);
      if (((words[0] | words[1] | words[2] | words[3]) & kHighBits) == 0) {
        i += sizeof words;
        continue;
      }
    }
    if (text.size() - i >= sizeof words[0]) {
      std::memcpy(words, text.data() + i, sizeof words[0]);
      if ((words[0] & kHighBits) == 0) {
        i += sizeof words[0];
        continue;
      }
    }
    const long cp = DecodeUtf8(text, &i);
    if (cp < 0 || cp > 0xFF) return false;
  }
  return true;
}

std::string Utf8ToLatin1(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    out.push_back(static_cast<char>(DecodeUtf8(text, &i)));
  }
  return out;
}

std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<char>(0xC0 | (u >> 6)));
      out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    }
  }
  return out;
}

}  // namespace quillmore::linux_clipboard
