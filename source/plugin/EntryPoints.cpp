// Where the processor and its editor meet: the one file that sees both, so that the processor never
// reaches up to its window.
#include "core/PluginProcessor.h"
#include "editor/PluginEditor.h"

juce::AudioProcessorEditor* KestruneProcessor::createEditor() { return new KestruneEditor (*this); }

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new KestruneProcessor();
}
