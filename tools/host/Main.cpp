// kestrune-host: loads a VST3 bundle through JUCE's hosting layer, as a DAW does, and drives it
// from the command line: identity and parameters, state files, offline rendering of MIDI files and
// a look at the editor.

#include "Commands.h"
#include "X11Desktop.h"

#include <cmath>
#include <iostream>

namespace host
{
namespace
{
const char* const usageText = R"(kestrune-host: a small VST3 host for command-line checks.

usage:
  kestrune-host info BUNDLE [--json]
  kestrune-host state save BUNDLE OUT.bin [--set ID=VALUE ...]
  kestrune-host state load BUNDLE IN.bin [--json]
  kestrune-host render BUNDLE IN.mid OUT.wav [--rate HZ] [--block N] [--set ID=VALUE ...]
                [--automate ID=VALUE@TIME ...] [--automation FILE] [--tail SECONDS]
                [--state IN.bin] [--float]
  kestrune-host editor BUNDLE [--seconds N] [--screenshot OUT.png] [--set ID=VALUE ...] [--click-keys]
                [--scale FACTOR]
  kestrune-host --help

BUNDLE is the plug-in's .vst3 folder (quote it: the name has spaces).
--set ID=VALUE   sets a parameter before anything else happens; ID is the plug-in's parameter ID
                 (attack), its VST3 number or its name; VALUE is in the parameter's own units and
                 inside its range (attack=0.1 seconds, volume=42.5, instrument=HARP or
                 instrument=2, droneOn=1).
info             identity, buses and parameters; --json adds each parameter's range, step, skew,
                 default and unit from the instrument's table, and fails if the bundle disagrees.
render           plays a Standard MIDI File exactly as written (all tracks merged on its tempo map,
                 nothing added or reordered) and writes a WAV (24-bit, or 32-bit float with
                 --float); defaults: --rate 48000 --block 512. Without --tail the render ends once
                 the output has stayed below -100 dBFS for 200 ms after the last event, at most
                 30 s after it. --state loads a saved state first, then --set applies.
                 The WAV appears only when complete: an error or Ctrl-C leaves no file behind.
--automate ID=VALUE@TIME
                 sets a parameter before the block that holds TIME, as host automation does;
                 TIME in seconds (1.5) or samples (72000s). --automation FILE reads such points
                 from CSV lines "time,ID,value" in time order.
editor           opens the editor in a window for N seconds (default 2) while audio runs;
                 --screenshot writes what is on screen as PNG; --click-keys switches on the on-screen
                 keyboard and plays three keys with the real pointer (needs XTest). --scale
                 hands the plug-in a content scale (1 to 4) as a host on a high-density screen
                 does (VST3's IPlugViewContentScaleSupport); the window takes the scaled size.
exit status: 0 success, 1 the plug-in, a file or the display failed, 2 bad command line.
)";

void expectPositional (const Options& options, int count, const char* what)
{
    if (options.positional.size() != count)
        throw HostError { juce::String ("expected ") + what + " (see --help)", exitUsage };
}

void allowOnly (const Options& options, const juce::StringArray& allowed, const juce::String& command)
{
    for (const auto& name : options.given)
        if (! allowed.contains (name))
            throw HostError { name + " does not apply to '" + command + "'", exitUsage };
}

double numberArgument (const juce::String& name, const juce::String& text, double min, double max)
{
    const auto value = parseNumber (text);

    if (! value || *value < min || *value > max)
        throw HostError { name + " needs a number from " + juce::String (min) + " to " + juce::String (max)
                              + ", not '" + text + "'",
                          exitUsage };

    return *value;
}

int wholeNumberArgument (const juce::String& name, const juce::String& text, int min, int max)
{
    const auto value = parseNumber (text);

    if (! value || ! juce::exactlyEqual (*value, std::floor (*value)) || *value < min || *value > max)
        throw HostError { name + " needs a whole number from " + juce::String (min) + " to " + juce::String (max)
                              + ", not '" + text + "'",
                          exitUsage };

    return (int) *value;
}

ParameterSetting settingArgument (const juce::String& name, const juce::String& setting)
{
    if (! setting.containsChar ('=') || setting.upToFirstOccurrenceOf ("=", false, false).trim().isEmpty())
        throw HostError { name + " takes ID=VALUE, not '" + setting + "'", exitUsage };

    return { setting.upToFirstOccurrenceOf ("=", false, false).trim(),
             setting.fromFirstOccurrenceOf ("=", false, false).trim() };
}

Options parseOptions (const juce::StringArray& args, int first)
{
    Options options;

    for (int i = first; i < args.size(); ++i)
    {
        const auto& arg = args[i];

        if (! arg.startsWith ("--"))
        {
            options.positional.add (arg);
            continue;
        }

        options.given.addIfNotAlreadyThere (arg);
        const auto needsValue = [&]() -> juce::String
        {
            if (i + 1 >= args.size())
                throw HostError { arg + " needs a value", exitUsage };

            return args[++i];
        };

        if (arg == "--set")
        {
            options.settings.push_back (settingArgument (arg, needsValue()));
        }
        else if (arg == "--automate")
        {
            // ID=VALUE@TIME: the time follows the last '@', so a value may not contain one.
            const auto text = needsValue();

            if (! text.containsChar ('@'))
                throw HostError { "--automate takes ID=VALUE@TIME, not '" + text + "'", exitUsage };

            options.automation.push_back ({ settingArgument (arg, text.upToLastOccurrenceOf ("@", false, false)),
                                            text.fromLastOccurrenceOf ("@", false, false).trim(),
                                            "--automate " + text });
        }
        else if (arg == "--automation")   options.automationFile = juce::File::getCurrentWorkingDirectory().getChildFile (needsValue());
        else if (arg == "--rate")         options.sampleRate = wholeNumberArgument (arg, needsValue(), 8000, 384000);
        else if (arg == "--block")        options.blockSize = wholeNumberArgument (arg, needsValue(), 1, 16384);
        else if (arg == "--tail")         options.tailSeconds = numberArgument (arg, needsValue(), 0.0, 600.0);
        else if (arg == "--seconds")      options.seconds = numberArgument (arg, needsValue(), 0.0, 3600.0);
        else if (arg == "--state")        options.stateFile = juce::File::getCurrentWorkingDirectory().getChildFile (needsValue());
        else if (arg == "--screenshot")   options.screenshot = juce::File::getCurrentWorkingDirectory().getChildFile (needsValue());
        else if (arg == "--float")        options.floatOutput = true;
        else if (arg == "--click-keys")   options.clickKeys = true;
        else if (arg == "--scale")        options.scale = numberArgument (arg, needsValue(), 1.0, 4.0);
        else if (arg == "--json")         options.json = true;
        else
            throw HostError { "unknown option " + arg + " (see --help)", exitUsage };
    }

    return options;
}

juce::String layoutList (juce::AudioProcessor::Bus& bus)
{
    const juce::AudioChannelSet candidates[] { juce::AudioChannelSet::mono(), juce::AudioChannelSet::stereo(),
                                               juce::AudioChannelSet::createLCR(), juce::AudioChannelSet::quadraphonic(),
                                               juce::AudioChannelSet::create5point1(), juce::AudioChannelSet::create7point1() };
    juce::StringArray supported;

    for (const auto& set : candidates)
        if (bus.isLayoutSupported (set))
            supported.add (set.getDescription());

    return supported.joinIntoString (", ");
}

juce::var busesAsJson (juce::AudioProcessor& plugin, juce::String& text)
{
    juce::Array<juce::var> list;

    for (const auto isInput : { true, false })
    {
        for (int i = 0; i < plugin.getBusCount (isInput); ++i)
        {
            auto& bus = *plugin.getBus (isInput, i);
            auto* o = new juce::DynamicObject();
            o->setProperty ("direction", isInput ? "input" : "output");
            o->setProperty ("name", bus.getName());
            o->setProperty ("layout", bus.getCurrentLayout().getDescription());
            o->setProperty ("channels", bus.getNumberOfChannels());
            o->setProperty ("enabledByDefault", bus.isEnabledByDefault());
            o->setProperty ("supported", layoutList (bus));
            list.add (juce::var (o));

            text << "  " << (isInput ? "input " : "output ") << i << " \"" << bus.getName() << "\": "
                 << bus.getCurrentLayout().getDescription() << (bus.isEnabledByDefault() ? ", on by default" : "")
                 << "; accepts " << o->getProperty ("supported").toString() << "\n";
        }
    }

    return list;
}

// The classes the module declares for quick scanning (moduleinfo.json), with their VST3 class IDs.
juce::var moduleClasses (const juce::File& bundle)
{
    const auto info = juce::JSON::parse (bundle.getChildFile ("Contents/Resources/moduleinfo.json"));
    juce::Array<juce::var> list;

    if (auto* classes = info["Classes"].getArray())
    {
        for (const auto& c : *classes)
        {
            auto* o = new juce::DynamicObject();
            o->setProperty ("cid", c["CID"]);
            o->setProperty ("category", c["Category"]);
            o->setProperty ("name", c["Name"]);
            o->setProperty ("subCategories", c["Sub Categories"]);
            list.add (juce::var (o));
        }
    }

    return list;
}

int runInfo (const Options& options)
{
    allowOnly (options, { "--json" }, "info");
    expectPositional (options, 1, "info BUNDLE");

    const juce::File bundle (options.positional[0]);
    HostSession session (bundle, 48000.0, 512);
    const auto& d = session.description;
    auto& plugin = *session.instance;

    juce::String busText;
    const auto buses = busesAsJson (plugin, busText);
    const auto classes = moduleClasses (bundle);

    // The bundle must publish what the instrument's parameter table says; scripts rely on the
    // table fields this prints beside what the bundle reports.
    const auto disagreements = disagreementsWithTable (session);
    const auto disagreement = HostError { "the bundle disagrees with the parameter table: "
                                          + disagreements.joinIntoString ("; ") };

    if (options.json)
    {
        if (! disagreements.isEmpty())
            throw disagreement;


        auto* o = new juce::DynamicObject();
        o->setProperty ("name", d.name);
        o->setProperty ("descriptiveName", d.descriptiveName);
        o->setProperty ("manufacturer", d.manufacturerName);
        o->setProperty ("version", d.version);
        o->setProperty ("category", d.category);
        o->setProperty ("format", d.pluginFormatName);
        o->setProperty ("uniqueId", juce::String::toHexString (d.uniqueId));
        o->setProperty ("deprecatedUid", juce::String::toHexString (d.deprecatedUid));
        o->setProperty ("identifier", d.createIdentifierString());
        o->setProperty ("isInstrument", d.isInstrument);
        o->setProperty ("midiInput", plugin.acceptsMidi());
        o->setProperty ("midiOutput", plugin.producesMidi());
        o->setProperty ("hasEditor", plugin.hasEditor());
        o->setProperty ("tailSeconds", plugin.getTailLengthSeconds());
        o->setProperty ("numPrograms", plugin.getNumPrograms());
        o->setProperty ("classes", classes);
        o->setProperty ("buses", buses);
        o->setProperty ("parameters", parametersAsJson (session));

        if (auto* bypass = plugin.getBypassParameter())
        {
            auto* b = new juce::DynamicObject();
            b->setProperty ("name", bypass->getName (256));
            b->setProperty ("vst3Id", parameterId (*bypass));
            b->setProperty ("index", bypass->getParameterIndex());
            b->setProperty ("defaultText", defaultText (*bypass));
            o->setProperty ("bypass", juce::var (b));
        }

        std::cout << juce::JSON::toString (juce::var (o)) << "\n";
        return exitOk;
    }

    const auto yesNo = [] (bool b) { return b ? "yes" : "no"; };
    std::cout << "Name:          " << d.name << "\n"
              << "Manufacturer:  " << d.manufacturerName << "\n"
              << "Version:       " << d.version << "\n"
              << "Category:      " << d.category << "\n"
              << "Format:        " << d.pluginFormatName << " (" << bundle.getFullPathName() << ")\n"
              << "Unique ID:     " << juce::String::toHexString (d.uniqueId) << " (deprecated UID "
              << juce::String::toHexString (d.deprecatedUid) << ")\n"
              << "Identifier:    " << d.createIdentifierString() << "\n";

    for (const auto& c : *classes.getArray())
        std::cout << "Class:         " << c["cid"].toString() << "  " << c["category"].toString() << "  "
                  << c["name"].toString() << "\n";

    std::cout << "Instrument:    " << yesNo (d.isInstrument) << "\n"
              << "MIDI in/out:   " << yesNo (plugin.acceptsMidi()) << " / " << yesNo (plugin.producesMidi()) << "\n"
              << "Editor:        " << yesNo (plugin.hasEditor()) << "\n"
              << "Tail:          " << plugin.getTailLengthSeconds() << " s\n"
              << "Programs:      " << plugin.getNumPrograms() << "\n"
              << "Buses:\n" << busText
              << describeParameters (session);

    if (! disagreements.isEmpty())
        throw disagreement;

    return exitOk;
}

int runState (const Options& options)
{
    const auto action = options.positional[0];

    if (action == "save")
    {
        allowOnly (options, { "--set" }, "state save");
        expectPositional (options, 3, "state save BUNDLE OUT.bin");
        HostSession session (juce::File (options.positional[1]), 48000.0, 512);
        session.applySettings (options.settings);
        const juce::File out (options.positional[2]);
        session.saveState (out);
        std::cout << "saved " << out.getSize() << " bytes to " << out.getFullPathName() << "\n";
        return exitOk;
    }

    if (action == "load")
    {
        allowOnly (options, { "--json" }, "state load");
        expectPositional (options, 3, "state load BUNDLE IN.bin");
        HostSession session (juce::File (options.positional[1]), 48000.0, 512);
        session.loadState (juce::File (options.positional[2]));

        if (options.json)
            std::cout << juce::JSON::toString (parametersAsJson (session)) << "\n";
        else
            std::cout << describeParameters (session);

        return exitOk;
    }

    throw HostError { "state takes 'save' or 'load', not '" + action + "'", exitUsage };
}

int dispatch (const juce::StringArray& args)
{
    if (args.isEmpty() || args.contains ("--help") || args.contains ("-h") || args[0] == "help")
    {
        std::cout << usageText;
        return args.isEmpty() ? exitUsage : exitOk;
    }

    const auto command = args[0];
    auto options = parseOptions (args, 1);

    // Every positional argument is a path relative to where the host was started, except the
    // action word of 'state'.
    for (int i = command == "state" ? 1 : 0; i < options.positional.size(); ++i)
        options.positional.set (i, juce::File::getCurrentWorkingDirectory().getChildFile (options.positional[i]).getFullPathName());

    if (command == "info")
        return runInfo (options);

    if (command == "state")
    {
        if (options.positional.isEmpty())
            throw HostError { "state takes 'save' or 'load' (see --help)", exitUsage };

        return runState (options);
    }

    if (command == "render")
    {
        allowOnly (options, { "--rate", "--block", "--set", "--automate", "--automation", "--tail", "--state", "--float" },
                   "render");
        expectPositional (options, 3, "render BUNDLE IN.mid OUT.wav");
        return runRender (options);
    }

    if (command == "editor")
    {
        allowOnly (options, { "--seconds", "--screenshot", "--set", "--click-keys", "--scale" }, "editor");
        expectPositional (options, 1, "editor BUNDLE");
        return runEditor (options);
    }

    throw HostError { "unknown command '" + command + "' (see --help)", exitUsage };
}
} // namespace
} // namespace host

int main (int argc, char* argv[])
{
    host::x11::prepareForThreadsAndErrors();   // before JUCE or a plug-in touches Xlib
    juce::ScopedJuceInitialiser_GUI juceInitialiser;   // the main thread becomes the message thread

    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (juce::String::fromUTF8 (argv[i]));

    try
    {
        return host::dispatch (args);
    }
    catch (const host::HostError& e)
    {
        std::cerr << "kestrune-host: " << e.message << "\n";
        return e.exitCode;
    }
}
