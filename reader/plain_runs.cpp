#include "reader/plain_runs.h"

#include <cstdint>
#include <cstring>

#if defined(CVX_PLAIN_RUNS_SSE2)
#include <emmintrin.h>
#endif

namespace {

const std::uint64_t Low7 = 0x7F7F7F7F7F7F7F7Full;
const std::uint64_t High = 0x8080808080808080ull;
const std::uint64_t Ones = 0x0101010101010101ull;

// Whether all eight bytes of `word` are plain codes. Each byte is split into its high bit and
// its low seven bits; adding a constant below 0x80 to the low bits cannot carry into the next
// byte, and sets bit 7 exactly where the low bits reach 0x80 minus that constant.
bool AllPlain(std::uint64_t word)
{
    const std::uint64_t low = word & Low7;
    const std::uint64_t atLeast32 = low + 0x60 * Ones;
    const std::uint64_t atLeast33 = low + 0x5F * Ones;
    const std::uint64_t is127 = low + 0x01 * Ones;
    const std::uint64_t not45 = (low ^ 0x2D * Ones) + 0x7F * Ones;
    // Below 128: 32 to 126. From 128 on: low bits 33 and above (161-255), but not 45 (173).
    const std::uint64_t ascii = atLeast32 & ~is127 & ~word;
    const std::uint64_t latin1 = atLeast33 & not45 & word;
    return ((ascii | latin1) & High) == High;
}

std::uint64_t LoadWord(const BYTE* bytes)
{
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// The run from `at` on, eight bytes at a time, then byte by byte at the first word holding a
// code that is not plain or at the last few bytes. Widens into `output` when asked to.
template <bool Widen>
std::size_t PortableRun(const BYTE* bytes, std::size_t at, std::size_t limit, WCHAR* output)
{
    for (; limit - at >= 8 && AllPlain(LoadWord(bytes + at)); at += 8) {
        if (Widen) {
            for (std::size_t i = at; i < at + 8; ++i)
                output[i] = bytes[i];
        }
    }
    for (; at < limit && IsPlainCode(bytes[at]); ++at) {
        if (Widen)
            output[at] = bytes[at];
    }
    return at;
}

#if defined(CVX_PLAIN_RUNS_SSE2)
// One bit per byte of `v`: set where the byte is a plain code.
int PlainMask(__m128i v)
{
    // Signed compares: 0-127 are non-negative, 128-255 are -128 to -1.
    const __m128i ascii =
        _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(31)), _mm_cmplt_epi8(v, _mm_set1_epi8(127)));
    const __m128i latin1 = _mm_andnot_si128(
        _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(173))),
        _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(160))),
                      _mm_cmplt_epi8(v, _mm_setzero_si128())));
    return _mm_movemask_epi8(_mm_or_si128(ascii, latin1));
}

// Sixteen bytes at a time while whole blocks fit before `limit`, the run's end found in its block
// from the mask; the last few bytes go to the portable code.
template <bool Widen>
std::size_t Sse2Run(const BYTE* bytes, std::size_t limit, WCHAR* output)
{
    const __m128i zero = _mm_setzero_si128();
    for (std::size_t at = 0; limit - at >= 16; at += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
        const unsigned plain = static_cast<unsigned>(PlainMask(v));
        const std::size_t run = plain == 0xFFFF ? 16 : __builtin_ctz(~plain);
        if (Widen) {
            __m128i* units = reinterpret_cast<__m128i*>(output + at);
            std::size_t done = 0;
            if (run >= 8) {
                _mm_storeu_si128(units, _mm_unpacklo_epi8(v, zero));
                done = 8;
            }
            if (run == 16) {
                _mm_storeu_si128(units + 1, _mm_unpackhi_epi8(v, zero));
                done = 16;
            }
            for (; done < run; ++done)
                output[at + done] = bytes[at + done];
        }
        if (run < 16)
            return at + run;
    }
    return PortableRun<Widen>(bytes, limit - limit % 16, limit, output);
}
#endif

}  // namespace

std::size_t PlainRunLengthPortable(const BYTE* bytes, std::size_t limit)
{
    return PortableRun<false>(bytes, 0, limit, nullptr);
}

std::size_t WidenPlainRunPortable(const BYTE* bytes, std::size_t limit, WCHAR* output)
{
    return PortableRun<true>(bytes, 0, limit, output);
}

#if defined(CVX_PLAIN_RUNS_SSE2)
std::size_t PlainRunLengthSse2(const BYTE* bytes, std::size_t limit)
{
    return Sse2Run<false>(bytes, limit, nullptr);
}

std::size_t WidenPlainRunSse2(const BYTE* bytes, std::size_t limit, WCHAR* output)
{
    return Sse2Run<true>(bytes, limit, output);
}
#endif

std::size_t PlainRunLength(const BYTE* bytes, std::size_t limit)
{
#if defined(CVX_PLAIN_RUNS_SSE2)
    return Sse2Run<false>(bytes, limit, nullptr);
#else
    return PortableRun<false>(bytes, 0, limit, nullptr);
#endif
}

std::size_t WidenPlainRun(const BYTE* bytes, std::size_t limit, WCHAR* output)
{
#if defined(CVX_PLAIN_RUNS_SSE2)
    return Sse2Run<true>(bytes, limit, output);
#else
    return PortableRun<true>(bytes, 0, limit, output);
#endif
}
