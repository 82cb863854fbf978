// The Standalone: a program of our own on the framework's plug-in player. The framework's window and
// holder do the playing; the app decides where the settings live and owns what joins the desktop.
#include "standalone/JackLink.h"

#include <juce_audio_utils/juce_audio_utils.h>
#include <juce_gui_extra/juce_gui_extra.h>
#include <juce_audio_plugin_client/detail/juce_CreatePluginFilter.h>
#include <juce_audio_plugin_client/Standalone/juce_StandaloneFilterWindow.h>

namespace
{
class KestruneStandaloneApp final : public juce::JUCEApplication
{
public:
    KestruneStandaloneApp()
    {
        // The settings file every earlier version kept: ~/.config/<product>.settings.
        juce::PropertiesFile::Options options;
        options.applicationName = juce::CharPointer_UTF8 (JucePlugin_Name);
        options.filenameSuffix = ".settings";
        options.folderName = "~/.config";
        appProperties.setStorageParameters (options);
    }

    const juce::String getApplicationName() override    { return juce::CharPointer_UTF8 (JucePlugin_Name); }
    const juce::String getApplicationVersion() override { return JucePlugin_VersionString; }
    bool moreThanOneInstanceAllowed() override          { return true; }
    void anotherInstanceStarted (const juce::String&) override {}

    void initialise (const juce::String&) override
    {
        start (appProperties.getUserSettings());
    }

    void shutdown() override
    {
        jackLink.attach (nullptr);
        mainWindow = nullptr;
        headlessHolder = nullptr;
        appProperties.saveIfNeeded();
    }

    void systemRequestedQuit() override
    {
        if (auto* holder = pluginHolder())
            holder->savePluginState();

        // A dialog or menu still open is dismissed first, then the request comes round again.
        if (juce::ModalComponentManager::getInstance()->cancelAllModalComponents())
        {
            juce::Timer::callAfterDelay (100, []
            {
                if (auto* app = juce::JUCEApplicationBase::getInstance())
                    app->systemRequestedQuit();
            });
            return;
        }

        quit();
    }

private:
    // Everything that plays: the holder (audio and MIDI devices, the processor) inside its window,
    // or alone where there is no display.
    void start (juce::PropertySet* settings)
    {
        if (juce::Desktop::getInstance().getDisplays().displays.isEmpty())
        {
            headlessHolder = createHolder (settings);
            return;
        }

        mainWindow = std::make_unique<juce::StandaloneFilterWindow> (
            getApplicationName(),
            juce::LookAndFeel::getDefaultLookAndFeel().findColour (juce::ResizableWindow::backgroundColourId),
            createHolder (settings));
        mainWindow->setVisible (true);
    }

    std::unique_ptr<juce::StandalonePluginHolder> createHolder (juce::PropertySet* settings)
    {
        auto holder = std::make_unique<juce::StandalonePluginHolder> (settings, false);
        jackLink.attach (holder.get());
        return holder;
    }

    juce::StandalonePluginHolder* pluginHolder() const
    {
        return mainWindow != nullptr ? mainWindow->pluginHolder.get() : headlessHolder.get();
    }

    // Made before any holder opens its devices, and kept until the last one is gone.
    JackLink jackLink;
    juce::ApplicationProperties appProperties;
    std::unique_ptr<juce::StandaloneFilterWindow> mainWindow;
    std::unique_ptr<juce::StandalonePluginHolder> headlessHolder;
};
} // namespace

START_JUCE_APPLICATION (KestruneStandaloneApp)
