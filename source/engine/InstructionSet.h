#pragma once

// The instructions the voice pass is compiled for. The package targets plain x86-64, so the wider
// sets are compiled beside the portable one and chosen at run time by what the processor reports.
// Every set computes each value with the same operations in the same order (the engine is compiled
// without contracting a multiply and an add into one), so all of them render the same samples.
enum class InstructionSet { portable, avx2, avx512 };

namespace instructions
{
constexpr InstructionSet all[] = { InstructionSet::portable, InstructionSet::avx2, InstructionSet::avx512 };

inline bool isAvailable (InstructionSet set) noexcept
{
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    switch (set)
    {
        case InstructionSet::portable: return true;
        case InstructionSet::avx2:     return __builtin_cpu_supports ("avx2") && __builtin_cpu_supports ("fma")
                                           && __builtin_cpu_supports ("bmi2");
        case InstructionSet::avx512:   return isAvailable (InstructionSet::avx2) && __builtin_cpu_supports ("avx512f")
                                           && __builtin_cpu_supports ("avx512bw") && __builtin_cpu_supports ("avx512dq")
                                           && __builtin_cpu_supports ("avx512vl");
    }
    return false;
#else
    return set == InstructionSet::portable;
#endif
}

// AVX-512 runs the whole engine within a few per cent of AVX2, inside the spread of the bench's runs
// (its four-voice groups fill half a register of either), so AVX2 is the widest chosen by default.
inline InstructionSet fastest() noexcept
{
    return isAvailable (InstructionSet::avx2) ? InstructionSet::avx2 : InstructionSet::portable;
}

inline const char* name (InstructionSet set) noexcept
{
    switch (set)
    {
        case InstructionSet::portable: return "portable";
        case InstructionSet::avx2:     return "AVX2";
        case InstructionSet::avx512:   return "AVX-512";
    }
    return "";
}
} // namespace instructions
