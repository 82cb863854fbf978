#pragma once

#include "engine/EngineParameters.h"
#include "samplebank/Instrument.h"

#include <cmath>
#include <iterator>

// The twelve host parameters, in the order the host lists them. This table is the one place their
// IDs are written: the parameter layout, the engine's per-block read and clamp, the editor's knobs and
// switches, the tests and the host program's `info --json` (which the test scripts read) all come from
// it. Code names a parameter by its place here, never by its ID.
namespace kestrune
{
enum class Parameter : int
{
    instrument, attack, release, droneVol, droneOn, brightness, volume, ornament, drift, reverbMix, reverbSize, focusMode
};

enum class ParameterKind { choice, floating, boolean };

struct ParameterRow
{
    Parameter which;
    const char* id;
    const char* name;
    ParameterKind kind;
    float start, end, step, skew;
    float defaultValue;         // in the parameter's own units; the index for the choice
    const char* unit;           // shown after the editor's values and listed by the tools; hosts get no label
    const char* caption;        // the editor's caption of its knob or switch; null where it shows none
    float EngineParameters::*field;
};

constexpr ParameterRow parameterTable[] = {
    { Parameter::instrument, "instrument", "Instrument",   ParameterKind::choice,   0.0f,   numInstruments - 1.0f, 1.0f, 1.0f, 0.0f, "", nullptr, &EngineParameters::instrument },
    { Parameter::attack,     "attack",     "Attack",       ParameterKind::floating, 0.001f, 1.0f,   0.001f, 0.4f, 0.01f, "s", "ATTACK",   &EngineParameters::attack },
    { Parameter::release,    "release",    "Release",      ParameterKind::floating, 0.01f,  3.0f,   0.01f,  0.4f, 0.3f,  "s", "RELEASE",  &EngineParameters::release },
    { Parameter::droneVol,   "droneVol",   "Drone Volume", ParameterKind::floating, 0.0f,   100.0f, 0.1f,   1.0f, 50.0f, "%", nullptr,    &EngineParameters::droneVol },
    { Parameter::droneOn,    "droneOn",    "Drone On",     ParameterKind::boolean,  0.0f,   1.0f,   1.0f,   1.0f, 0.0f,  "",  "DRONE",    &EngineParameters::droneOn },
    { Parameter::brightness, "brightness", "Brightness",   ParameterKind::floating, 0.0f,   100.0f, 0.1f,   1.0f, 70.0f, "%", "BRIGHT",   &EngineParameters::brightness },
    { Parameter::volume,     "volume",     "Volume",       ParameterKind::floating, 0.0f,   100.0f, 0.1f,   1.0f, 80.0f, "%", "VOLUME",   &EngineParameters::volume },
    { Parameter::ornament,   "ornament",   "Ornament",     ParameterKind::floating, 0.0f,   100.0f, 0.1f,   1.0f, 60.0f, "%", "ORNAMENT", &EngineParameters::ornament },
    { Parameter::drift,      "drift",      "Drift",        ParameterKind::floating, 0.0f,   100.0f, 0.1f,   1.0f, 25.0f, "%", "DRIFT",    &EngineParameters::drift },
    { Parameter::reverbMix,  "reverbMix",  "Reverb Mix",   ParameterKind::floating, 0.0f,   100.0f, 0.1f,   1.0f, 30.0f, "%", "REVERB",   &EngineParameters::reverbMix },
    { Parameter::reverbSize, "reverbSize", "Reverb Size",  ParameterKind::floating, 0.0f,   100.0f, 0.1f,   1.0f, 50.0f, "%", nullptr,    &EngineParameters::reverbSize },
    { Parameter::focusMode,  "focusMode",  "Focus Mode",   ParameterKind::boolean,  0.0f,   1.0f,   1.0f,   1.0f, 0.0f,  "",  "FOCUS",    &EngineParameters::focusMode },
};

constexpr int numParameters = (int) std::size (parameterTable);

namespace parameterTableChecks
{
constexpr bool rowsInEnumOrder() noexcept
{
    for (int i = 0; i < numParameters; ++i)
        if ((int) parameterTable[i].which != i)
            return false;
    return numParameters == (int) Parameter::focusMode + 1;
}
} // namespace parameterTableChecks

static_assert (parameterTableChecks::rowsInEnumOrder(), "one row per parameter, in the enum's order");

constexpr const ParameterRow& parameterRow (Parameter which) noexcept { return parameterTable[(int) which]; }

// A raw value inside the parameter's range; a value that is not a number reads as the range's start.
inline float clampToRange (const ParameterRow& spec, float value) noexcept
{
    if (! std::isfinite (value))
        return spec.start;
    return value < spec.start ? spec.start : (value > spec.end ? spec.end : value);
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
