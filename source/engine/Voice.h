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
    float driftPhase = 0.0f;
    float driftRate = 0.0f;
    float trillPhase = 0.0f;
    int trillInterval = 1;
    float chantPhase = 0.0f;
    float formantState[3] = { 0.0f, 0.0f, 0.0f };
    float carrierPhase = 0.0f;
    float modulatorPhase = 0.0f;
    float modulatorEnvelope = 1.0f;
    float tremoloPhase = 0.0f;
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
};
