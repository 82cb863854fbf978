#include "engine/FastMath.h"
#include "engine/RenderScratch.h"

#include <cmath>
#include <cstring>

#if defined(__has_feature)
 #if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
  #define KESTRUNE_SANITIZED 1
 #endif
#endif
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
 #define KESTRUNE_SANITIZED 1
#endif

// The clones are chosen by a resolver that runs while the module is being relocated; sanitizer
// builds instrument it before their run-time exists, so they keep the one portable version.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && defined(__linux__) && ! defined(KESTRUNE_SANITIZED)
 #define KESTRUNE_VECTOR_CLONES __attribute__ ((target_clones ("arch=x86-64-v3", "default")))
#else
 #define KESTRUNE_VECTOR_CLONES
#endif

namespace fastmath
{
namespace
{
// Four doubles as one value, and four floats: one AVX register, or two SSE registers.
using Quad = double __attribute__ ((vector_size (32)));
using QuadFloats = float __attribute__ ((vector_size (16)));

// sin d in double, for |d| well below 2^50; for one double or four at once.
template <typename Real>
Real sine (Real d) noexcept
{
    constexpr double roundingShift = 6755399441055744.0;   // 1.5 * 2^52: adding it rounds to an integer
    constexpr double invPi = 0.31830988618379067154;
    constexpr double piHigh = 3.141592653589793116;         // pi in two parts: the low one carries
                                                            // the bits a double misses
    constexpr double piLow = 1.2246467991473532072e-16;

    // Taylor coefficients of sin r / r in r^2, enough for |r| <= pi / 2 to about 1e-12.
    constexpr double c3 = -1.0 / 6.0, c5 = 1.0 / 120.0, c7 = -1.0 / 5040.0, c9 = 1.0 / 362880.0,
                     c11 = -1.0 / 39916800.0, c13 = 1.0 / 6227020800.0, c15 = -1.0 / 1307674368000.0;

    const Real k = (d * invPi + roundingShift) - roundingShift;   // nearest multiple of pi
    const Real r = (d - k * piHigh) - k * piLow;
    const Real r2 = r * r;
    const Real s = r + r * r2 * (c3 + r2 * (c5 + r2 * (c7 + r2 * (c9 + r2 * (c11 + r2 * (c13 + r2 * c15))))));

    // sin (k pi + r) = (-1)^k sin r; k's parity from k - 2 round (k / 2), which is 0 or +-1, so its
    // square is its magnitude.
    const Real half = (k * 0.5 + roundingShift) - roundingShift;
    const Real parity = k - 2.0 * half;
    return s - 2.0 * (parity * parity) * s;
}

// sin (2 pi x) for phases x in cycles from 0 up to 2^52, their whole cycles taken off first (adding
// and taking away 2^52 rounds to the nearest integer, one down where that overshoots), so that a
// phase that has grown for hours gives the sine it gave in its first second.
inline Quad sineOfCycles (Quad x) noexcept
{
    constexpr double twoTo52 = 4503599627370496.0;
    constexpr double twoPi = 6.283185307179586;
    const Quad nearest = (x + twoTo52) - twoTo52;
    const Quad whole = nearest > x ? nearest - 1.0 : nearest;
    return sine ((x - whole) * twoPi);
}

inline Quad loadQuad (const double* p) noexcept { Quad v; std::memcpy (&v, p, sizeof v); return v; }

inline void storeFloats (float* p, Quad v) noexcept
{
    const auto f = __builtin_convertvector (v, QuadFloats);
    std::memcpy (p, &f, sizeof f);
}
} // namespace

KESTRUNE_VECTOR_CLONES void sines (const float* x, float* y, int n) noexcept
{
    for (int i = 0; i < n; ++i)
        y[i] = (float) sine ((double) x[i]);
}

// Each span of `span` samples starts from two exact sines, of its first sample's phase and of the
// next, and goes on by the recurrence sin (a + (k + 1) h) = 2 cos h sin (a + k h) - sin (a + (k - 1) h),
// whose rounding errors grow only with the square of the span's length (to about 1e-13 here). The
// spans are independent, so their recurrences run side by side rather than as one long chain.
KESTRUNE_VECTOR_CLONES void steadySines (const double* phases, const double* steps, double scale, float* y, int n) noexcept
{
    static_assert (laneWidth == 4, "one Quad holds a sample's lanes");
    constexpr int span = renderChunk / 2, maxSpans = 2;
    const auto spans = n > span ? 2 : 1;

    const auto step = loadQuad (steps) * scale;
    Quad before[maxSpans], now[maxSpans];
    for (int q = 0; q < spans; ++q)
    {
        const auto phase = loadQuad (phases + q * span * laneWidth) * scale;
        before[q] = sineOfCycles (phase);
        now[q] = sineOfCycles (phase + step);
        storeFloats (y + (q * span) * laneWidth, before[q]);
        storeFloats (y + (q * span + 1) * laneWidth, now[q]);
    }

    // 2 cos h = 2 - 4 sin^2 (h / 2), exact where h is small.
    const auto halfStep = sineOfCycles (step * 0.5);
    const Quad twiceCosine = 2.0 - 4.0 * halfStep * halfStep;

    // Both spans' recurrences step together; a short chunk has only the first.
    const auto stepSpan = [&] (int q, int k) {
        const Quad next = twiceCosine * now[q] - before[q];
        before[q] = now[q];
        now[q] = next;
        storeFloats (y + (q * span + k) * laneWidth, next);
    };
    if (spans == 2)
    {
        for (int k = 2; k < span; ++k)
        {
            stepSpan (0, k);
            stepSpan (1, k);
        }
    }
    else
    {
        for (int k = 2; k < n; ++k)
            stepSpan (0, k);
    }
}

// 2^(semitones[i] / 12) in double. Pitch offsets stay within three semitones, where a short series
// is within 4e-13 (under a millionth of a cent); anything further falls back to the library.
KESTRUNE_VECTOR_CLONES void semitoneFactors (const float* semitones, double* factors, int n) noexcept
{
    constexpr double ln2 = 0.69314718055994530942;
    constexpr double c1 = ln2, c2 = c1 * ln2 / 2, c3 = c2 * ln2 / 3, c4 = c3 * ln2 / 4, c5 = c4 * ln2 / 5,
                     c6 = c5 * ln2 / 6, c7 = c6 * ln2 / 7, c8 = c7 * ln2 / 8;

    for (int i = 0; i < n; ++i)
    {
        const auto x = (double) semitones[i] * (1.0 / 12.0);
        factors[i] = 1.0 + x * (c1 + x * (c2 + x * (c3 + x * (c4 + x * (c5 + x * (c6 + x * (c7 + x * c8)))))));
    }

    int outOfRange = 0;
    for (int i = 0; i < n; ++i)
        outOfRange |= std::abs (semitones[i]) > 3.0f ? 1 : 0;

    if (outOfRange != 0)
        for (int i = 0; i < n; ++i)
            if (std::abs (semitones[i]) > 3.0f)
                factors[i] = std::exp2 ((double) semitones[i] / 12.0);
}
} // namespace fastmath
