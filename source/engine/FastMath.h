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

// factors[i] = 2^(semitones[i] / 12) in double.
void semitoneFactors (const float* semitones, double* factors, int n) noexcept;
} // namespace fastmath
