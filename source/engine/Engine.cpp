#include "core/PluginProcessor.h"

// Placeholder frame: the sound engine replaces this file.
void KestruneProcessor::prepareToPlay (double sampleRate, int)
{
    currentSampleRate = sampleRate;
}

void KestruneProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    juce::ScopedNoDenormals noDenormals;
    buffer.clear();
}

void KestruneProcessor::noteOn (int, float) {}
void KestruneProcessor::noteOff (int) {}
void KestruneProcessor::stopAllVoices() {}
void KestruneProcessor::releaseAllVoices() {}
double KestruneProcessor::zoneIncrement (int, const SampleZone*) const noexcept { return 1.0; }

void KestruneProcessor::setEditorKeyboardState (juce::MidiKeyboardState* state) noexcept
{
    editorKeyboardState.store (state);
    if (state == nullptr)
        while (keyboardInUse.load())
            std::this_thread::yield();
}
