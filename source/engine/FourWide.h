#pragma once

#include <cstdint>

// Four values as one. The compiler keeps one in a vector register (two for doubles) and does every
// operation on all four at once, each exactly as one scalar operation would: the same roundings, in
// the same order. A comparison gives a mask (all bits set or none per element) that picks between two
// values.
namespace fourwide
{
using Floats = float __attribute__ ((vector_size (16)));
using Ints = std::int32_t __attribute__ ((vector_size (16)));
using Doubles = double __attribute__ ((vector_size (16)));
using Longs = std::int64_t __attribute__ ((vector_size (16)));
} // namespace fourwide
