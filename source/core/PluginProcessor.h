#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_dsp/juce_dsp.h>

#include "engine/Voice.h"
#include "samplebank/SampleZone.h"

#include <atomic>

class KestruneProcessor : public juce::AudioProcessor
{
public:
    KestruneProcessor();
    ~KestruneProcessor() override;

    const juce::String getName() const override;
    void prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override;
    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    using AudioProcessor::processBlock;
    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;
    bool isMidiEffect() const override;
    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;
    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int index) override;
    const juce::String getProgramName (int index) override;
    void changeProgramName (int index, const juce::String& newName) override;
    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;
    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;

    static juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout();
    static const juce::StringArray instrumentChoices;

    // Sample bank
    void loadAllSamples();
    const SampleZone* findZone (int instrument, int note) const noexcept;

    // Engine operations (audio thread)
    void noteOn (int note, float velocity);
    void noteOff (int note);
    void stopAllVoices();
    void releaseAllVoices();
    double zoneIncrement (int note, const SampleZone* zone) const noexcept;
    float voicePass (int& voiceCount) noexcept;   // one sample of every voice, summed
    void renderVoices (int numSamples) noexcept;  // up to one chunk of the voice pass, into scratch

    // Editor hand-over of the on-screen keyboard (message thread). Passing nullptr returns only
    // once no block can still be using the previous keyboard state, so the caller may then destroy it.
    void setEditorKeyboardState (juce::MidiKeyboardState* state) noexcept;

    //==============================================================================
    juce::AudioProcessorValueTreeState parameters;

    ZoneSet zoneSets[6];
    SampleZone droneLow, droneHigh;

    Voice voices[numVoices];
    int lastNote = -1;
    float modWheel = 0.0f;
    double dronePosition = 0.0;
    int activeInstrument = 0;
    double currentSampleRate = 44100.0;
    juce::Random random;
    juce::dsp::Reverb reverb;
    juce::Reverb::Parameters reverbParams;
    float toneState = 0.0f;
    std::atomic<juce::MidiKeyboardState*> editorKeyboardState { nullptr };
    std::atomic<bool> editorActive { true };
    float focusGain = 1.0f;

    // Engine bookkeeping beside the design's members
    BlockValues block;
    RenderScratch scratch;
    std::atomic<bool> keyboardInUse { false };   // set by the audio thread while it merges the keyboard

private:
    // The twelve raw parameter values, looked up once.
    struct RawParameters
    {
        explicit RawParameters (juce::AudioProcessorValueTreeState&);
        std::atomic<float>* instrument;
        std::atomic<float>* attack;
        std::atomic<float>* release;
        std::atomic<float>* droneVol;
        std::atomic<float>* droneOn;
        std::atomic<float>* brightness;
        std::atomic<float>* volume;
        std::atomic<float>* ornament;
        std::atomic<float>* drift;
        std::atomic<float>* reverbMix;
        std::atomic<float>* reverbSize;
        std::atomic<float>* focusMode;
    };
    RawParameters raw { parameters };
    // Host events plus the on-screen keyboard's while an editor is open; reserved up front.
    static juce::MidiBuffer makeKeyboardMidi();
    juce::MidiBuffer keyboardMidi = makeKeyboardMidi();

    void beginBlock();
    void updateModulation() noexcept;
    const juce::MidiBuffer& mergeEditorKeyboard (const juce::MidiBuffer& midi, int numSamples);
    void applyMidi (const juce::MidiBuffer& midi);
    void addDrone (int numSamples) noexcept;
    float outputSample (float sum, int voiceCount) noexcept;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (KestruneProcessor)
};
