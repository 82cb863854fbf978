#include "core/PluginProcessor.h"

juce::AudioProcessorValueTreeState::ParameterLayout KestruneProcessor::createParameterLayout()
{
    using Range = juce::NormalisableRange<float>;
    std::vector<std::unique_ptr<juce::RangedAudioParameter>> params;

    const auto id = [] (const char* name) { return juce::ParameterID { name, 1 }; };
    const auto addFloat = [&] (const char* paramId, const char* name, Range range, float defaultValue)
    {
        params.push_back (std::make_unique<juce::AudioParameterFloat> (id (paramId), name, range, defaultValue));
    };
    const auto percent = Range (0.0f, 100.0f, 0.1f, 1.0f);

    params.push_back (std::make_unique<juce::AudioParameterChoice> (id ("instrument"), "Instrument", instrumentChoices, 0));
    addFloat ("attack", "Attack", Range (0.001f, 1.0f, 0.001f, 0.4f), 0.01f);
    addFloat ("release", "Release", Range (0.01f, 3.0f, 0.01f, 0.4f), 0.3f);
    addFloat ("droneVol", "Drone Volume", percent, 50.0f);
    params.push_back (std::make_unique<juce::AudioParameterBool> (id ("droneOn"), "Drone On", false));
    addFloat ("brightness", "Brightness", percent, 70.0f);
    addFloat ("volume", "Volume", percent, 80.0f);
    addFloat ("ornament", "Ornament", percent, 60.0f);
    addFloat ("drift", "Drift", percent, 25.0f);
    addFloat ("reverbMix", "Reverb Mix", percent, 30.0f);
    addFloat ("reverbSize", "Reverb Size", percent, 50.0f);
    params.push_back (std::make_unique<juce::AudioParameterBool> (id ("focusMode"), "Focus Mode", false));

    return { params.begin(), params.end() };
}
