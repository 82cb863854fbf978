#include "Commands.h"
#include "OutputFile.h"
#include "X11Desktop.h"

#include <atomic>
#include <iostream>
#include <optional>

namespace host
{
namespace
{
constexpr double editorSampleRate = 48000.0;
constexpr int editorBlockSize = 512;

// Calls processBlock at the pace of a sound card while the editor is open, so that notes played
// on the plug-in's own keyboard reach its engine, and keeps the loudest sample seen.
class RealtimeProcessing final : public juce::Thread
{
public:
    explicit RealtimeProcessing (juce::AudioProcessor& p)
        : juce::Thread ("kestrune-host audio"), processor (p)
    {
    }

    ~RealtimeProcessing() override { stopThread (2000); }

    float takePeak() { return peak.exchange (0.0f); }

    void run() override
    {
        juce::AudioBuffer<float> buffer (std::max (1, processor.getTotalNumOutputChannels()), editorBlockSize);
        juce::MidiBuffer midi;
        const auto period = 1000.0 * editorBlockSize / editorSampleRate;
        auto due = juce::Time::getMillisecondCounterHiRes();

        while (! threadShouldExit())
        {
            buffer.clear();
            midi.clear();
            processor.processBlock (buffer, midi);

            const auto blockPeak = buffer.getMagnitude (0, editorBlockSize);
            if (blockPeak > peak.load())
                peak.store (blockPeak);

            due += period;
            const auto wait = due - juce::Time::getMillisecondCounterHiRes();
            if (wait > 0)
                juce::Thread::wait ((int) wait);
        }
    }

private:
    juce::AudioProcessor& processor;
    std::atomic<float> peak { 0.0f };
};

class HostWindow final : public juce::DocumentWindow
{
public:
    HostWindow (const juce::String& title, juce::Component& editor)
        : DocumentWindow (title, juce::Colours::black, DocumentWindow::closeButton)
    {
        setUsingNativeTitleBar (true);
        setContentNonOwned (&editor, true);
        setResizable (false, false);
        setTopLeftPosition (0, 0);
        setVisible (true);
    }

    void closeButtonPressed() override { closedByUser = true; }

    bool closedByUser = false;
};

// Runs the message loop for a while; false once the user has closed the window.
bool pump (const HostWindow& window, int milliseconds)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds);
    return ! window.closedByUser;
}

// Where a user would click on this instrument's editor: the KEYS switch in the footer, then
// three neighbouring white keys in the middle of the on-screen keyboard that it shows.
const juce::Point<int> keysSwitch { 685, 530 };
const juce::Point<int> keyboardKeys[] { { 297, 530 }, { 333, 530 }, { 369, 530 } };

void click (x11::Pointer& pointer, HostWindow& window, juce::Component& editor, juce::Point<int> where, double scale,
            int holdMs)
{
    // The plug-in's view is as large as its content scale makes it.
    const auto inWindow = window.getLocalPoint (&editor, (where.toDouble() * scale).roundToInt());
    pointer.moveTo (window.getWindowHandle(), inWindow);
    pump (window, 60);
    pointer.setButtonDown (true);
    pump (window, holdMs);
    pointer.setButtonDown (false);
    pump (window, 120);
}
} // namespace

int runEditor (const Options& options)
{
    if (! x11::displayIsAvailable())
        throw HostError { "no X display (set DISPLAY, or run under xvfb-run -a)" };

    // Refuses a directory or a device before any work; the earlier picture stays until the new one
    // is complete.
    std::optional<OutputFile> screenshot;
    if (options.screenshot != juce::File())
        screenshot.emplace (options.screenshot, std::vector<juce::File> {});

    HostSession session (juce::File (options.positional[0]), editorSampleRate, editorBlockSize);
    auto& plugin = *session.instance;
    session.applySettings (options.settings);

    if (! plugin.hasEditor())
        throw HostError { session.description.name + " has no editor" };

    plugin.prepareToPlay (editorSampleRate, editorBlockSize);
    RealtimeProcessing audio (plugin);
    audio.startThread (juce::Thread::Priority::high);

    std::unique_ptr<juce::AudioProcessorEditor> editor (plugin.createEditorIfNeeded());

    if (editor == nullptr)
        throw HostError { session.description.name + " did not create its editor" };

    // The framework's VST3 editor passes this on through setContentScaleFactor and takes the size
    // the plug-in then reports.
    editor->setScaleFactor ((float) options.scale);

    juce::String report;
    const auto startMs = juce::Time::getMillisecondCounterHiRes();
    const auto elapsedMs = [startMs] { return juce::Time::getMillisecondCounterHiRes() - startMs; };

    {
        HostWindow window (session.description.name, *editor);
        bool open = pump (window, 1000);   // let the plug-in attach its view and paint

        if (open && options.clickKeys)
        {
            x11::Pointer pointer;

            if (pointer.getUnavailableReason().isNotEmpty())
                throw HostError { "--click-keys: " + pointer.getUnavailableReason() };

            click (pointer, window, *editor, keysSwitch, options.scale, 80);
            audio.takePeak();

            for (auto key : keyboardKeys)
                click (pointer, window, *editor, key, options.scale, 300);

            open = pump (window, 300);   // let the last release sound
            report << "clicked KEYS and " << (int) std::size (keyboardKeys) << " keys, output peak while playing "
                   << decibelText (audio.takePeak()) << "\n";
        }

        while (open && elapsedMs() < options.seconds * 1000.0)
            open = pump (window, (int) std::min (100.0, options.seconds * 1000.0 - elapsedMs() + 1.0));

        report << "editor " << editor->getWidth() << " x " << editor->getHeight() << ", open "
               << juce::String (elapsedMs() / 1000.0, 1) << " s" << (open ? "" : ", closed by the user")
               << ", output peak " << decibelText (audio.takePeak()) << "\n";

        if (screenshot)
        {
            const auto area = window.getLocalArea (editor.get(), editor->getLocalBounds())
                              * (float) window.getDesktopScaleFactor();
            const auto image = x11::grabWindowArea (window.getWindowHandle(), area);

            if (! image.isValid())
                throw HostError { "could not read the editor's window (is it entirely on screen?)" };

            juce::PNGImageFormat png;

            if (! png.writeImageToStream (image, *screenshot->createStream()))
            {
                screenshot->throwIfFailed();
                throw HostError { "could not encode the screenshot" };
            }

            screenshot->commit();

            report << "screenshot " << options.screenshot.getFullPathName() << " (" << image.getWidth() << " x "
                   << image.getHeight() << ")\n";
        }

        window.clearContentComponent();
    }

    // A host closes the editor before it stops the audio and destroys the plug-in.
    editor.reset();
    audio.stopThread (2000);
    plugin.releaseResources();

    std::cout << report;
    return exitOk;
}
} // namespace host
