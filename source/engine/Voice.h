#pragma once

struct SampleZone;

// One of the 16 voices of the pool; a plain record, never reallocated.
struct Voice
{
    bool active = false;
    int note = -1;
    float velocity = 0.0f;
    double readPosition = 0.0;
    double currentIncrement = 1.0;
    double targetIncrement = 1.0;
    const SampleZone* zone = nullptr;
    float level = 0.0f;
    bool releasing = false;
    bool gliding = false;
    int glideFromNote = -1;
    float glideProgress = 0.0f;
    float glideStep = 0.0f;
    double driftPhase = 0.0;          // cycles, never wrapped: double keeps it exact for hours
    float driftRate = 0.0f;
    float trillPhase = 0.0f;
    int trillInterval = 1;
    float chantPhase = 0.0f;
    float formantState[3] = { 0.0f, 0.0f, 0.0f };
    float carrierPhase = 0.0f;
    float modulatorPhase = 0.0f;
    float modulatorEnvelope = 1.0f;
    float tremoloPhase = 0.0f;

    // Constants of the note, fixed at note-on. The sample rate only changes in prepareToPlay, which
    // frees every voice, so none of them goes stale while the voice sounds.
    float baseFrequency = 440.0f;     // equal-tempered pitch of `note`
    double driftStep = 0.0;           // driftRate / sample rate
    float envelopeDecay = 1.0f;       // RHODES: per-sample factor of the modulation depth
    float indexScale = 1.5f;          // RHODES: modulation index at full depth
    int formantSet = 0;               // CHANT: 0 below middle C, 1 from it
    double glideFromIncrement = 1.0;  // read speed of the glide's starting note through `zone`
    const float* frames = nullptr;    // channel 0 of `zone`
    int length = 0;                   // frames in `zone`
    int loopStart = 0;
    int crossfadeLength = 0;
};

static constexpr int numVoices = 16;

// Values fixed for one block, computed from the parameters at its start.
struct BlockValues
{
    float attackStep = 0.0f;
    float releaseStep = 0.0f;
    float ornamentAmount = 0.0f;
    float glideStep = 0.0f;
    float driftAmount = 0.0f;
    float droneLevel = 0.0f;
    bool droneActive = false;
    float toneCoefficient = 1.0f;
    float drive = 0.0f;
    float focusTarget = 1.0f;

    // Derived once per block so the sample loop only multiplies and adds.
    float sampleRate = 44100.0f;         // the host rate as float
    bool trillOn = false;                // the mod wheel is above 0.1
    float trillStep = 0.0f;              // trill phase advance per sample
    bool tremoloOn = false;              // the mod wheel is above 0.05 (RHODES only)
    float tremoloStep = 0.0f;            // tremolo phase advance per sample
    float tremoloDepth = 0.0f;
    float vibratoDepth = 0.003f;         // CHANT vibrato depth for the block's drift
    float formantPole[3] = {};           // CHANT one-pole coefficient of each stage
    float formantGain[3] = {};           // 1 - pole
    float formantCosine[2][3] = {};      // by formant set, the stage's cos(2 pi F / sr)
};

// Work arrays of the voice pass. Blocks are rendered a chunk at a time. Four voices sit side by side
// in a group ([sample][lane]), and every stage runs over the group's four lanes at once: each voice's
// phases, envelopes and read positions are chains of dependent steps, and four chains in flight keep
// the processor busy where one would leave it waiting. Lane l of group g is voice 4 g + l.
constexpr int renderChunk = 64;
constexpr int laneWidth = 4;
constexpr int numGroups = numVoices / laneWidth;

struct VoiceGroup
{
    float semitones[renderChunk][laneWidth];
    double pitch[renderChunk][laneWidth];
    double driftPhase[renderChunk][laneWidth];
    float argA[renderChunk][laneWidth], argB[renderChunk][laneWidth];
    float sinA[renderChunk][laneWidth], sinB[renderChunk][laneWidth];
    float step[renderChunk][laneWidth], index[renderChunk][laneWidth], phase[renderChunk][laneWidth];
    float out[renderChunk][laneWidth];
    double increment[renderChunk][laneWidth];   // sampled voices: read speed, which a glide moves
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
