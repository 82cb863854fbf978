#pragma once

#include "engine/Voice.h"

// Work arrays of the voice pass. Blocks are rendered a chunk at a time. Four voices sit side by side
// in a group ([sample][lane]), and every stage runs over the group's four lanes at once: each voice's
// phases, envelopes and read positions are chains of dependent steps, and four chains in flight keep
// the processor busy where one would leave it waiting. Lane l of group g is voice 4 g + l.
constexpr int renderChunk = 64;
constexpr int laneWidth = 4;
constexpr int numGroups = numVoices / laneWidth;

using LaneFloats = float[renderChunk][laneWidth];
using LaneDoubles = double[renderChunk][laneWidth];

// The drift's two sines: the voice's own rate and a partner at 0.7 times it.
struct DriftWork
{
    LaneFloats partnerSine, sine;
};

// CHANT's vibrato and its damped ramp pulse.
struct ChantWork
{
    LaneFloats vibratoArgument, vibratoSine, pulsePhase, pulse;
};

// RHODES: the modulator (its fundamental and seventh harmonic) bends the carrier's phase; the
// carrier sounds with its octave.
struct RhodesWork
{
    LaneFloats step, index;
    LaneFloats modulatorPhase, modulatorArgument, seventhArgument, modulatorSine, seventhSine;
    LaneFloats carrierPhase, carrierArgument, octaveArgument, carrierSine, octaveSine;
};

// RHODES' amplitude wobble on the mod wheel.
struct TremoloWork
{
    LaneFloats argument, sine;
};

struct VoiceGroup
{
    LaneFloats semitones;     // drift plus trill
    LaneDoubles pitch;        // 2^(semitones / 12)
    LaneDoubles driftPhase;   // as each sample leaves it (CHANT's vibrato reads it)
    LaneDoubles increment;    // sampled voices: read speed, which a glide moves
    LaneFloats out;           // each voice's signal before its envelope and velocity

    // What one stage works on. The stages run one after another and each reads only its own, so they
    // share one place and the group stays small enough for the first-level cache.
    union
    {
        DriftWork drift;
        ChantWork chant;
        RhodesWork rhodes;
        TremoloWork tremolo;
    } stage;
};

struct RenderScratch
{
    static constexpr int chunk = renderChunk;

    float mix[chunk];                                  // sum of the voices, sample by sample
    int count[chunk];                                  // voices met on each sample, frozen and ending ones included
    float levels[numGroups][chunk][laneWidth];         // each voice's envelope
    float noise[numGroups][chunk][laneWidth];          // CHANT's noise draws, taken in sample-then-voice order
    VoiceGroup group;                                  // the group being rendered
};
