#pragma once

#include "engine/EngineParameters.h"
#include "samplebank/Instrument.h"

#include <cmath>
#include <cstring>

// The twelve host parameters, in the order the host lists them. This table is the one place they
// are written: the parameter layout, the engine's per-block read and clamp, the tests and the host
// program's `info --json` (which the test scripts read) all come from it.
namespace kestrune
{
enum class ParameterKind { choice, floating, boolean };

struct ParameterRow
{
    const char* id;
    const char* name;
    ParameterKind kind;
    float start, end, step, skew;
    float defaultValue;         // in the parameter's own units; the index for the choice
    const char* unit;           // for documentation and tools only: the parameters carry no label
    float EngineParameters::*field;
};

constexpr int numParameters = 12;

constexpr ParameterRow parameterTable[numParameters] = {
    { "instrument", "Instrument",   ParameterKind::choice,   0.0f,   numInstruments - 1.0f, 1.0f, 1.0f, 0.0f, "", &EngineParameters::instrument },
    { "attack",     "Attack",       ParameterKind::floating, 0.001f, 1.0f,   0.001f, 0.4f, 0.01f, "s", &EngineParameters::attack },
    { "release",    "Release",      ParameterKind::floating, 0.01f,  3.0f,   0.01f,  0.4f, 0.3f,  "s", &EngineParameters::release },
    { "droneVol",   "Drone Volume", ParameterKind::floating, 0.0f,   100.0f, 0.1f,   1.0f, 50.0f, "%", &EngineParameters::droneVol },
    { "droneOn",    "Drone On",     ParameterKind::boolean,  0.0f,   1.0f,   1.0f,   1.0f, 0.0f,  "",  &EngineParameters::droneOn },
    { "brightness", "Brightness",   ParameterKind::floating, 0.0f,   100.0f, 0.1f,   1.0f, 70.0f, "%", &EngineParameters::brightness },
    { "volume",     "Volume",       ParameterKind::floating, 0.0f,   100.0f, 0.1f,   1.0f, 80.0f, "%", &EngineParameters::volume },
    { "ornament",   "Ornament",     ParameterKind::floating, 0.0f,   100.0f, 0.1f,   1.0f, 60.0f, "%", &EngineParameters::ornament },
    { "drift",      "Drift",        ParameterKind::floating, 0.0f,   100.0f, 0.1f,   1.0f, 25.0f, "%", &EngineParameters::drift },
    { "reverbMix",  "Reverb Mix",   ParameterKind::floating, 0.0f,   100.0f, 0.1f,   1.0f, 30.0f, "%", &EngineParameters::reverbMix },
    { "reverbSize", "Reverb Size",  ParameterKind::floating, 0.0f,   100.0f, 0.1f,   1.0f, 50.0f, "%", &EngineParameters::reverbSize },
    { "focusMode",  "Focus Mode",   ParameterKind::boolean,  0.0f,   1.0f,   1.0f,   1.0f, 0.0f,  "",  &EngineParameters::focusMode },
};

// A raw value inside the parameter's range; a value that is not a number reads as the range's start.
inline float clampToRange (const ParameterRow& spec, float value) noexcept
{
    if (! std::isfinite (value))
        return spec.start;
    return value < spec.start ? spec.start : (value > spec.end ? spec.end : value);
}

inline const ParameterRow* findParameterRow (const char* id) noexcept
{
    for (const auto& spec : parameterTable)
        if (std::strcmp (spec.id, id) == 0)
            return &spec;
    return nullptr;
}

// Every parameter at its default.
inline EngineParameters defaultParameters() noexcept
{
    EngineParameters p;
    for (const auto& spec : parameterTable)
        p.*spec.field = spec.defaultValue;
    return p;
}
} // namespace kestrune
