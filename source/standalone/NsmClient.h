#pragma once

#include <juce_events/juce_events.h>

#include <atomic>
#include <mutex>

// A client of a session manager that speaks the NSM protocol (OSC over UDP, through liblo). liblo's
// server thread receives; everything the app does in answer runs on the message thread, which then
// sends the reply. One request at a time: while an open or a save is under way, a second one is
// refused at once with an error, so the one under way finishes as asked.
class NsmClient
{
public:
    // The protocol's error codes that this client sends.
    enum ErrorCode
    {
        errGeneral = -1,
        errNoSessionOpen = -6,
        errNotNow = -8,
        errBadProject = -9,
        errCreateFailed = -10,
        errOperationPending = -12
    };

    // What the app made of a request: done (code 0, with a message for the session manager's log),
    // or an error code and why.
    struct Outcome
    {
        int code = 0;
        juce::String message;
    };

    // What the app does when asked; called on the message thread.
    struct Handler
    {
        virtual ~Handler() = default;

        // Opens the session kept in this folder (made if it does not exist yet).
        virtual Outcome openSession (const juce::File& folder, const juce::String& displayName, const juce::String& clientId) = 0;
        virtual Outcome saveSession() = 0;
        virtual void showGui (bool shown) = 0;
        // The session manager never answered, or refused us: carry on without it.
        virtual void sessionManagerUnavailable (const juce::String& why) = 0;
    };

    // A client announced to the session manager at NSM_URL; nullptr where NSM_URL is unset, or the
    // client cannot start (the reason goes to stderr).
    static std::unique_ptr<NsmClient> fromEnvironment (Handler&, const juce::String& applicationName);

    ~NsmClient();

    // Tell the session manager of unsaved changes and of the window; sent only when they change.
    void setDirty (bool dirty);
    void setGuiShown (bool shown);

    // How long the session manager has to answer the announcement.
    static constexpr int answerTimeoutMs = 10000;

private:
    struct Server;
    NsmClient (Handler&, std::unique_ptr<Server>);

    // On liblo's thread.
    void received (const juce::String& path, const juce::String& types, const juce::StringArray& strings);
    void post (std::function<void (NsmClient&)>);
    void reply (const juce::String& request, const Outcome&);
    void send (const char* path);
    bool claimRequest();

    Handler& handler;
    std::unique_ptr<Server> server;
    std::atomic<bool> requestUnderWay { false }, sessionOpen { false }, answered { false };
    std::atomic<int> dirtyState { -1 }, guiState { -1 };

    JUCE_DECLARE_WEAK_REFERENCEABLE (NsmClient)
    JUCE_DECLARE_NON_COPYABLE (NsmClient)
};
