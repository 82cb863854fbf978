#include "standalone/StandaloneWindow.h"
#include "standalone/DesktopScale.h"

namespace
{
// The framework's own entries keep its numbers (handleMenuResult knows them); the zoom's follow.
enum MenuItem { audioSettings = 1, saveState, loadState, resetState, zoomBase = 100 };
}

StandaloneWindow::StandaloneWindow (const juce::String& title, std::unique_ptr<juce::StandalonePluginHolder> holder)
    : StandaloneFilterWindow (title,
                              juce::LookAndFeel::getDefaultLookAndFeel().findColour (juce::ResizableWindow::backgroundColourId),
                              std::move (holder))
{
}

void StandaloneWindow::closeButtonPressed()
{
    if (onClose)
        onClose();
    else
        StandaloneFilterWindow::closeButtonPressed();
}

void StandaloneWindow::buttonClicked (juce::Button*)
{
    showOptionsMenu();
}

void StandaloneWindow::showOptionsMenu()
{
    const auto desktopPercent = juce::String (juce::roundToInt (desktopScale * 100.0f)) + " %";
    juce::PopupMenu zoom;
    zoom.addItem (zoomBase, TRANS ("Desktop's scale") + " (" + desktopPercent + ")", true,
                  ! desktopScale::isZoomChoice (zoomPercent));
    for (const auto choice : desktopScale::zoomChoices)
        zoom.addItem (zoomBase + choice, juce::String (choice) + " %", true, zoomPercent == choice);

    juce::PopupMenu m;
    m.addItem (audioSettings, TRANS ("Audio/MIDI Settings..."));
    m.addSeparator();
    m.addItem (saveState, TRANS ("Save current state..."));
    m.addItem (loadState, TRANS ("Load a saved state..."));
    m.addSeparator();
    m.addItem (resetState, TRANS ("Reset to default state"));
    m.addSeparator();
    m.addSubMenu (TRANS ("Zoom"), zoom);

    m.showMenuAsync (juce::PopupMenu::Options(), [safe = juce::Component::SafePointer<StandaloneWindow> (this)] (int result)
    {
        if (safe == nullptr || result == 0)
            return;
        if (result >= zoomBase)
        {
            if (safe->onZoomChosen)
                safe->onZoomChosen (result - zoomBase);
            return;
        }
        safe->handleMenuResult (result);
    });
}
