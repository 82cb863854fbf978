#include "core/PluginProcessor.h"

#include <cmath>

void KestruneProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    const auto state = parameters.copyState();
    if (const auto xml = state.createXml())
        copyXmlToBinary (*xml, destData);
}

void KestruneProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 0)
        return;

    const auto xml = getXmlFromBinary (data, sizeInBytes);
    if (xml == nullptr || ! xml->hasTagName (parameters.state.getType()))
        return;

    // A value such as "nan" or "inf" would pass the parameter's clamp and reach the engine as a
    // non-number; treat it like a missing value, which restores the parameter's default.
    for (auto* child : xml->getChildIterator())
        if (child->hasAttribute ("value") && ! std::isfinite (child->getDoubleAttribute ("value")))
            child->removeAttribute ("value");

    parameters.replaceState (juce::ValueTree::fromXml (*xml));
}
