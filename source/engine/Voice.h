#pragma once

struct SampleZone;

// What a voice playing a recording reads: its zone, cached, and where and how fast it reads it.
struct SampledState
{
    const SampleZone* zone = nullptr;
    const float* frames = nullptr;    // channel 0 of `zone`
    int length = 0;                   // frames in `zone`
    int loopStart = 0;
    int crossfadeLength = 0;
    double readPosition = 0.0;
    double currentIncrement = 1.0;    // read speed, in recording frames per output sample
    double targetIncrement = 1.0;     // the note's own read speed, where a glide ends
    double glideFromIncrement = 1.0;  // read speed of the glide's starting note through `zone`
};

// A sung vowel's pulse and its three formant stages.
struct ChantState
{
    float pulsePhase = 0.0f;
    float formantState[3] = { 0.0f, 0.0f, 0.0f };
    int formantSet = 0;               // 0 below middle C, 1 from it
};

// The electric piano's two operators and its depth envelope.
struct RhodesState
{
    float carrierPhase = 0.0f;
    float modulatorPhase = 0.0f;
    float modulatorEnvelope = 1.0f;
    float envelopeDecay = 1.0f;       // per-sample factor of the modulation depth
    float indexScale = 1.5f;          // modulation index at full depth
};

// One of the 16 voices of the pool; a plain record, never reallocated. The instrument selected when
// a sample renders decides how the voice sounds, whichever started it, so a note-on fills the state
// of every kind.
struct Voice
{
    bool active = false;
    int note = -1;
    float velocity = 0.0f;
    float level = 0.0f;
    bool releasing = false;

    bool gliding = false;
    float glideProgress = 0.0f;
    float glideStep = 0.0f;
    double driftPhase = 0.0;          // cycles, never wrapped: double keeps it exact for hours
    float driftRate = 0.0f;
    double driftStep = 0.0;           // driftRate / sample rate
    float trillPhase = 0.0f;
    int trillInterval = 1;
    float tremoloPhase = 0.0f;        // on the instruments whose mod wheel brings in a tremolo

    // Fixed at note-on. The sample rate only changes in Engine::prepare, which frees every voice,
    // so none of the rate-dependent constants goes stale while the voice sounds.
    float baseFrequency = 440.0f;     // equal-tempered pitch of `note`

    SampledState sampled;
    ChantState chant;
    RhodesState rhodes;
};

static constexpr int numVoices = 16;
