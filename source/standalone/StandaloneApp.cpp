// The Standalone: a program of our own on the framework's plug-in player. The framework's window and
// holder do the playing; the app decides where the settings live (~/.config, or a session manager's
// folder), how large the window is drawn, and owns what joins the desktop.
#include "standalone/DesktopScale.h"
#include "standalone/JackLink.h"
#include "standalone/NsmClient.h"
#include "standalone/SessionSettings.h"
#include "standalone/StandaloneWindow.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace
{
// SIGTERM (how session managers and desktops end a program) asks the app to quit as the window's
// close button does, through a pipe the message loop watches.
class TerminationRequest
{
public:
    explicit TerminationRequest (std::function<void()> onRequest)
    {
        if (::pipe2 (fds, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        writeEnd = fds[1];
        juce::LinuxEventLoop::registerFdCallback (fds[0], [fd = fds[0], onRequest = std::move (onRequest)] (int)
        {
            char drained[16];
            while (::read (fd, drained, sizeof (drained)) > 0) {}
            onRequest();
        });
        std::signal (SIGTERM, [] (int) { [[maybe_unused]] auto n = ::write (writeEnd, "q", 1); });
    }

    ~TerminationRequest()
    {
        if (writeEnd < 0)
            return;
        std::signal (SIGTERM, SIG_DFL);
        juce::LinuxEventLoop::unregisterFdCallback (fds[0]);
        ::close (fds[0]);
        ::close (fds[1]);
        writeEnd = -1;
    }

private:
    int fds[2] = { -1, -1 };
    inline static volatile int writeEnd = -1;
};

class KestruneStandaloneApp final : public juce::JUCEApplication,
                                    private NsmClient::Handler,
                                    private juce::Timer
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
        termination = std::make_unique<TerminationRequest> ([this] { systemRequestedQuit(); });

        // Under a session manager nothing starts until it names the session's folder.
        nsm = NsmClient::fromEnvironment (*this, getApplicationName());
        if (nsm == nullptr)
            start (appProperties.getUserSettings());
    }

    void shutdown() override
    {
        jackLink.attach (nullptr);
        stopTimer();
        nsm = nullptr;
        mainWindow = nullptr;
        headlessHolder = nullptr;
        termination = nullptr;
        // Under a session manager only its save writes anything.
        if (session == nullptr)
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
    struct Session
    {
        juce::File folder, file;
        std::unique_ptr<juce::PropertySet> settings;
        juce::String savedText;   // what the last save wrote (or the open read)
    };

    // Everything that plays: the holder (audio and MIDI devices, the processor) inside its window,
    // or alone where there is no display.
    void start (juce::PropertySet* settings)
    {
        if (juce::Desktop::getInstance().getDisplays().displays.isEmpty())
        {
            headlessHolder = createHolder (settings);
            return;
        }

        desktopScaleFactor = desktopScale::fromHints (desktopScale::readFromDesktop());
        const auto zoom = settings->getIntValue (desktopScale::zoomSettingKey, 0);
        applyScale (desktopScale::forZoom (zoom, desktopScaleFactor));

        mainWindow = std::make_unique<StandaloneWindow> (getApplicationName(), createHolder (settings));
        mainWindow->desktopScale = desktopScaleFactor;
        mainWindow->zoomPercent = zoom;
        mainWindow->onZoomChosen = [this, settings] (int percent)
        {
            settings->setValue (desktopScale::zoomSettingKey, percent);
            mainWindow->zoomPercent = percent;
            auto* editor = mainWindow->getAudioProcessor()->getActiveEditor();
            const auto editorSize = editor != nullptr ? editor->getLocalBounds() : juce::Rectangle<int>();
            applyScale (desktopScale::forZoom (percent, desktopScaleFactor));
            // The window keeps its pixels through the change, which squeezes the editor: give the
            // editor back its size and the window follows it.
            if (editor != nullptr)
                editor->setSize (editorSize.getWidth(), editorSize.getHeight());
        };
        mainWindow->setVisible (true);
    }

    std::unique_ptr<juce::StandalonePluginHolder> createHolder (juce::PropertySet* settings)
    {
        auto holder = std::make_unique<juce::StandalonePluginHolder> (settings, false);
        jackLink.attach (holder.get());
        return holder;
    }

    // Everything on screen is drawn at this many pixels per design pixel. The framework may already
    // scale by a whole factor of its own (where it finds one): only the rest is added, so the scale is
    // applied once.
    static void applyScale (float scale)
    {
        auto& desktop = juce::Desktop::getInstance();
        const auto* display = desktop.getDisplays().getPrimaryDisplay();
        const auto native = display != nullptr && display->scale > 0.0 ? (float) display->scale / desktop.getGlobalScaleFactor()
                                                                        : 1.0f;
        desktop.setGlobalScaleFactor (scale / native);
    }

    juce::StandalonePluginHolder* pluginHolder() const
    {
        return mainWindow != nullptr ? mainWindow->pluginHolder.get() : headlessHolder.get();
    }

    // The settings as a save would write them now.
    juce::String currentSessionText()
    {
        if (auto* holder = pluginHolder())
        {
            holder->savePluginState();
            holder->saveAudioDeviceState();
        }
        return sessionSettings::toText (*session->settings);
    }

    //==============================================================================
    NsmClient::Outcome openSession (const juce::File& folder, const juce::String&, const juce::String&) override
    {
        if (session != nullptr)
            return { NsmClient::errNotNow, "already playing the session in " + session->folder.getFullPathName()
                                               + "; this client does not switch sessions: nothing changed" };
        if (pluginHolder() != nullptr)
            return { NsmClient::errNotNow, "started without the session manager: restart it from the session" };

        if (const auto prepared = sessionSettings::prepareFolder (folder); prepared.failed())
            return { NsmClient::errCreateFailed, prepared.getErrorMessage() };

        auto opened = std::make_unique<Session>();
        opened->folder = folder;
        opened->file = sessionSettings::fileIn (folder);
        opened->settings = sessionSettings::load (opened->file);
        session = std::move (opened);

        start (session->settings.get());
        session->savedText = currentSessionText();

        if (mainWindow != nullptr)
            mainWindow->onClose = [this] { showGui (false); };
        nsm->setDirty (false);
        nsm->setGuiShown (mainWindow != nullptr && mainWindow->isVisible());
        startTimer (500);
        return { 0, "Opened " + folder.getFullPathName() };
    }

    NsmClient::Outcome saveSession() override
    {
        const auto text = currentSessionText();
        if (const auto written = sessionSettings::replaceWithText (session->file, text); written.failed())
            return { NsmClient::errGeneral, written.getErrorMessage() + "; the last save is kept" };

        session->savedText = text;
        nsm->setDirty (false);
        return { 0, "Saved " + session->file.getFullPathName() };
    }

    void showGui (bool shown) override
    {
        if (mainWindow == nullptr)
            return;
        mainWindow->setVisible (shown);
        if (shown)
            mainWindow->toFront (true);
        if (nsm != nullptr)
            nsm->setGuiShown (shown);
    }

    void sessionManagerUnavailable (const juce::String& why) override
    {
        // A session already open stays with its session manager, whatever it says later.
        if (session != nullptr)
            return;
        std::fprintf (stderr, "%s: running without the session manager\n", why.toRawUTF8());
        juce::MessageManager::callAsync ([this] { nsm = nullptr; });
        if (pluginHolder() == nullptr)
            start (appProperties.getUserSettings());
    }

    // Changes since the last save, however they came (the editor, the menu, the audio setup).
    void timerCallback() override
    {
        if (session != nullptr && nsm != nullptr)
            nsm->setDirty (currentSessionText() != session->savedText);
    }

    // Made before any holder opens its devices, and kept until the last one is gone.
    JackLink jackLink;
    juce::ApplicationProperties appProperties;
    std::unique_ptr<TerminationRequest> termination;
    std::unique_ptr<NsmClient> nsm;
    std::unique_ptr<Session> session;
    float desktopScaleFactor = 1.0f;
    std::unique_ptr<StandaloneWindow> mainWindow;
    std::unique_ptr<juce::StandalonePluginHolder> headlessHolder;
};
} // namespace

START_JUCE_APPLICATION (KestruneStandaloneApp)
