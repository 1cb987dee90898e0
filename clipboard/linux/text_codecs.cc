#include "clipboard/linux/text_codecs.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/memory_advice.h"

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

}  // namespace

std::string WithLfLineBreaks(std::string_view text) {
  // A large text is one line break every few dozen bytes: the lines go
  // across whole, into a buffer of the final size at most.
  std::string out;
  out.reserve(text.size());
  // Fresh memory: on a large text its page faults cost more than the copy.
  AdviseWholePages(out.data(), out.capacity(), MemoryAdvice::kHugePages);
  out.resize(text.size());
  char* to = out.data();
  const char* from = text.data();
  const char* const end = from + text.size();
  while (from != end) {
    const auto* cr =
        static_cast<const char*>(std::memchr(from, '\r', end - from));
    const char* stop = cr == nullptr ? end : cr + 1;
    std::memcpy(to, from, stop - from);
    to += stop - from;
    if (cr != nullptr && stop != end && *stop == '\n') {
      to[-1] = '\n';  // the CR's place takes the LF
      ++stop;
    }
    from = stop;
  }
  out.resize(to - out.data());
  return out;
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
