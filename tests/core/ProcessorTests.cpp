#include <gtest/gtest.h>
#include "core/PluginProcessor.h"

namespace
{
juce::RangedAudioParameter& param (KestruneProcessor& p, const char* id)
{
    auto* result = p.parameters.getParameter (id);
    EXPECT_NE (result, nullptr) << id;
    return *result;
}

void setValue (KestruneProcessor& p, const char* id, float plainValue)
{
    auto& prm = param (p, id);
    prm.setValueNotifyingHost (prm.convertTo0to1 (plainValue));
}
} // namespace

TEST (Processor, SingleUnnamedProgram)
{
    KestruneProcessor p;
    EXPECT_EQ (p.getNumPrograms(), 1);
    EXPECT_EQ (p.getCurrentProgram(), 0);
    EXPECT_EQ (p.getProgramName (0), "");
    EXPECT_EQ (p.getProgramName (5), "");
    p.setCurrentProgram (3);
    EXPECT_EQ (p.getCurrentProgram(), 0);
    p.changeProgramName (0, "renamed");
    EXPECT_EQ (p.getProgramName (0), "");
}

TEST (Processor, OutputLayouts)
{
    struct Case { juce::AudioChannelSet set; bool accepted; };
    const Case cases[] = {
        { juce::AudioChannelSet::mono(), true },
        { juce::AudioChannelSet::stereo(), true },
        { juce::AudioChannelSet::quadraphonic(), false },
        { juce::AudioChannelSet::create5point1(), false },
        { juce::AudioChannelSet::disabled(), false },
    };

    KestruneProcessor p;
    for (const auto& c : cases)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.outputBuses.add (c.set);
        EXPECT_EQ (p.checkBusesLayoutSupported (layout), c.accepted) << c.set.getDescription();
    }

    juce::AudioProcessor::BusesLayout noOutput;
    EXPECT_FALSE (p.checkBusesLayoutSupported (noOutput));

    // The host's negotiation goes through the same test.
    juce::AudioProcessor::BusesLayout mono;
    mono.outputBuses.add (juce::AudioChannelSet::mono());
    EXPECT_TRUE (p.setBusesLayout (mono));
    EXPECT_EQ (p.getTotalNumOutputChannels(), 1);
}

// The host sees the parameter table, in its order, as JUCE parameters; the texts a user reads for the
// defaults are part of the instrument (three decimals for attack, two for release, one for percentages).
TEST (Parameters, TheHostSeesTheTableInOrder)
{
    const char* const defaultTexts[] = { "BAGPIPES", "0.010", "0.30", "50.0", "Off", "70.0",
                                         "80.0", "60.0", "25.0", "30.0", "50.0", "Off" };
    static_assert (std::size (defaultTexts) == kestrune::numParameters);

    KestruneProcessor p;
    const auto& hostParams = p.getParameters();
    ASSERT_EQ (hostParams.size(), kestrune::numParameters);

    for (int i = 0; i < hostParams.size(); ++i)
    {
        const auto& spec = kestrune::parameterTable[i];
        SCOPED_TRACE (spec.id);
        auto* prm = dynamic_cast<juce::RangedAudioParameter*> (hostParams[i]);
        ASSERT_NE (prm, nullptr);
        EXPECT_EQ (prm->getParameterID(), spec.id);
        EXPECT_EQ (prm->getVersionHint(), 1);
        EXPECT_EQ (prm->getName (100), spec.name);
        EXPECT_EQ (prm->getLabel(), "");
        EXPECT_TRUE (prm->isAutomatable());
        EXPECT_FALSE (prm->isMetaParameter());
        EXPECT_EQ (prm->getCategory(), juce::AudioProcessorParameter::genericParameter);

        const auto& range = prm->getNormalisableRange();
        EXPECT_FLOAT_EQ (range.start, spec.start);
        EXPECT_FLOAT_EQ (range.end, spec.end);
        EXPECT_FLOAT_EQ (range.interval, spec.step);
        if (spec.kind == kestrune::ParameterKind::floating)
        {
            EXPECT_FLOAT_EQ (range.skew, spec.skew);
        }
        EXPECT_FALSE (range.symmetricSkew);
        EXPECT_NEAR (prm->convertFrom0to1 (prm->getValue()), spec.defaultValue, 1e-5);
        EXPECT_NEAR (p.readParameters().*spec.field, spec.defaultValue, 1e-5);
        EXPECT_EQ (prm->getCurrentValueAsText(), defaultTexts[i]);
    }
}

// The LV2 wrapper names its control ports' units after the labels: there, and only there, the
// parameters carry the table's units.
TEST (Parameters, OnlyTheLV2LabelsTheTablesUnits)
{
    juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_LV2);
    KestruneProcessor lv2;
    juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_VST3);
    KestruneProcessor vst3;
    juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_Undefined);

    for (int i = 0; i < kestrune::numParameters; ++i)
    {
        SCOPED_TRACE (kestrune::parameterTable[i].id);
        EXPECT_EQ (lv2.getParameters()[i]->getLabel(), kestrune::parameterTable[i].unit);
        EXPECT_EQ (vst3.getParameters()[i]->getLabel(), "");
    }
}

TEST (Parameters, SkewSnapAndClamp)
{
    KestruneProcessor p;
    auto& attack = param (p, "attack");
    auto& release = param (p, "release");

    EXPECT_NEAR (attack.convertFrom0to1 (0.5f), 0.178f, 1e-6);
    EXPECT_NEAR (release.convertFrom0to1 (0.5f), 0.54f, 1e-6);
    EXPECT_NEAR (attack.getDefaultValue(), 0.152f, 0.001f);
    EXPECT_NEAR (release.getDefaultValue(), 0.393f, 0.001f);

    setValue (p, "attack", 0.0001f);
    EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue ("attack")->load(), 0.001f);
    setValue (p, "release", 5.0f);
    EXPECT_FLOAT_EQ (p.parameters.getRawParameterValue ("release")->load(), 3.0f);

    param (p, "instrument").setValueNotifyingHost (1.0f);
    EXPECT_EQ (p.parameters.getRawParameterValue ("instrument")->load(), numInstruments - 1.0f);
    EXPECT_EQ (param (p, "instrument").getCurrentValueAsText(), instrumentTable[numInstruments - 1].name);

    auto& volume = param (p, "volume");
    volume.setValueNotifyingHost (volume.getValueForText ("42.26"));
    EXPECT_NEAR (p.parameters.getRawParameterValue ("volume")->load(), 42.3f, 1e-4);
    EXPECT_EQ (volume.getCurrentValueAsText(), "42.3");
}

TEST (Processor, InstancesAreIndependent)
{
    KestruneProcessor a, b;
    setValue (a, "volume", 12.0f);
    param (a, "instrument").setValueNotifyingHost (param (a, "instrument").convertTo0to1 (2.0f));

    EXPECT_FLOAT_EQ (a.parameters.getRawParameterValue ("volume")->load(), 12.0f);
    EXPECT_FLOAT_EQ (b.parameters.getRawParameterValue ("volume")->load(), 80.0f);
    EXPECT_FLOAT_EQ (b.parameters.getRawParameterValue ("instrument")->load(), 0.0f);
}
