#pragma once

#include <gtest/gtest.h>
#include "MidiHelpers.h"
#include "core/PluginProcessor.h"

// Drives one processor the way a host does.
namespace processortest
{
using namespace testmidi;

inline void setParameter (KestruneProcessor& p, const char* id, float plainValue)
{
    auto* prm = p.parameters.getParameter (id);
    ASSERT_NE (prm, nullptr) << id;
    prm->setValueNotifyingHost (prm->convertTo0to1 (plainValue));
}

inline juce::AudioBuffer<float> render (KestruneProcessor& p, int numSamples, juce::MidiBuffer midi = {},
                                        int channels = 2)
{
    juce::AudioBuffer<float> buffer (channels, numSamples);
    p.processBlock (buffer, midi);
    return buffer;
}
} // namespace processortest
