#include "clipboard/linux/text_codecs.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

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

// The top bit of each byte of word that is byte, and no other bit.
std::uint64_t BytesEqual(std::uint64_t word, unsigned char byte) {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7F;
  const std::uint64_t t = word ^ (0x0101010101010101 * byte);
  return ~(((t & kLow7) + kLow7) | t | kLow7);
}

}  // namespace

void ToLfLineBreaks(std::string* text) {
  // Eight bytes at a time, without a call per line: a comma-separated text
  // laid out has a line break every few bytes. A word is loaded before
  // anything is stored over it, and a store reaches no further than the
  // word's own end, so the text is rewritten in place.
  char* const begin = text->data();
  const std::size_t n = text->size();
  char* to = begin;
  std::size_t i = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  for (; i + 9 <= n; i += 8) {
    std::uint64_t word, next;
    std::memcpy(&word, begin + i, sizeof word);
    std::memcpy(&next, begin + i + 1, sizeof next);
    // The CRs that an LF follows, cut out from the highest down so that
    // the bytes below each keep their places. A word holds one at most
    // unless its lines are shorter than eight bytes, so the first is cut
    // without a branch (where there is none, the word is kept as it is).
    std::uint64_t cut = BytesEqual(word, '\r') & BytesEqual(next, '\n');
    std::size_t kept = sizeof word - (cut != 0);
    const std::uint64_t any = 0 - static_cast<std::uint64_t>(cut != 0);
    int top = 63 - __builtin_clzll(cut | 1);
    for (;;) {
      const std::uint64_t below = (std::uint64_t{1} << (top & ~7)) - 1;
      const std::uint64_t without = (word & below) | ((word >> 8) & ~below);
      word = (without & any) | (word & ~any);
      cut &= ~(std::uint64_t{1} << top);
      if (cut == 0) break;
      top = 63 - __builtin_clzll(cut);
      --kept;
    }
    std::memcpy(to, &word, sizeof word);
    to += kept;
  }
#endif
  for (; i < n; ++i) {
    const char c = begin[i];
    *to = c;
    to += !(c == '\r' && i + 1 < n && begin[i + 1] == '\n');
  }
  text->resize(to - begin);
}

bool RepresentableInLatin1(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    // ASCII, most of any text, is taken eight bytes at a time.
    std::uint64_t word;
    if (text.size() - i >= sizeof word) {
      std::memcpy(&word, text.data() + i, sizeof word);
      if ((word & 0x8080808080808080u) == 0) {
        i += sizeof word;
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
