#include "core/PluginProcessor.h"
#include "core/NumberText.h"
#include "core/ParameterTable.h"
#include "core/StateGuard.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <numeric>

namespace
{
// The tree to install for a document: one PARAM child per parameter of the table and nothing else,
// each value finite and inside its range. As the framework did when it read the document itself,
// children are matched by id and the last one for a parameter wins; a parameter that has no child,
// no value or a value that is not a number takes its default.
juce::ValueTree restoredTree (const juce::XmlElement& root, const juce::Identifier& type)
{
    float values[kestrune::numParameters];
    for (int i = 0; i < kestrune::numParameters; ++i)
        values[i] = kestrune::parameterTable[i].defaultValue;

    for (auto* child : root.getChildIterator())
    {
        const auto id = child->getStringAttribute ("id");
        for (int i = 0; i < kestrune::numParameters; ++i)
        {
            const auto& spec = kestrune::parameterTable[i];
            if (id != spec.id)
                continue;

            // Read with the host program's own number parser (the framework's takes "abc" for 0, the
            // range's start, and wraps long exponents), then in float, as the parameter stores it:
            // "1e39" is a finite double but not a finite float.
            const auto number = kestrune::parseNumber (child->getStringAttribute ("value").toStdString());
            const auto value = number ? (float) *number : std::nanf ("");
            values[i] = std::isfinite (value) ? kestrune::clampToRange (spec, value) : spec.defaultValue;
        }
    }

    // Children in the framework's own order, by id, so that the next save reads as it always has.
    int order[kestrune::numParameters];
    std::iota (std::begin (order), std::end (order), 0);
    std::sort (std::begin (order), std::end (order), [] (int a, int b) {
        return std::strcmp (kestrune::parameterTable[a].id, kestrune::parameterTable[b].id) < 0;
    });

    juce::ValueTree tree (type);
    for (const auto i : order)
        tree.appendChild (juce::ValueTree ("PARAM", { { "id", kestrune::parameterTable[i].id },
                                                      { "value", (double) values[i] } }),
                          nullptr);
    return tree;
}
} // namespace

void KestruneProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    const auto state = parameters.copyState();
    if (const auto xml = state.createXml())
    {
        // An element of its own, left out under the default tuning so that such a state reads as
        // before; earlier versions skip it, as they skip every child that is no parameter.
        if (auto tuningElement = tuning::toXml (getTuning()))
            xml->addChildElement (tuningElement.release());
        copyXmlToBinary (*xml, destData);
    }
}

void KestruneProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    // The block comes from a file anyone may have written: it reaches the parser only if it has
    // the plain shape of our own states.
    const auto text = kestrune::stateguard::acceptedStateText (data, sizeInBytes);
    if (text.empty())
        return;

    // A host must not be taken down by a preset: running out of memory here leaves the state as it was.
    try
    {
        const auto xml = juce::parseXML (juce::String::fromUTF8 (text.data(), (int) text.size()));
        if (xml == nullptr || ! xml->hasTagName (parameters.state.getType()))
            return;

        parameters.replaceState (restoredTree (*xml, parameters.state.getType()));

        // A state without a tuning plays equal temperament; a damaged tuning element leaves the
        // tuning in force, while the values beside it still load.
        if (const auto* element = xml->getChildByName (tuning::xmlTag))
        {
            if (const auto restored = tuning::fromXml (*element); restored.ok())
                engine.setTuning (restored.value);
        }
        else
        {
            engine.setTuning (tuning::defaultTable());
        }
    }
    catch (...)
    {
    }
}
