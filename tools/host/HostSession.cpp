#include "HostSession.h"

namespace host
{
namespace
{
// JUCE's VST3 wrapper adds one hidden, non-automatable "MIDI CC n|m" parameter per channel and
// controller so that hosts can pass controllers as parameter changes; nobody wants to see 2080 of them.
bool isHiddenMidiControllerParameter (const juce::AudioProcessorParameter& p)
{
    return ! p.isAutomatable() && p.getName (64).startsWith ("MIDI CC ");
}

juce::String squeezed (const juce::String& s)
{
    return s.removeCharacters (" _-").toLowerCase();
}

bool isNumber (const juce::String& text)
{
    auto t = text.trim();
    return t.isNotEmpty() && t.containsOnly ("0123456789.-+eE") && t.containsAnyOf ("0123456789");
}
} // namespace

HostSession::HostSession (const juce::File& bundle, double sampleRate, int blockSize)
{
    if (! bundle.exists())
        throw HostError { "no such plug-in bundle: " + bundle.getFullPathName() };

    formats.addFormat (new juce::VST3PluginFormat());
    auto& vst3 = *formats.getFormat (0);

    juce::OwnedArray<juce::PluginDescription> types;
    vst3.findAllTypesForFile (types, bundle.getFullPathName());

    if (types.isEmpty())
        throw HostError { "no VST3 plug-in found in " + bundle.getFullPathName() };

    description = *types.getFirst();

    juce::String error;
    instance = formats.createPluginInstance (description, sampleRate, blockSize, error);

    if (instance == nullptr)
        throw HostError { "could not create " + description.name + ": " + error };
}

HostSession::~HostSession()
{
    instance.reset();
}

juce::Array<juce::AudioProcessorParameter*> HostSession::visibleParameters() const
{
    juce::Array<juce::AudioProcessorParameter*> result;

    for (auto* p : instance->getParameters())
        if (! isHiddenMidiControllerParameter (*p))
            result.add (p);

    return result;
}

juce::AudioProcessorParameter* HostSession::findParameter (const juce::String& key) const
{
    // A JUCE plug-in publishes each string ID as a hash, so the ID typed by the user is hashed the
    // same way (with and without the top bit that some hosts cannot take) and compared as a number.
    const juce::StringArray idCandidates { key,
                                           juce::String (juce::VST3ClientExtensions::convertJuceParameterId (key, true)),
                                           juce::String (juce::VST3ClientExtensions::convertJuceParameterId (key, false)) };
    const auto params = visibleParameters();

    for (auto* p : params)
        if (idCandidates.contains (parameterId (*p)))
            return p;

    for (auto* p : params)
        if (squeezed (p->getName (256)) == squeezed (key))
            return p;

    return nullptr;
}

float normalisedValueFor (const juce::AudioProcessorParameter& p, const juce::String& text)
{
    const auto t = text.trim();

    if (p.isDiscrete() && p.getNumSteps() > 1)
    {
        const auto last = p.getNumSteps() - 1;

        for (int i = 0; i <= last; ++i)
            if (p.getText ((float) i / (float) last, 256).equalsIgnoreCase (t))
                return (float) i / (float) last;

        if (t.containsOnly ("0123456789") && t.isNotEmpty() && t.getIntValue() <= last)
            return (float) t.getIntValue() / (float) last;

        // Bools also answer to the words the plug-in's own text parser knows.
        if (last == 1)
        {
            if (juce::StringArray { "on", "yes", "true" }.contains (t.toLowerCase())) return 1.0f;
            if (juce::StringArray { "off", "no", "false" }.contains (t.toLowerCase())) return 0.0f;
        }

        return -1.0f;
    }

    if (! isNumber (t))
        return -1.0f;

    return juce::jlimit (0.0f, 1.0f, p.getValueForText (t));
}

void HostSession::applySettings (const std::vector<ParameterSetting>& settings)
{
    for (const auto& [key, text] : settings)
    {
        auto* p = findParameter (key);

        if (p == nullptr)
            throw HostError { "unknown parameter '" + key + "' (run 'info' for the list)", exitUsage };

        const auto value = normalisedValueFor (*p, text);

        if (value < 0.0f)
            throw HostError { "parameter '" + key + "' cannot take the value '" + text + "'", exitUsage };

        p->setValueNotifyingHost (value);
    }
}

void HostSession::saveState (const juce::File& file)
{
    juce::MemoryBlock block;
    instance->getStateInformation (block);

    if (! file.replaceWithData (block.getData(), block.getSize()))
        throw HostError { "could not write " + file.getFullPathName() };
}

void HostSession::loadState (const juce::File& file)
{
    juce::MemoryBlock block;

    if (! file.existsAsFile() || ! file.loadFileAsData (block))
        throw HostError { "could not read state file " + file.getFullPathName() };

    // The VST3 hosting layer wraps the component's and the controller's state in one XML block;
    // anything else would be silently ignored, so say so instead.
    auto xml = juce::AudioProcessor::getXmlFromBinary (block.getData(), (int) block.getSize());

    if (xml == nullptr || ! xml->hasTagName ("VST3PluginState"))
        throw HostError { file.getFullPathName() + " is not a state saved by kestrune-host" };

    instance->setStateInformation (block.getData(), (int) block.getSize());
}

juce::String parameterId (const juce::AudioProcessorParameter& p)
{
    if (auto* hosted = dynamic_cast<const juce::HostedAudioProcessorParameter*> (&p))
        return hosted->getParameterID();

    return juce::String (p.getParameterIndex());
}

juce::String defaultText (const juce::AudioProcessorParameter& p)
{
    return p.getText (p.getDefaultValue(), 256);
}

juce::String describeParameters (const HostSession& session)
{
    const auto params = session.visibleParameters();
    juce::String out;
    out << "Parameters (" << params.size() << " shown, " << session.instance->getParameters().size()
        << " published):\n";
    out << juce::String ("index").paddedRight (' ', 7) << juce::String ("id").paddedRight (' ', 12)
        << juce::String ("name").paddedRight (' ', 16) << juce::String ("default").paddedRight (' ', 12)
        << "current\n";

    for (auto* p : params)
        out << juce::String (p->getParameterIndex()).paddedRight (' ', 7)
            << parameterId (*p).paddedRight (' ', 12)
            << p->getName (256).paddedRight (' ', 16)
            << defaultText (*p).paddedRight (' ', 12)
            << p->getCurrentValueAsText() << "\n";

    return out;
}

juce::var parametersAsJson (const HostSession& session)
{
    juce::Array<juce::var> list;

    for (auto* p : session.visibleParameters())
    {
        auto* o = new juce::DynamicObject();
        o->setProperty ("index", p->getParameterIndex());
        o->setProperty ("id", parameterId (*p));
        o->setProperty ("name", p->getName (256));
        o->setProperty ("default", defaultText (*p));
        o->setProperty ("current", p->getCurrentValueAsText());
        o->setProperty ("value", p->getValue());
        o->setProperty ("steps", p->isDiscrete() ? p->getNumSteps() : 0);
        o->setProperty ("automatable", p->isAutomatable());
        list.add (juce::var (o));
    }

    return list;
}

juce::String decibelText (float gain)
{
    return juce::Decibels::toString (juce::Decibels::gainToDecibels (gain, -200.0f), 1, -200.0f) + "FS";
}
} // namespace host
