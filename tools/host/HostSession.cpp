#include "HostSession.h"
#include "OutputFile.h"
#include "core/NumberText.h"

#include <cmath>
#include <cstring>
#include <cstdlib>

namespace host
{
namespace
{
// A saved state is a few kilobytes; anything near this is not one.
constexpr juce::int64 maxStateFileBytes = 4 * 1024 * 1024;

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

juce::StringArray hashedIds (const char* id)
{
    return { juce::String (juce::VST3ClientExtensions::convertJuceParameterId (id, true)),
             juce::String (juce::VST3ClientExtensions::convertJuceParameterId (id, false)) };
}

// Floats of the table as the short decimals they were written as (0.01, not 0.009999999776).
juce::var tableNumber (float value)
{
    return juce::String (value, 7).getDoubleValue();
}

double normalisedInTable (const kestrune::ParameterRow& spec, double value)
{
    const auto proportion = (value - spec.start) / (spec.end - spec.start);
    return spec.kind == kestrune::ParameterKind::floating ? std::pow (proportion, (double) spec.skew) : proportion;
}

// Whether a number printed by the plug-in stands for the value, to the precision it is printed with.
bool printedAs (const juce::String& text, double value)
{
    const auto number = parseNumber (text);
    const auto decimals = text.containsChar ('.') ? text.trim().fromFirstOccurrenceOf (".", false, false).length() : 0;
    return number.has_value() && std::abs (*number - value) <= 0.5 * std::pow (10.0, -decimals) + 1.0e-6 * std::abs (value);
}

juce::StringArray choicesOf (const kestrune::ParameterRow& spec)
{
    juce::StringArray choices;

    if (spec.kind == kestrune::ParameterKind::choice)
        for (const auto& row : instrumentTable)
            choices.add (row.name);

    return choices;
}

const char* kindName (kestrune::ParameterKind kind)
{
    switch (kind)
    {
        case kestrune::ParameterKind::choice:   return "choice";
        case kestrune::ParameterKind::boolean:  return "bool";
        case kestrune::ParameterKind::floating: return "float";
    }

    return "";
}

// The range of a continuous parameter in its own units: the table's for the instrument's own,
// otherwise what the plug-in prints at the two ends.
std::optional<std::pair<double, double>> rangeOf (const juce::AudioProcessorParameter& p)
{
    if (const auto* spec = tableEntryFor (p))
        return std::pair<double, double> { spec->start, spec->end };

    const auto low = parseNumber (p.getText (0.0f, 64)), high = parseNumber (p.getText (1.0f, 64));

    if (low && high)
        return std::pair<double, double> { std::min (*low, *high), std::max (*low, *high) };

    return std::nullopt;
}

// Normalised value for a text in the parameter's own units, or nothing when the text names no
// value of the parameter.
std::optional<float> normalisedValueFor (const juce::AudioProcessorParameter& p, const juce::String& text)
{
    const auto t = text.trim();

    if (p.isDiscrete() && p.getNumSteps() > 1)
    {
        const auto last = p.getNumSteps() - 1;

        for (int i = 0; i <= last; ++i)
            if (p.getText ((float) i / (float) last, 256).equalsIgnoreCase (t))
                return (float) i / (float) last;

        if (t.containsOnly ("0123456789") && t.isNotEmpty() && t.length() < 9 && t.getIntValue() <= last)
            return (float) t.getIntValue() / (float) last;

        // Bools also answer to the words the plug-in's own text parser knows.
        if (last == 1)
        {
            if (juce::StringArray { "on", "yes", "true" }.contains (t.toLowerCase())) return 1.0f;
            if (juce::StringArray { "off", "no", "false" }.contains (t.toLowerCase())) return 0.0f;
        }

        return std::nullopt;
    }

    const auto number = parseNumber (t);
    const auto range = rangeOf (p);

    // Compared in float, the precision the range is written in: 0.001 is the start of 0.001 to 1.
    if (! number || ! range || (float) *number < (float) range->first || (float) *number > (float) range->second)
        return std::nullopt;

    // The plug-in converts the number as checked here, in plain decimals its own reader cannot take
    // another way.
    return juce::jlimit (0.0f, 1.0f, p.getValueForText (juce::String (*number, 12)));
}
} // namespace

HostSession::HostSession (const juce::File& bundleToLoad, double rate, int block)
    : bundle (bundleToLoad), sampleRate (rate), blockSize (block)
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

juce::Array<juce::AudioProcessorParameter*> HostSession::instrumentParameters() const
{
    auto result = visibleParameters();
    result.removeFirstMatchingValue (instance->getBypassParameter());
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

std::pair<juce::AudioProcessorParameter*, float> HostSession::resolveSetting (const ParameterSetting& setting) const
{
    const auto& [key, text] = setting;
    auto* p = findParameter (key);

    if (p == nullptr)
        throw HostError { "unknown parameter '" + key + "' (run 'info' for the list)", exitUsage };

    const auto value = normalisedValueFor (*p, text);

    if (! value)
    {
        juce::String accepted;

        if (p->isDiscrete() && p->getNumSteps() > 1)
            accepted = "one of its " + juce::String (p->getNumSteps()) + " values, by name or number";
        else if (const auto range = rangeOf (*p))
            accepted = "a number from " + juce::String (range->first) + " to " + juce::String (range->second);

        throw HostError { "parameter '" + key + "' cannot take the value '" + text + "'"
                              + (accepted.isEmpty() ? juce::String() : " (it takes " + accepted + ")"),
                          exitUsage };
    }

    return { p, *value };
}

void HostSession::applySettings (const std::vector<ParameterSetting>& settings)
{
    // All are checked before any is set, so a bad one leaves the plug-in as it was.
    std::vector<std::pair<juce::AudioProcessorParameter*, float>> resolved;

    for (const auto& setting : settings)
        resolved.push_back (resolveSetting (setting));

    for (const auto& [p, value] : resolved)
        p->setValueNotifyingHost (value);
}

void HostSession::saveState (const juce::File& file, const std::vector<juce::File>& inputs)
{
    juce::MemoryBlock block;
    instance->getStateInformation (block);

    OutputFile out (file, inputs);
    out.createStream()->write (block.getData(), block.getSize());
    out.commit();
}

namespace
{
// The component's state as the VST3 hosting layer wraps it, or nothing when the plug-in gives none.
juce::MemoryBlock componentStateOf (const juce::XmlElement& wrapped)
{
    juce::MemoryBlock component;
    const auto* componentState = wrapped.getChildByName ("IComponent");

    if (componentState == nullptr || ! component.fromBase64Encoding (componentState->getAllSubText()))
        return {};

    return component;
}

// The plug-in's own part of its saved state: the component's block without the trailer in which
// the framework keeps Bypass (a zero, its data, its size, "JUCEPrivateData"). The framework applies
// that trailer even when the plug-in refuses the block before it, so a change there alone does not
// mean the state was taken.
juce::MemoryBlock pluginPartOf (juce::AudioPluginInstance& plugin)
{
    juce::MemoryBlock whole;
    plugin.getStateInformation (whole);
    const auto xml = juce::AudioProcessor::getXmlFromBinary (whole.getData(), (int) whole.getSize());
    auto component = xml != nullptr ? componentStateOf (*xml) : juce::MemoryBlock();

    if (component.isEmpty())
        return whole;

    static constexpr char trailerName[] = "JUCEPrivateData";
    constexpr auto nameLength = sizeof (trailerName) - 1;
    const auto size = component.getSize();
    const auto* bytes = static_cast<const char*> (component.getData());

    if (size >= nameLength + 16 && std::memcmp (bytes + size - nameLength, trailerName, nameLength) == 0)
    {
        juce::uint64 privateSize = 0;
        std::memcpy (&privateSize, bytes + size - nameLength - 8, 8);
        privateSize = juce::ByteOrder::swapIfBigEndian (privateSize);

        if (privateSize <= size - nameLength - 16)
            component.setSize (size - nameLength - 16 - (size_t) privateSize);
    }

    return component;
}
} // namespace

void HostSession::loadState (const juce::File& file)
{
    const auto block = readInputFile (file, maxStateFileBytes, "state file");

    // The VST3 hosting layer wraps the component's and the controller's state in one XML block;
    // anything else would be silently ignored, so say so instead.
    auto xml = juce::AudioProcessor::getXmlFromBinary (block.getData(), (int) block.getSize());

    if (xml == nullptr || ! xml->hasTagName ("VST3PluginState") || xml->getChildByName ("IComponent") == nullptr)
        throw HostError { file.getFullPathName() + " is not a state saved by kestrune-host" };

    const auto before = pluginPartOf (*instance);
    instance->setStateInformation (block.getData(), (int) block.getSize());

    if (pluginPartOf (*instance) != before)
        return;

    // Nothing changed: either the state holds what the plug-in already had, or the plug-in
    // refused it and kept its own, which is what it does with a block it cannot read. A second
    // instance whose parameters all sit elsewhere tells the two apart: a state that applies
    // moves it.
    HostSession probe (bundle, sampleRate, blockSize);

    for (auto* p : probe.instrumentParameters())
        p->setValueNotifyingHost (p->getValue() < 0.5f ? 0.7311f : 0.2689f);

    const auto moved = pluginPartOf (*probe.instance);
    probe.instance->setStateInformation (block.getData(), (int) block.getSize());

    if (pluginPartOf (*probe.instance) == moved)
        throw HostError { "the plug-in did not take the state in " + file.getFullPathName()
                          + " (its inner state is damaged or from another plug-in)" };
}

tuning::Table HostSession::tuning() const
{
    // The plug-in's part starts with its XML in the framework's binary layout.
    const auto part = pluginPartOf (*instance);
    const auto xml = juce::AudioProcessor::getXmlFromBinary (part.getData(), (int) part.getSize());
    const auto* element = xml != nullptr ? xml->getChildByName (tuning::xmlTag) : nullptr;

    if (element == nullptr)
        return tuning::defaultTable();

    const auto table = tuning::fromXml (*element);

    if (! table.ok())
        throw HostError { "the plug-in's state holds a tuning it cannot have made: " + juce::String (table.error) };

    return table.value;
}

void HostSession::applyTuning (const tuning::Table& table)
{
    juce::MemoryBlock whole;
    instance->getStateInformation (whole);
    auto wrapped = juce::AudioProcessor::getXmlFromBinary (whole.getData(), (int) whole.getSize());
    const auto component = wrapped != nullptr ? componentStateOf (*wrapped) : juce::MemoryBlock();
    auto state = juce::AudioProcessor::getXmlFromBinary (component.getData(), (int) component.getSize());

    if (state == nullptr)
        throw HostError { "the plug-in's state holds no XML to put a tuning into" };

    // The plug-in's block is its XML in the framework's binary layout (magic number, length, text,
    // a zero); whatever follows it, the framework's trailer, is kept as it was.
    const auto pluginBlockBytes = std::min (component.getSize(),
                                     8 + (size_t) juce::ByteOrder::littleEndianInt (static_cast<const char*> (component.getData()) + 4) + 1);

    while (auto* old = state->getChildByName (tuning::xmlTag))
        state->removeChildElement (old, true);

    if (auto element = tuning::toXml (table))
        state->addChildElement (element.release());

    juce::MemoryBlock replaced;
    juce::AudioProcessor::copyXmlToBinary (*state, replaced);
    replaced.append (static_cast<const char*> (component.getData()) + pluginBlockBytes, component.getSize() - pluginBlockBytes);

    auto* componentState = wrapped->getChildByName ("IComponent");
    componentState->deleteAllTextElements();
    componentState->addTextElement (replaced.toBase64Encoding());
    juce::MemoryBlock block;
    juce::AudioProcessor::copyXmlToBinary (*wrapped, block);
    instance->setStateInformation (block.getData(), (int) block.getSize());

    if (tuning() != table)
        throw HostError { "the plug-in did not take the tuning " + juce::String::fromUTF8 (table.name) };
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

const kestrune::ParameterRow* tableEntryFor (const juce::AudioProcessorParameter& p)
{
    const auto id = parameterId (p);

    for (const auto& spec : kestrune::parameterTable)
        if (hashedIds (spec.id).contains (id))
            return &spec;

    return nullptr;
}

juce::StringArray disagreementsWithTable (const HostSession& session)
{
    const auto params = session.instrumentParameters();
    juce::StringArray found;

    if (params.size() != kestrune::numParameters)
        found.add ("the bundle has " + juce::String (params.size()) + " parameters besides Bypass, the table "
                   + juce::String (kestrune::numParameters));

    for (int i = 0; i < juce::jmin (params.size(), kestrune::numParameters); ++i)
    {
        const auto& p = *params[i];
        const auto& spec = kestrune::parameterTable[i];
        const auto say = [&] (const juce::String& what) { found.add (juce::String (spec.id) + ": " + what); };

        if (! hashedIds (spec.id).contains (parameterId (p)))
        {
            say ("parameter " + juce::String (i + 1) + " of the bundle is '" + p.getName (256) + "' (ID "
                 + parameterId (p) + "), not this one");
            continue;
        }

        if (p.getName (256) != spec.name)
            say ("named '" + p.getName (256) + "', the table says '" + spec.name + "'");

        const auto steps = p.isDiscrete() ? p.getNumSteps() : 0;
        const auto choices = choicesOf (spec);
        const auto expectedSteps = spec.kind == kestrune::ParameterKind::floating ? 0
                                 : spec.kind == kestrune::ParameterKind::boolean  ? 2
                                                                                   : choices.size();

        if (steps != expectedSteps)
            say (juce::String (steps) + " steps, the table " + juce::String (expectedSteps));

        const auto defaultNormalised = normalisedInTable (spec, spec.defaultValue);

        if (std::abs (p.getDefaultValue() - defaultNormalised) > 1.0e-4)
            say ("default at " + juce::String (p.getDefaultValue()) + " of the range, the table's "
                 + juce::String (spec.defaultValue) + " is at " + juce::String (defaultNormalised));

        if (spec.kind == kestrune::ParameterKind::choice)
        {
            if (choices.size() != (int) (spec.end - spec.start) + 1)
                say ("the table's range has " + juce::String ((int) (spec.end - spec.start) + 1) + " values but "
                     + juce::String (choices.size()) + " choices");

            for (int c = 0; c < choices.size() && steps > 1; ++c)
                if (p.getText ((float) c / (float) (steps - 1), 256) != choices[c])
                    say ("choice " + juce::String (c) + " is '" + p.getText ((float) c / (float) (steps - 1), 256)
                         + "', the table's '" + choices[c] + "'");
        }
        else if (spec.kind == kestrune::ParameterKind::floating)
        {
            for (const auto& [normalised, value] : { std::pair { 0.0f, spec.start }, std::pair { 1.0f, spec.end },
                                                     std::pair { p.getDefaultValue(), spec.defaultValue } })
                if (! printedAs (p.getText (normalised, 256), value))
                    say ("shows '" + p.getText (normalised, 256) + "' where the table has " + juce::String (value));
        }
    }

    return found;
}

juce::String describeParameters (const HostSession& session)
{
    const auto params = session.visibleParameters();
    juce::String out;
    out << "Parameters (" << params.size() << " shown, " << session.instance->getParameters().size()
        << " published):\n";
    out << juce::String ("index").paddedRight (' ', 7) << juce::String ("id").paddedRight (' ', 12)
        << juce::String ("name").paddedRight (' ', 16) << juce::String ("default").paddedRight (' ', 12)
        << juce::String ("current").paddedRight (' ', 12) << "range\n";

    for (auto* p : params)
    {
        const auto* spec = tableEntryFor (*p);
        juce::String range;

        if (spec != nullptr && spec->kind == kestrune::ParameterKind::floating)
            range << spec->start << " to " << spec->end << " " << spec->unit;
        else if (spec != nullptr && spec->kind == kestrune::ParameterKind::choice)
            range = choicesOf (*spec).joinIntoString (" ");

        const auto line = juce::String (p->getParameterIndex()).paddedRight (' ', 7)
                          + (spec != nullptr ? juce::String (spec->id) : parameterId (*p)).paddedRight (' ', 12)
                          + p->getName (256).paddedRight (' ', 16)
                          + defaultText (*p).paddedRight (' ', 12)
                          + p->getCurrentValueAsText().paddedRight (' ', 12)
                          + range;
        out << line.trimEnd() << "\n";
    }

    return out;
}

juce::var parametersAsJson (const HostSession& session)
{
    juce::Array<juce::var> list;

    for (auto* p : session.instrumentParameters())
    {
        auto* o = new juce::DynamicObject();

        if (const auto* spec = tableEntryFor (*p))
        {
            o->setProperty ("id", spec->id);
            o->setProperty ("name", p->getName (256));
            o->setProperty ("kind", kindName (spec->kind));
            o->setProperty ("start", tableNumber (spec->start));
            o->setProperty ("end", tableNumber (spec->end));
            o->setProperty ("step", tableNumber (spec->step));
            o->setProperty ("skew", tableNumber (spec->skew));
            o->setProperty ("default", tableNumber (spec->defaultValue));
            o->setProperty ("unit", spec->unit);

            if (spec->kind == kestrune::ParameterKind::choice)
                o->setProperty ("choices", choicesOf (*spec));
        }
        else
        {
            o->setProperty ("id", parameterId (*p));
            o->setProperty ("name", p->getName (256));
        }

        o->setProperty ("defaultText", defaultText (*p));
        o->setProperty ("current", p->getCurrentValueAsText());
        o->setProperty ("value", p->getValue());
        o->setProperty ("steps", p->isDiscrete() ? p->getNumSteps() : 0);
        o->setProperty ("automatable", p->isAutomatable());
        o->setProperty ("vst3Id", parameterId (*p));
        o->setProperty ("index", p->getParameterIndex());
        list.add (juce::var (o));
    }

    return list;
}

juce::String decibelText (float gain)
{
    return juce::Decibels::toString (juce::Decibels::gainToDecibels (gain, -200.0f), 1, -200.0f) + "FS";
}

std::optional<double> parseNumber (const juce::String& text)
{
    return kestrune::parseNumber (text.toStdString());
}
} // namespace host
