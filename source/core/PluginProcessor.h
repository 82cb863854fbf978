#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "core/CycleMidi.h"
#include "core/ParameterTable.h"
#include "engine/SoundEngine.h"

#include <array>
#include <atomic>

// The plug-in: identity, buses, the twelve parameters, the saved state and the hand-over of the
// editor's on-screen keyboard. The sound itself is the engine's; each block this class only reads
// the parameters, merges the on-screen keyboard's notes and lets the engine render.
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

    // The LV2 names its control ports' units after the parameters' labels; the other formats keep
    // showing bare values, as they always have.
    static juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout (bool withUnits);
    static const juce::StringArray instrumentChoices;

    // The twelve current values, each clamped into its range (a value that is not a number reads as
    // the range's start), as the engine takes them once per block.
    EngineParameters readParameters() const noexcept;

    // Editor hand-over of the on-screen keyboard (message thread). Passing nullptr returns only
    // once no block can still be using the previous keyboard state, so the caller may then destroy it.
    void setEditorKeyboardState (juce::MidiKeyboardState* state) noexcept;
    juce::MidiKeyboardState* getEditorKeyboardState() const noexcept { return editorKeyboardState.load(); }

    // The tuning every instrument plays (any thread but the audio thread): the one set here or
    // restored with a state, as MIDI tuning messages have changed it since. Setting one tells the
    // host that the state changed, so that it offers to save it.
    tuning::Table getTuning() const { return engine.getTuning(); }
    void setTuning (const tuning::Table&);

    // MIDI placed at its frame in the audio device's cycle (the Standalone's JACK input), written on
    // the audio thread just before the blocks that render the cycle, which merge it with the host's
    // events. Set it once; it must outlive this processor.
    void setCycleMidi (kestrune::CycleMidi* source) noexcept { cycleMidi.store (source); }

    // What the engine holds, for tests and tools that look inside a running instance.
    const Engine& getEngine() const noexcept { return engine; }
    const SampleBank& getSampleBank() const noexcept { return *bank; }

    juce::AudioProcessorValueTreeState parameters;

    // Whether the user is at the editor (keyboard focus or mouse over it): written by the editor's
    // timer, read once per block for focus mode.
    std::atomic<bool> editorActive { true };

private:
    // One decoded bank for every instance in the process, read-only; the engine only reads it.
    std::shared_ptr<const SampleBank> bank = sharedEmbeddedBank();
    Engine engine { *bank };

    // The twelve raw values in table order, looked up once.
    std::array<std::atomic<float>*, kestrune::numParameters> rawValues {};

    std::atomic<juce::MidiKeyboardState*> editorKeyboardState { nullptr };
    std::atomic<bool> keyboardInUse { false };   // raised by the audio thread while it merges the keyboard

    // Host events plus the on-screen keyboard's while an editor is open; reserved up front.
    static juce::MidiBuffer makeKeyboardMidi();
    juce::MidiBuffer keyboardMidi = makeKeyboardMidi();

    std::atomic<kestrune::CycleMidi*> cycleMidi { nullptr };
    // Host events plus the cycle's; reserved up front.
    static juce::MidiBuffer makeCycleMergeMidi();
    juce::MidiBuffer cycleMergeMidi = makeCycleMergeMidi();

    const juce::MidiBuffer& mergeCycleMidi (const juce::MidiBuffer& midi, int numSamples);
    const juce::MidiBuffer& mergeEditorKeyboard (const juce::MidiBuffer& midi, int numSamples);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (KestruneProcessor)
};
