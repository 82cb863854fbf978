// Writes pictures of the editor into the folder given as the first argument: the first look of
// a new window, one per instrument group, and the window with the on-screen keyboard.
#include "core/PluginProcessor.h"
#include "editor/PluginEditor.h"

#include <juce_events/juce_events.h>

#include <cstdio>

namespace
{
bool writePng (juce::Component& c, const juce::File& file)
{
    const auto image = c.createComponentSnapshot (c.getLocalBounds(), true, 1.0f);
    file.deleteFile();
    juce::FileOutputStream out (file);
    return out.openedOk() && juce::PNGImageFormat().writeImageToStream (image, out);
}
} // namespace

int main (int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf (stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }

    juce::ScopedJuceInitialiser_GUI juce;
    const juce::File folder (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));
    folder.createDirectory();

    KestruneProcessor processor;
    auto* instrument = processor.parameters.getParameter (kestrune::parameterRow (kestrune::Parameter::instrument).id);
    bool ok = true;

    const struct { int index; const char* name; } shots[] = { { 0, "bagpipes" }, { 2, "harp" }, { 7, "rhodes" } };
    for (const auto& shot : shots)
    {
        instrument->setValueNotifyingHost (instrument->convertTo0to1 ((float) shot.index));
        std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditor());
        ok = writePng (*editor, folder.getChildFile (juce::String ("editor-") + shot.name + ".png")) && ok;

        if (shot.index == 0)
        {
            // Switching KEYS on shows the on-screen keyboard.
            for (auto* child : editor->getChildren())
                if (auto* toggle = dynamic_cast<juce::ToggleButton*> (child); toggle != nullptr && toggle->getButtonText() == "KEYS")
                    toggle->setToggleState (true, juce::sendNotificationSync);
            ok = writePng (*editor, folder.getChildFile ("editor-keyboard.png")) && ok;
        }
    }

    std::printf ("%s\n", ok ? "pictures written" : "writing failed");
    return ok ? 0 : 1;
}
