#pragma once

#include "engine/FourWide.h"
#include "engine/RenderScratch.h"

#include <cstdint>
#include <cstring>

// The four lanes of a voice group as one value (see FourWide.h).
namespace lanes
{
using fourwide::Floats;
using fourwide::Ints;
using fourwide::Doubles;
using fourwide::Longs;

static_assert (laneWidth == 4, "a group's lanes fill one four-wide value");

// A group's four doubles as two vectors of two, the widest a baseline x86-64 build holds in one register.
struct DoubleLanes
{
    Doubles low, high;
};

inline Floats load (const float* p) noexcept { Floats v; std::memcpy (&v, p, sizeof v); return v; }
inline Ints load (const int* p) noexcept { Ints v; std::memcpy (&v, p, sizeof v); return v; }
inline void store (float* p, const Floats& v) noexcept { std::memcpy (p, &v, sizeof v); }

inline DoubleLanes loadDoubles (const double* p) noexcept
{
    DoubleLanes v;
    std::memcpy (&v.low, p, sizeof v.low);
    std::memcpy (&v.high, p + 2, sizeof v.high);
    return v;
}

inline void store (double* p, const DoubleLanes& v) noexcept
{
    std::memcpy (p, &v.low, sizeof v.low);
    std::memcpy (p + 2, &v.high, sizeof v.high);
}

inline Floats toFloats (const DoubleLanes& v) noexcept
{
    return Floats { (float) v.low[0], (float) v.low[1], (float) v.high[0], (float) v.high[1] };
}

// Whether any lane of a mask is set.
template <typename Mask>
bool anyLane (const Mask& mask) noexcept
{
    static_assert (sizeof (Mask) == 16, "a mask of one four-wide value");
    std::uint64_t halves[2];
    std::memcpy (halves, &mask, sizeof halves);
    return (halves[0] | halves[1]) != 0;
}

// A phase in cycles one step on, less one cycle where it reached one. The wrap comes once a cycle, so
// it hides behind a branch the processor predicts, and the phase's chain from sample to sample is a
// single add.
inline Floats advancePhase (Floats phase, const Floats& step) noexcept
{
    phase += step;
    const Ints wrapped = phase >= 1.0f;
    if (anyLane (wrapped))
        phase = wrapped ? phase - 1.0f : phase;
    return phase;
}

// One lane per voice of the group, read from a field of each.
template <typename Field>
Floats gather (const Voice* voices, Field field) noexcept
{
    return Floats { (float) (voices[0].*field), (float) (voices[1].*field), (float) (voices[2].*field), (float) (voices[3].*field) };
}

inline DoubleLanes gatherDoubles (const Voice* voices, double Voice::*field) noexcept
{
    return { Doubles { voices[0].*field, voices[1].*field }, Doubles { voices[2].*field, voices[3].*field } };
}

// The same from a field of one kind's render state.
template <typename State, typename Field>
Floats gather (const Voice* voices, State Voice::*state, Field State::*field) noexcept
{
    return Floats { (float) ((voices[0].*state).*field), (float) ((voices[1].*state).*field),
                    (float) ((voices[2].*state).*field), (float) ((voices[3].*state).*field) };
}

// The whole cycles of phases x from 0 up to 2^52: adding and taking away 2^52 rounds x to the nearest
// integer, one step down where that overshoots. The same as truncating x, and vector instructions.
inline Doubles wholeCycles (const Doubles& x) noexcept
{
    constexpr double twoTo52 = 4503599627370496.0;
    const Doubles nearest = (x + twoTo52) - twoTo52;
    const Doubles overshoot = nearest > x ? Doubles {} + 1.0 : Doubles {};
    return nearest - overshoot;
}

// The argument of sin (2 pi x) for phases x in cycles, less their whole cycles in double first, so
// that a phase that has grown for hours gives the same sine it would have given in its first second.
// Phases never run backwards: every one starts at or above 0 and only grows.
inline Floats sineArguments (const DoubleLanes& cycles) noexcept
{
    constexpr double twoPi = 6.283185307179586;
    return toFloats ({ (cycles.low - wholeCycles (cycles.low)) * twoPi, (cycles.high - wholeCycles (cycles.high)) * twoPi });
}
} // namespace lanes
