#include <cstring>

#include "platform/linux/PixelConversion.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUADVIEW_HAVE_SSSE3_PATH 1
#endif

namespace {

// Four bytes load as one little-endian word: B | G << 8 | R << 16 | next byte
// << 24, and the top byte is then forced to 0xFF. The last pixel is read
// bytewise so the loop never reads past the row.
void convertScalar(const std::uint8_t* source, std::uint32_t* destination, int pixels) {
    int x = 0;
    for (; x + 1 < pixels; ++x) {
        std::uint32_t word = 0;
        std::memcpy(&word, source + 3 * static_cast<std::size_t>(x), sizeof word);
        destination[x] = word | 0xFF000000u;
    }
    if (x < pixels) {
        const std::uint8_t* const last = source + 3 * static_cast<std::size_t>(x);
        destination[x] = 0xFF000000u | static_cast<std::uint32_t>(last[2]) << 16 |
                         static_cast<std::uint32_t>(last[1]) << 8 | last[0];
    }
}

#ifdef QUADVIEW_HAVE_SSSE3_PATH
// 16 pixels at a time: three 16-byte loads hold exactly 48 source bytes, so
// nothing past the row is read; each shuffle spreads 12 bytes over 4 pixels.
__attribute__((target("ssse3"))) void convertSsse3(const std::uint8_t* source, std::uint32_t* destination,
                                                   int pixels) {
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    int x = 0;
    for (; x + 16 <= pixels; x += 16) {
        const std::uint8_t* const from = source + 3 * static_cast<std::size_t>(x);
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 32));
        const __m128i p0 = _mm_shuffle_epi8(a, spread);
        const __m128i p1 = _mm_shuffle_epi8(_mm_alignr_epi8(b, a, 12), spread);
        const __m128i p2 = _mm_shuffle_epi8(_mm_alignr_epi8(c, b, 8), spread);
        const __m128i p3 = _mm_shuffle_epi8(_mm_srli_si128(c, 4), spread);
        auto* const to = reinterpret_cast<__m128i*>(destination + x);
        _mm_storeu_si128(to, _mm_or_si128(p0, opaque));
        _mm_storeu_si128(to + 1, _mm_or_si128(p1, opaque));
        _mm_storeu_si128(to + 2, _mm_or_si128(p2, opaque));
        _mm_storeu_si128(to + 3, _mm_or_si128(p3, opaque));
    }
    convertScalar(source + 3 * static_cast<std::size_t>(x), destination + x, pixels - x);
}
#endif

using Converter = void (*)(const std::uint8_t*, std::uint32_t*, int);

Converter chooseConverter() {
#ifdef QUADVIEW_HAVE_SSSE3_PATH
    if (__builtin_cpu_supports("ssse3")) {
        return convertSsse3;
    }
#endif
    return convertScalar;
}

}  // namespace

void ConvertBgrRowToXrgb(const std::uint8_t* source, std::uint32_t* destination, int pixels) {
    static const Converter convert = chooseConverter();
    convert(source, destination, pixels);
}
