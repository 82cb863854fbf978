#pragma once

// Array versions of the two functions the voices spend their time in, written as plain loops the
// compiler turns into vector code (and, on x86-64, also built for AVX2 and chosen at load time).
// Both evaluate in double precision to well below a float's resolution, so the sines round to the
// same floats as the C library's sinf in all but rare halfway cases, and the powers of two agree
// with pow to the last bits of a double.
namespace fastmath
{
// y[i] = (float) sin (x[i]) for any float argument the engine produces (|x| well below 2^50).
void sines (const float* x, float* y, int n) noexcept;

// The sines of phases (in cycles, from 0 up to 2^52) that advance by a fixed step every sample, times
// `scale`: y[s][l] = (float) sin (2 pi scale p[s][l]) for the n samples of a chunk's four lanes, where
// p[s + 1][l] = p[s][l] + steps[l]. Within about 1e-13 of the exact sine before the rounding to
// float. y has room for a whole chunk; what lies past sample n is left undefined.
void steadySines (const double* phases, const double* steps, double scale, float* y, int n) noexcept;

// factors[i] = 2^(semitones[i] / 12) in double.
void semitoneFactors (const float* semitones, double* factors, int n) noexcept;
} // namespace fastmath
