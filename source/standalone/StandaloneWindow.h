#pragma once

#include <juce_audio_utils/juce_audio_utils.h>
#include <juce_gui_extra/juce_gui_extra.h>
#include <juce_audio_plugin_client/detail/juce_CreatePluginFilter.h>
#include <juce_audio_plugin_client/Standalone/juce_StandaloneFilterWindow.h>

#include <functional>

// The framework's player window with our Options menu: its own entries, then the zoom.
class StandaloneWindow final : public juce::StandaloneFilterWindow
{
public:
    StandaloneWindow (const juce::String& title, std::unique_ptr<juce::StandalonePluginHolder>);

    // The zoom the menu shows as chosen (0: the desktop's scale, shown beside it) and what choosing
    // one does.
    int zoomPercent = 0;
    float desktopScale = 1.0f;
    std::function<void (int zoomPercent)> onZoomChosen;

    // What the close button does; the app quits when this is empty.
    std::function<void()> onClose;

    void closeButtonPressed() override;

private:
    void buttonClicked (juce::Button*) override;
    void showOptionsMenu();
};
