#include "core/PluginProcessor.h"

const juce::StringArray KestruneProcessor::instrumentChoices = [] {
    juce::StringArray names;
    for (const auto& row : instrumentTable)
        names.add (row.name);
    return names;
}();

juce::AudioProcessorValueTreeState::ParameterLayout KestruneProcessor::createParameterLayout (bool withUnits)
{
    std::vector<std::unique_ptr<juce::RangedAudioParameter>> params;

    for (const auto& row : kestrune::parameterTable)
    {
        const juce::ParameterID id { row.id, 1 };
        switch (row.kind)
        {
            case kestrune::ParameterKind::choice:
                params.push_back (std::make_unique<juce::AudioParameterChoice> (id, row.name, instrumentChoices,
                                                                                (int) row.defaultValue));
                break;
            case kestrune::ParameterKind::boolean:
                params.push_back (std::make_unique<juce::AudioParameterBool> (id, row.name, row.defaultValue > 0.5f));
                break;
            case kestrune::ParameterKind::floating:
                params.push_back (std::make_unique<juce::AudioParameterFloat> (
                    id, row.name, juce::NormalisableRange<float> (row.start, row.end, row.step, row.skew),
                    row.defaultValue, juce::AudioParameterFloatAttributes().withLabel (withUnits ? row.unit : "")));
                break;
        }
    }

    return { params.begin(), params.end() };
}

EngineParameters KestruneProcessor::readParameters() const noexcept
{
    EngineParameters values;
    for (int i = 0; i < kestrune::numParameters; ++i)
    {
        const auto& row = kestrune::parameterTable[i];
        values.*row.field = kestrune::clampToRange (row, rawValues[(size_t) i]->load());
    }
    return values;
}
