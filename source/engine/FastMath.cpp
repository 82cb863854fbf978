#include "engine/FastMath.h"

#include <cmath>

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
KESTRUNE_VECTOR_CLONES void sines (const float* x, float* y, int n) noexcept
{
    constexpr double roundingShift = 6755399441055744.0;   // 1.5 * 2^52: adding it rounds to an integer
    constexpr double invPi = 0.31830988618379067154;
    constexpr double piHigh = 3.141592653589793116;         // pi in two parts: the low one carries
                                                            // the bits a double misses
    constexpr double piLow = 1.2246467991473532072e-16;

    // Taylor coefficients of sin r / r in r^2, enough for |r| <= pi / 2 to about 1e-12.
    constexpr double c3 = -1.0 / 6.0, c5 = 1.0 / 120.0, c7 = -1.0 / 5040.0, c9 = 1.0 / 362880.0,
                     c11 = -1.0 / 39916800.0, c13 = 1.0 / 6227020800.0, c15 = -1.0 / 1307674368000.0;

    for (int i = 0; i < n; ++i)
    {
        const auto d = (double) x[i];
        const auto k = (d * invPi + roundingShift) - roundingShift;   // nearest multiple of pi
        const auto r = (d - k * piHigh) - k * piLow;
        const auto r2 = r * r;
        const auto s = r + r * r2 * (c3 + r2 * (c5 + r2 * (c7 + r2 * (c9 + r2 * (c11 + r2 * (c13 + r2 * c15))))));

        // sin (k pi + r) = (-1)^k sin r; k's parity from k - 2 round (k / 2), which is 0 or +-1.
        const auto half = (k * 0.5 + roundingShift) - roundingShift;
        const auto odd = std::abs (k - 2.0 * half);
        y[i] = (float) (s - 2.0 * odd * s);
    }
}

// 2^(semitones[i] / 12) in double. Pitch offsets stay within three semitones, where a short series
// is exact to the last bits; anything further falls back to the library.
KESTRUNE_VECTOR_CLONES void semitoneFactors (const float* semitones, double* factors, int n) noexcept
{
    constexpr double ln2 = 0.69314718055994530942;
    constexpr double c1 = ln2, c2 = c1 * ln2 / 2, c3 = c2 * ln2 / 3, c4 = c3 * ln2 / 4, c5 = c4 * ln2 / 5,
                     c6 = c5 * ln2 / 6, c7 = c6 * ln2 / 7, c8 = c7 * ln2 / 8, c9 = c8 * ln2 / 9, c10 = c9 * ln2 / 10,
                     c11 = c10 * ln2 / 11;

    for (int i = 0; i < n; ++i)
    {
        const auto x = (double) semitones[i] / 12.0;
        factors[i] = 1.0 + x * (c1 + x * (c2 + x * (c3 + x * (c4 + x * (c5 + x * (c6 + x * (c7 + x * (c8 + x * (c9 + x * (c10 + x * c11))))))))));
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
