// Vectors of code units, for the scans that look at many units at once
// (candidate_scan.h, fused_scan.h, window_replace.h) and for CountUnit
// below. Written with the compiler's vector extension: sixteen bytes by
// default, which become SSE2 on x86 (part of every x86-64 and of the 32-bit
// Windows build's target) and plain word arithmetic elsewhere, so ordinary
// code keeps to the baseline. Thirty-two bytes only in code between
// QUILLMORE_AVX2_BEGIN and QUILLMORE_AVX2_END (below), which is compiled for
// AVX2 and called only where the processor has it, chosen at run time.
// Covered through the scans' tests: the std::regex oracle, the fused layout
// against the rule chain at both widths, and the fuzzer.
#ifndef QUILLMORE_LAYOUT_UNIT_VECTOR_H_
#define QUILLMORE_LAYOUT_UNIT_VECTOR_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillmore {

// kBytes bytes of units, compared lane by lane; the compiler maps this to
// the vector instructions the code around it is compiled for, or to plain
// code where it has none. 32 only between the AVX2 macros.
template <typename Lane, std::size_t kBytes>
struct LanesOf {
  typedef Lane type __attribute__((vector_size(kBytes)));
};
template <std::size_t kUnitSize, std::size_t kBytes = 16>
struct VectorOf {
  using type = typename LanesOf<
      std::conditional_t<kUnitSize == 1, std::uint8_t, std::uint16_t>,
      kBytes>::type;
};
using ByteVector = VectorOf<1>::type;

// One bit per byte of v (whose bytes are all 0x00 or 0xFF), lowest byte
// first.
inline unsigned ByteMask(ByteVector v) {
#if defined(__SSE2__)
  return static_cast<unsigned>(_mm_movemask_epi8(reinterpret_cast<__m128i>(v)));
#else
  // Gathers the top bit of each byte of a little-endian word.
  std::uint64_t words[2];
  std::memcpy(words, &v, sizeof words);
  auto gather = [](std::uint64_t w) {
    return static_cast<unsigned>(
        ((w & 0x8080808080808080u) * 0x0002040810204081u) >> 56);
  };
  return gather(words[0]) | gather(words[1]) << 8;
#endif
}

// The lanes of a VectorOf<sizeof(Unit)>, all set to u.
template <typename Vector, typename Lane>
inline Vector SplatLanes(Lane u) {
  Vector v;
  for (std::size_t i = 0; i < sizeof(Vector) / sizeof(Lane); ++i) v[i] = u;
  return v;
}

template <typename Vector, typename Lane>
inline Vector LoadLanes(const Lane* at) {
  Vector v;
  std::memcpy(&v, at, sizeof v);
  return v;
}

// How many times unit occurs in text, sixteen bytes at a time: each lane
// counts its matches in a byte, emptied before it can overflow.
template <typename Unit>
std::size_t CountUnit(std::basic_string_view<Unit> text, Unit unit) {
  using Lane = std::make_unsigned_t<Unit>;
  using Vector = typename VectorOf<sizeof(Unit)>::type;
  constexpr std::size_t kLanes = 16 / sizeof(Unit);
  const Lane* s = reinterpret_cast<const Lane*>(text.data());
  const Vector target = SplatLanes<Vector>(static_cast<Lane>(unit));
  std::size_t count = 0;
  std::size_t i = 0;
  while (i + kLanes <= text.size()) {
    Vector sums = {};
    for (int round = 0; round < 255 && i + kLanes <= text.size(); ++round) {
      sums -= reinterpret_cast<Vector>(LoadLanes<Vector>(s + i) == target);
      i += kLanes;
    }
    for (std::size_t k = 0; k < kLanes; ++k) count += sums[k];
  }
  for (; i < text.size(); ++i) count += s[i] == static_cast<Lane>(unit);
  return count;
}

}  // namespace quillmore

// The code between BEGIN and END is compiled for the named instructions,
// for the loops that run only where the processor has them (chosen at run
// time); the rest of the program keeps to the baseline. AVX2 for the 32-byte
// loops; AVX-512 with its byte and word instructions (AVX512BW) for the
// 64-byte ones.
#define QUILLMORE_PRAGMA(text) _Pragma(#text)
#if defined(__clang__)
#define QUILLMORE_TARGET_BEGIN(isa) \
  QUILLMORE_PRAGMA(                 \
      clang attribute push(__attribute__((target(isa))), apply_to = function))
#define QUILLMORE_TARGET_END QUILLMORE_PRAGMA(clang attribute pop)
#else
#define QUILLMORE_TARGET_BEGIN(isa) \
  QUILLMORE_PRAGMA(GCC push_options) QUILLMORE_PRAGMA(GCC target(isa))
#define QUILLMORE_TARGET_END QUILLMORE_PRAGMA(GCC pop_options)
#endif
#define QUILLMORE_AVX2_BEGIN QUILLMORE_TARGET_BEGIN("avx2")
#define QUILLMORE_AVX2_END QUILLMORE_TARGET_END
#define QUILLMORE_AVX512_BEGIN QUILLMORE_TARGET_BEGIN("avx512f,avx512bw")
#define QUILLMORE_AVX512_END QUILLMORE_TARGET_END

#endif  // QUILLMORE_LAYOUT_UNIT_VECTOR_H_
