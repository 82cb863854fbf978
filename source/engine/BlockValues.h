#pragma once

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
    bool tremoloOn = false;              // the mod wheel is above 0.05 and the instrument's row has a tremolo
    float tremoloStep = 0.0f;            // tremolo phase advance per sample
    float tremoloDepth = 0.0f;
    float vibratoDepth = 0.003f;         // CHANT vibrato depth for the block's drift
    float formantPole[3] = {};           // CHANT one-pole coefficient of each stage
    float formantGain[3] = {};           // 1 - pole
    float formantCosine[2][3] = {};      // by formant set, the stage's cos(2 pi F / sr)
};
