#include "standalone/NsmClient.h"

#include <lo/lo.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace
{
constexpr const char* announcePath = "/nsm/server/announce";
constexpr const char* openPath = "/nsm/client/open";
constexpr const char* savePath = "/nsm/client/save";
// What this client offers: a window that can be hidden, and word of unsaved changes. No "switch": a
// session manager restarts us to change sessions.
constexpr const char* capabilities = ":optional-gui:dirty:";
constexpr int apiMajor = 1, apiMinor = 2;

void reportServerError (int number, const char* message, const char* where)
{
    std::fprintf (stderr, "Session manager link: OSC error %d: %s%s%s\n", number, message != nullptr ? message : "",
                  where != nullptr ? " at " : "", where != nullptr ? where : "");
}

// How the session manager is to start us again: by name where PATH finds this very program, else by
// its full path.
juce::String executableName()
{
    const auto self = juce::File::getSpecialLocation (juce::File::currentExecutableFile);
    for (const auto& folder : juce::StringArray::fromTokens (juce::SystemStats::getEnvironmentVariable ("PATH", {}), ":", {}))
        if (juce::File::isAbsolutePath (folder) && juce::File (folder).getChildFile (self.getFileName()) == self)
            return self.getFileName();
    return self.getFullPathName();
}
} // namespace

struct NsmClient::Server
{
    lo_address manager = nullptr;
    lo_server_thread thread = nullptr;
    std::mutex sending;   // lo_address is not safe to share between threads

    ~Server()
    {
        if (thread != nullptr)
            lo_server_thread_free (thread);   // stops and joins the thread first
        if (manager != nullptr)
            lo_address_free (manager);
    }

    static int onMessage (const char* path, const char* types, lo_arg** argv, int argc, lo_message, void* user)
    {
        juce::StringArray strings;
        for (int i = 0; i < argc; ++i)
            strings.add (types[i] == LO_STRING ? juce::String::fromUTF8 (&argv[i]->s) : juce::String());
        static_cast<NsmClient*> (user)->received (juce::String::fromUTF8 (path), juce::String::fromUTF8 (types), strings);
        return 0;
    }
};

std::unique_ptr<NsmClient> NsmClient::fromEnvironment (Handler& handler, const juce::String& applicationName)
{
    const auto url = juce::SystemStats::getEnvironmentVariable ("NSM_URL", {});
    if (url.isEmpty())
        return {};

    auto server = std::make_unique<Server>();
    server->manager = lo_address_new_from_url (url.toRawUTF8());
    if (server->manager == nullptr)
    {
        std::fprintf (stderr, "NSM_URL=%s is not an OSC address: running without the session manager\n", url.toRawUTF8());
        return {};
    }
    server->thread = lo_server_thread_new_with_proto (nullptr, lo_address_get_protocol (server->manager), reportServerError);
    if (server->thread == nullptr)
    {
        std::fprintf (stderr, "No OSC port for the session manager: running without it\n");
        return {};
    }

    std::unique_ptr<NsmClient> client (new NsmClient (handler, std::move (server)));
    auto* s = client->server.get();
    lo_server_thread_add_method (s->thread, nullptr, nullptr, Server::onMessage, client.get());
    lo_server_thread_start (s->thread);

    {
        const std::lock_guard<std::mutex> lock (s->sending);
        lo_send_from (s->manager, lo_server_thread_get_server (s->thread), LO_TT_IMMEDIATE, announcePath, "sssiii",
                      applicationName.toRawUTF8(), capabilities, executableName().toRawUTF8(), apiMajor, apiMinor, (int) getpid());
    }

    juce::Timer::callAfterDelay (answerTimeoutMs, [weak = juce::WeakReference<NsmClient> (client.get())]
    {
        if (auto* c = weak.get(); c != nullptr && ! c->answered)
            c->handler.sessionManagerUnavailable ("the session manager at NSM_URL did not answer");
    });
    return client;
}

NsmClient::NsmClient (Handler& h, std::unique_ptr<Server> s) : handler (h), server (std::move (s))
{
    // The weak reference's shared part exists before liblo's thread takes copies of it.
    juce::WeakReference<NsmClient> { this };
}

NsmClient::~NsmClient()
{
    server = nullptr;
}

void NsmClient::post (std::function<void (NsmClient&)> work)
{
    juce::MessageManager::callAsync ([weak = juce::WeakReference<NsmClient> (this), work = std::move (work)]
    {
        if (auto* c = weak.get())
            work (*c);
    });
}

bool NsmClient::claimRequest()
{
    bool expected = false;
    return requestUnderWay.compare_exchange_strong (expected, true);
}

void NsmClient::received (const juce::String& path, const juce::String& types, const juce::StringArray& strings)
{
    const auto about = types.startsWithChar ('s') ? strings[0] : juce::String();

    if (path == "/reply" && about == announcePath)
    {
        answered = true;
        std::printf ("Session manager: %s\n", strings[1].toRawUTF8());
        return;
    }

    if (path == "/error" && about == announcePath)
    {
        answered = true;
        const auto why = types.length() >= 3 && types[2] == 's' ? strings[2] : juce::String ("no reason given");
        post ([why] (NsmClient& c) { c.handler.sessionManagerUnavailable ("the session manager refused us: " + why); });
        return;
    }

    if (path == openPath)
    {
        answered = true;
        if (types != "sss")
            return reply (path, { errGeneral, "open takes three strings (the session folder, the display name and the client ID), got '" + types + "'" });
        if (! juce::File::isAbsolutePath (strings[0]))
            return reply (path, { errBadProject, "the session folder '" + strings[0] + "' is not an absolute path" });
        if (! claimRequest())
            return reply (path, { errOperationPending, "busy with an earlier open or save: this open was not done" });

        post ([folder = juce::File (strings[0]), name = strings[1], id = strings[2]] (NsmClient& c)
        {
            const auto outcome = c.handler.openSession (folder, name, id);
            if (outcome.code == 0)
                c.sessionOpen = true;
            // Free before the reply: the session manager may send its next request the moment it has it.
            c.requestUnderWay = false;
            c.reply (openPath, outcome);
        });
        return;
    }

    if (path == savePath)
    {
        if (! sessionOpen)
            return reply (path, { errNoSessionOpen, "no session is open: nothing to save" });
        if (! claimRequest())
            return reply (path, { errOperationPending, "busy with an earlier open or save: this save was not done" });

        post ([] (NsmClient& c)
        {
            const auto outcome = c.handler.saveSession();
            c.requestUnderWay = false;
            c.reply (savePath, outcome);
        });
        return;
    }

    if (path == "/nsm/client/show_optional_gui" || path == "/nsm/client/hide_optional_gui")
    {
        const bool show = path.contains ("show");
        post ([show] (NsmClient& c) { c.handler.showGui (show); });
    }
    // Anything else (session_is_loaded, messages of later versions) needs nothing from us.
}

void NsmClient::reply (const juce::String& request, const Outcome& outcome)
{
    const std::lock_guard<std::mutex> lock (server->sending);
    auto* from = lo_server_thread_get_server (server->thread);
    if (outcome.code == 0)
        lo_send_from (server->manager, from, LO_TT_IMMEDIATE, "/reply", "ss", request.toRawUTF8(), outcome.message.toRawUTF8());
    else
        lo_send_from (server->manager, from, LO_TT_IMMEDIATE, "/error", "sis", request.toRawUTF8(), outcome.code,
                      outcome.message.toRawUTF8());
}

void NsmClient::send (const char* path)
{
    const std::lock_guard<std::mutex> lock (server->sending);
    lo_send_from (server->manager, lo_server_thread_get_server (server->thread), LO_TT_IMMEDIATE, path, "");
}

void NsmClient::setDirty (bool dirty)
{
    if (dirtyState.exchange (dirty ? 1 : 0) != (dirty ? 1 : 0))
        send (dirty ? "/nsm/client/is_dirty" : "/nsm/client/is_clean");
}

void NsmClient::setGuiShown (bool shown)
{
    if (guiState.exchange (shown ? 1 : 0) != (shown ? 1 : 0))
        send (shown ? "/nsm/client/gui_is_shown" : "/nsm/client/gui_is_hidden");
}
