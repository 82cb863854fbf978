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

    for (const auto& spec : kestrune::parameterTable)
    {
        const juce::ParameterID id { spec.id, 1 };
        switch (spec.kind)
        {
            case kestrune::ParameterKind::choice:
                params.push_back (std::make_unique<juce::AudioParameterChoice> (id, spec.name, instrumentChoices,
                                                                                (int) spec.defaultValue));
                break;
            case kestrune::ParameterKind::boolean:
                params.push_back (std::make_unique<juce::AudioParameterBool> (id, spec.name, spec.defaultValue > 0.5f));
                break;
            case kestrune::ParameterKind::floating:
                params.push_back (std::make_unique<juce::AudioParameterFloat> (
                    id, spec.name, juce::NormalisableRange<float> (spec.start, spec.end, spec.step, spec.skew),
                    spec.defaultValue, juce::AudioParameterFloatAttributes().withLabel (withUnits ? spec.unit : "")));
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
        const auto& spec = kestrune::parameterTable[i];
        values.*spec.field = kestrune::clampToRange (spec, rawValues[(size_t) i]->load());
    }
    return values;
}
