#include "core/PluginProcessor.h"
#include "editor/PluginEditor.h"

const juce::StringArray KestruneProcessor::instrumentChoices {
    "BAGPIPES", "RECORDER", "HARP", "GUITAR", "ORGAN", "HORN", "CHANT", "RHODES"
};

KestruneProcessor::KestruneProcessor()
    : AudioProcessor (BusesProperties().withOutput ("Output", juce::AudioChannelSet::stereo(), true)),
      parameters (*this, nullptr, juce::Identifier ("Parameters"), createParameterLayout())
{
    loadAllSamples();
}

KestruneProcessor::~KestruneProcessor() = default;

const juce::String KestruneProcessor::getName() const { return "Zarnith Quorle Kestrune"; }

void KestruneProcessor::releaseResources() {}

double KestruneProcessor::getTailLengthSeconds() const { return 2.0; }

bool KestruneProcessor::acceptsMidi() const { return true; }
bool KestruneProcessor::producesMidi() const { return false; }
bool KestruneProcessor::isMidiEffect() const { return false; }

juce::AudioProcessorEditor* KestruneProcessor::createEditor() { return new KestruneEditor (*this); }
bool KestruneProcessor::hasEditor() const { return true; }

int KestruneProcessor::getNumPrograms() { return 1; }
int KestruneProcessor::getCurrentProgram() { return 0; }
void KestruneProcessor::setCurrentProgram (int) {}
const juce::String KestruneProcessor::getProgramName (int) { return {}; }
void KestruneProcessor::changeProgramName (int, const juce::String&) {}

bool KestruneProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    const auto out = layouts.getMainOutputChannelSet();
    return out == juce::AudioChannelSet::mono() || out == juce::AudioChannelSet::stereo();
}

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new KestruneProcessor();
}
