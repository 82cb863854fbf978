// The built LV2 binary, loaded and run the way an LV2 host does, with no host program between: its
// control ports reach the parameters once a block, a restored state stands over ports the host has
// not moved, and a block that reads moved ports allocates nothing.
#include "../realtime/Interpose.h"

#include <gtest/gtest.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/state/state.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <X11/Xlib.h>

#include <dlfcn.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace
{
constexpr double sampleRate = 48000.0;
constexpr int blockSize = 256;
constexpr uint32_t atomCapacity = 65536;

std::string readFile (const std::string& path)
{
    std::ifstream in (path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// JUCE's MemoryBlock base64: "<size>." then six bits a character, least significant first.
std::string juceBase64Decode (const std::string& text)
{
    static const std::string alphabet = ".ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+";
    const auto dot = text.find ('.');
    const auto size = (size_t) std::stoul (text.substr (0, dot));
    std::string bytes (size, '\0');
    size_t bit = 0;
    for (auto c : text.substr (dot + 1))
    {
        const auto value = alphabet.find (c);
        for (int i = 0; i < 6 && bit / 8 < size; ++i, ++bit)
            if ((value >> i) & 1)
                bytes[bit / 8] = (char) (bytes[bit / 8] | (1 << (bit % 8)));
    }
    return bytes;
}

struct PortInfo
{
    uint32_t index;
    float defaultValue;
};

// Control ports by symbol, from the bundle's dsp.ttl, the way a host learns them.
std::map<std::string, PortInfo> readControlPorts (const std::string& ttl)
{
    std::map<std::string, PortInfo> ports;
    const std::regex block (R"re(\[([^\[\]]*lv2:ControlPort[^\[\]]*?)(?:\]|lv2:scalePoint))re");
    const std::regex index (R"re(lv2:index (\d+))re"), symbol (R"re(lv2:symbol "(\w+)")re"),
        def (R"re(lv2:default ([-\d.eE]+))re");
    for (auto it = std::sregex_iterator (ttl.begin(), ttl.end(), block); it != std::sregex_iterator(); ++it)
    {
        const auto text = (*it)[1].str();
        std::smatch i, s, d;
        if (std::regex_search (text, i, index) && std::regex_search (text, s, symbol) && text.find ("InputPort") != std::string::npos)
            ports[s[1]] = { (uint32_t) std::stoul (i[1]), std::regex_search (text, d, def) ? std::stof (d[1]) : 0.0f };
    }
    return ports;
}

// One plug-in instance with the features the wrapper asks for, its ports connected to buffers here.
class Host
{
public:
    Host()
    {
        library = dlopen (KESTRUNE_LV2_BINARY, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr)
            throw std::runtime_error (dlerror());
        auto* getDescriptor = (LV2_Descriptor_Function) dlsym (library, "lv2_descriptor");
        descriptor = getDescriptor (0);

        const auto bundle = std::string (KESTRUNE_LV2_BINARY).substr (0, std::string (KESTRUNE_LV2_BINARY).rfind ('/') + 1);
        ports = readControlPorts (readFile (bundle + "dsp.ttl"));

        options[0] = { LV2_OPTIONS_INSTANCE, 0, map (LV2_BUF_SIZE__maxBlockLength), sizeof (int32_t), map (LV2_ATOM__Int), &maxBlock };
        options[1] = { LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr };
        features[0] = { LV2_URID__map, &mapFeature };
        features[1] = { LV2_OPTIONS__options, options };
        features[2] = { LV2_BUF_SIZE__boundedBlockLength, nullptr };
        const LV2_Feature* list[] = { &features[0], &features[1], &features[2], nullptr };
        instance = descriptor->instantiate (descriptor, sampleRate, bundle.c_str(), list);
        if (instance == nullptr)
            throw std::runtime_error ("the plug-in refused to instantiate");

        values.resize (64, 0.0f);
        for (const auto& [name, port] : ports)
        {
            values[port.index] = port.defaultValue;
            descriptor->connect_port (instance, port.index, &values[port.index]);
        }
        // The stereo output comes first; the atom input and output follow it.
        descriptor->connect_port (instance, 0, left.data());
        descriptor->connect_port (instance, 1, right.data());
        descriptor->connect_port (instance, 2, input.data());
        descriptor->connect_port (instance, 3, output.data());
        descriptor->activate (instance);
        clearInput();
    }

    ~Host()
    {
        descriptor->deactivate (instance);
        descriptor->cleanup (instance);
    }

    float& port (const std::string& symbol) { return values[ports.at (symbol).index]; }
    uint32_t portIndex (const std::string& symbol) const { return ports.at (symbol).index; }
    LV2_Handle handle() const { return instance; }
    const LV2_Feature* mapFeaturePointer() const { return &features[0]; }
    bool hasPort (const std::string& symbol) const { return ports.count (symbol) != 0; }

    void noteOn (int note) { midi (0x90, note, 100); }

    // One block; returns its peak.
    float run()
    {
        auto* out = reinterpret_cast<LV2_Atom_Sequence*> (output.data());
        out->atom.type = chunkType;
        out->atom.size = atomCapacity - sizeof (LV2_Atom);
        descriptor->run (instance, blockSize);
        clearInput();
        float peak = 0.0f;
        for (int i = 0; i < blockSize; ++i)
            peak = std::max ({ peak, std::abs (left[(size_t) i]), std::abs (right[(size_t) i]) });
        return peak;
    }

    float runSeconds (double seconds)
    {
        float peak = 0.0f;
        for (int i = 0; i < (int) (seconds * sampleRate / blockSize); ++i)
            peak = std::max (peak, run());
        return peak;
    }

    void restore (const std::string& stateString)
    {
        stored[map ("urn:zarnithquorlebrefton:kestrune:StateString")] = stateString + '\0';
        ASSERT_EQ (stateInterface()->restore (instance, &Host::retrieveFn, this, 0, nullptr), LV2_STATE_SUCCESS);
    }

    // The twelve values the plug-in stores now, from the XML inside its state string.
    std::map<std::string, float> storedValues()
    {
        stored.clear();
        EXPECT_EQ (stateInterface()->save (instance, &Host::storeFn, this, 0, nullptr), LV2_STATE_SUCCESS);
        const auto& text = stored[map ("urn:zarnithquorlebrefton:kestrune:StateString")];
        const auto block = juceBase64Decode (text.c_str());
        std::map<std::string, float> found;
        const std::regex param (R"re(<PARAM id="(\w+)" value="([^"]*)")re");
        for (auto it = std::sregex_iterator (block.begin(), block.end(), param); it != std::sregex_iterator(); ++it)
            found[(*it)[1]] = std::stof ((*it)[2]);
        return found;
    }

    LV2_URID map (const char* uri)
    {
        const auto it = urids.find (uri);
        return it != urids.end() ? it->second : urids.emplace (uri, (LV2_URID) urids.size() + 1).first->second;
    }

private:
    static LV2_URID mapFn (LV2_URID_Map_Handle handle, const char* uri) { return static_cast<Host*> (handle)->map (uri); }

    static LV2_State_Status storeFn (LV2_State_Handle handle, uint32_t key, const void* value, size_t size, uint32_t, uint32_t)
    {
        static_cast<Host*> (handle)->stored[key] = std::string (static_cast<const char*> (value), size);
        return LV2_STATE_SUCCESS;
    }

    static const void* retrieveFn (LV2_State_Handle handle, uint32_t key, size_t* size, uint32_t* type, uint32_t* flags)
    {
        auto* self = static_cast<Host*> (handle);
        const auto it = self->stored.find (key);
        if (it == self->stored.end())
            return nullptr;
        *size = it->second.size();
        *type = self->map (LV2_ATOM__String);
        *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
        return it->second.data();
    }

    const LV2_State_Interface* stateInterface() const
    {
        return static_cast<const LV2_State_Interface*> (descriptor->extension_data (LV2_STATE__interface));
    }

    void clearInput()
    {
        auto* in = reinterpret_cast<LV2_Atom_Sequence*> (input.data());
        in->atom.type = sequenceType;
        in->atom.size = sizeof (LV2_Atom_Sequence_Body);
        in->body.unit = 0;
        in->body.pad = 0;
    }

    void midi (uint8_t status, int data1, int data2)
    {
        struct
        {
            LV2_Atom_Event event;
            uint8_t message[3];
        } e {};
        e.event.time.frames = 0;
        e.event.body.type = midiType;
        e.event.body.size = 3;
        e.message[0] = status;
        e.message[1] = (uint8_t) data1;
        e.message[2] = (uint8_t) data2;
        lv2_atom_sequence_append_event (reinterpret_cast<LV2_Atom_Sequence*> (input.data()), atomCapacity - sizeof (LV2_Atom),
                                        &e.event);
    }

    void* library = nullptr;
    const LV2_Descriptor* descriptor = nullptr;
    LV2_Handle instance = nullptr;
    std::map<std::string, LV2_URID, std::less<>> urids;
    // What the audio thread's blocks use, mapped before any of them runs.
    const LV2_URID chunkType = map (LV2_ATOM__Chunk), sequenceType = map (LV2_ATOM__Sequence),
                   midiType = map (LV2_MIDI__MidiEvent);
    LV2_URID_Map mapFeature { this, &Host::mapFn };
    int32_t maxBlock = blockSize;
    LV2_Options_Option options[2] {};
    LV2_Feature features[3] {};
    std::map<std::string, PortInfo> ports;
    std::vector<float> values;
    std::vector<float> left = std::vector<float> (blockSize), right = std::vector<float> (blockSize);
    std::vector<uint64_t> input = std::vector<uint64_t> (atomCapacity / 8), output = std::vector<uint64_t> (atomCapacity / 8);
    std::map<uint32_t, std::string> stored;
};

// The state string of a session saved by the LV2 before its parameters were control ports.
std::string stateSavedBeforePorts()
{
    const auto ttl = readFile (KESTRUNE_STATE_BEFORE_PORTS);
    std::smatch m;
    const std::regex string (R"re(StateString> "([^"]*)")re");
    if (! std::regex_search (ttl, m, string))
        throw std::runtime_error ("no state string in " KESTRUNE_STATE_BEFORE_PORTS);
    return m[1];
}

const std::map<std::string, float> settingsBeforePorts = {
    { "instrument", 3.0f }, { "attack", 0.25f }, { "release", 1.5f }, { "droneVol", 20.0f }, { "droneOn", 1.0f },
    { "brightness", 40.0f }, { "volume", 55.0f }, { "ornament", 10.0f }, { "drift", 5.0f }, { "reverbMix", 12.0f },
    { "reverbSize", 75.0f }, { "focusMode", 1.0f },
};
} // namespace

// The plug-in's UI, embedded in a window of ours, with the host's side of it: the port writes it makes.
class Ui
{
public:
    // A scale factor above 0 is offered as a host on a high-density screen does (ui:scaleFactor).
    Ui (Host& host, Display* display, float scaleFactor = 0.0f) : scale (scaleFactor)
    {
        auto* getDescriptor = (LV2UI_DescriptorFunction) dlsym (dlopen (KESTRUNE_LV2_BINARY, RTLD_NOW | RTLD_NOLOAD),
                                                                "lv2ui_descriptor");
        descriptor = getDescriptor (0);
        window = XCreateSimpleWindow (display, DefaultRootWindow (display), 0, 0, 800, 600, 0, 0, 0);
        XSync (display, False);   // the UI opens a connection of its own, which must see the window
        const LV2_Feature instanceAccess { LV2_INSTANCE_ACCESS_URI, host.handle() };
        const LV2_Feature parent { LV2_UI__parent, (void*) window };
        options[0] = { LV2_OPTIONS_INSTANCE, 0, host.map (LV2_UI__scaleFactor), sizeof (float), host.map (LV2_ATOM__Float), &scale };
        options[1] = { LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr };
        const LV2_Feature offered { LV2_OPTIONS__options, options };
        const LV2_Feature resize { LV2_UI__resize, &resizeFeature };
        const LV2_Feature* features[] = { &instanceAccess, &parent, host.mapFeaturePointer(), &resize,
                                          scale > 0.0f ? &offered : nullptr, nullptr };
        LV2UI_Widget widget = nullptr;
        ui = descriptor->instantiate (descriptor, "urn:zarnithquorlebrefton:kestrune", "", &Ui::writeFn, this, &widget,
                                      features);
        if (ui == nullptr)
            throw std::runtime_error ("the UI refused to instantiate");
        idleInterface = static_cast<const LV2UI_Idle_Interface*> (descriptor->extension_data (LV2_UI__idleInterface));
    }

    ~Ui() { descriptor->cleanup (ui); }

    // The host's idle calls, a few of them; returns the port writes they brought, by port.
    std::map<uint32_t, float> idle()
    {
        writes.clear();
        for (int i = 0; i < 5; ++i)
            idleInterface->idle (ui);
        return writes;
    }

    // The size the UI last asked its host for.
    int width = 0, height = 0;

private:
    static void writeFn (LV2UI_Controller controller, uint32_t port, uint32_t size, uint32_t protocol, const void* buffer)
    {
        if (protocol == 0 && size == sizeof (float))
            static_cast<Ui*> (controller)->writes[port] = *static_cast<const float*> (buffer);
    }

    static int resizeFn (LV2UI_Feature_Handle handle, int w, int h)
    {
        auto* self = static_cast<Ui*> (handle);
        self->width = w;
        self->height = h;
        return 0;
    }

    float scale;
    LV2_Options_Option options[2] {};
    LV2UI_Resize resizeFeature { this, &Ui::resizeFn };
    const LV2UI_Descriptor* descriptor = nullptr;
    LV2UI_Handle ui = nullptr;
    const LV2UI_Idle_Interface* idleInterface = nullptr;
    Window window {};
    std::map<uint32_t, float> writes;
};

// The X display the UI's window goes on.
static Display* openDisplay()
{
    // A virtual server on a loaded machine may take a moment to take another client.
    Display* display = nullptr;
    for (int attempt = 0; attempt < 50 && display == nullptr; ++attempt)
        if ((display = XOpenDisplay (nullptr)) == nullptr)
            std::this_thread::sleep_for (std::chrono::milliseconds (100));
    // Xlib's default handler ends the process on the harmless errors a bare X server answers with.
    XSetErrorHandler ([] (Display*, XErrorEvent*) { return 0; });
    return display;
}

// A host on a high-density screen offers ui:scaleFactor: the editor asks for its size times that
// factor (applied once), and for its own size where nothing is offered.
TEST (Lv2Ui, TheEditorTakesTheScaleFactorTheHostOffers)
{
    if (std::getenv ("DISPLAY") == nullptr)
        GTEST_SKIP() << "no X display (run under xvfb-run)";
    auto* display = openDisplay();
    ASSERT_NE (display, nullptr) << "cannot open the X display " << std::getenv ("DISPLAY");
    {
        Host host;
        for (const auto& [scale, width, height] : { std::tuple (0.0f, 720, 540), std::tuple (1.5f, 1080, 810),
                                                    std::tuple (2.0f, 1440, 1080) })
        {
            Ui ui (host, display, scale);
            ui.idle();
            EXPECT_EQ (ui.width, width) << "offered " << scale;
            EXPECT_EQ (ui.height, height) << "offered " << scale;
        }
    }
    XCloseDisplay (display);
}

// What the host writes to a port reaches the parameter at the next block, in the parameter's own
// units and clamped to its range; a port value that is not a number leaves the parameter alone.
TEST (Lv2ControlPorts, AMovedPortSetsItsParameterAtTheNextBlock)
{
    struct Case
    {
        const char* symbol;
        float portValue, expected;
    };
    const Case cases[] = {
        { "volume", 55.0f, 55.0f },     { "release", 1.5f, 1.5f },   { "instrument", 3.0f, 3.0f },
        { "droneOn", 1.0f, 1.0f },      { "attack", 0.25f, 0.25f },  { "volume", 250.0f, 100.0f },
        { "reverbSize", -4.0f, 0.0f },  { "drift", std::numeric_limits<float>::quiet_NaN(), 25.0f },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (std::string (c.symbol) + " = " + std::to_string (c.portValue));
        Host host;
        ASSERT_TRUE (host.hasPort (c.symbol));
        host.run();
        const auto before = host.storedValues();
        host.port (c.symbol) = c.portValue;
        host.run();
        const auto after = host.storedValues();
        EXPECT_NEAR (after.at (c.symbol), c.expected, 1e-4);
        for (const auto& [id, value] : before)
            if (id != c.symbol)
                EXPECT_FLOAT_EQ (after.at (id), value) << id;
    }
}

// A session of before the ports holds the values only in the plug-in's state: restored, they stand
// although the host's ports stay at their defaults, until the host moves one. Hosts restore before
// the first block (jalv) or after some (Ardour).
TEST (Lv2ControlPorts, ARestoredStateStandsOverPortsTheHostHasNotMoved)
{
    for (const int blocksBefore : { 0, 1 })
    {
        SCOPED_TRACE (std::to_string (blocksBefore) + " blocks before the state is restored");
        Host host;
        for (int i = 0; i < blocksBefore; ++i)
            host.run();
        host.restore (stateSavedBeforePorts());
        host.runSeconds (0.1);
        EXPECT_EQ (host.storedValues(), settingsBeforePorts);

        host.port ("attack") = 0.5f;
        host.run();
        auto expected = settingsBeforePorts;
        expected["attack"] = 0.5f;
        const auto got = host.storedValues();
        for (const auto& [id, value] : expected)
            EXPECT_NEAR (got.at (id), value, 1e-4) << id;
    }
}

// Notes sound through the ports' settings, Volume at 0 on its port silences them, and blocks whose
// ports move neither allocate nor free.
TEST (Lv2ControlPorts, PortsChangeTheSoundWithoutAllocating)
{
    Host host;
    host.port ("reverbMix") = 0.0f;
    host.run();

    audiothread::reset();
    float sounding = 0.0f, silenced = 0.0f;
    {
        const audiothread::ScopedAudioThread counted;
        host.noteOn (60);
        for (int block = 0; block < 100; ++block)
        {
            host.port ("brightness") = (float) (block % 100);
            host.port ("drift") = (float) (block % 7);
            sounding = std::max (sounding, host.run());
        }
        host.port ("volume") = 0.0f;
        host.runSeconds (0.05);
        silenced = host.runSeconds (0.2);
    }
    const auto counts = audiothread::counts();
    EXPECT_GT (sounding, 0.01f);
    EXPECT_LT (silenced, 1e-6f);
    EXPECT_EQ (counts.allocations(), 0) << "first: " << audiothread::callName (audiothread::firstCall().call)
                                         << " of " << audiothread::firstCall().size << " bytes";
    EXPECT_EQ (counts.calls[audiothread::free_], 0);
}

// Values that change inside the plug-in (a restored state here, the editor's knobs in use) reach the
// host as port writes from the UI, on the host's idle calls; what the host itself wrote to a port is
// not written back to it.
TEST (Lv2ControlPorts, TheUiWritesThePluginsChangesToThePortsButNotTheHostsOwn)
{
    if (std::getenv ("DISPLAY") == nullptr)
        GTEST_SKIP() << "no X display (run under xvfb-run)";
    auto* display = openDisplay();
    ASSERT_NE (display, nullptr) << "cannot open the X display " << std::getenv ("DISPLAY");
    {
        Host host;
        host.run();
        Ui ui (host, display);
        ui.idle();

        host.restore (stateSavedBeforePorts());
        std::map<uint32_t, float> expected;
        for (const auto& [id, value] : settingsBeforePorts)
            expected[host.portIndex (id)] = value;
        const auto written = ui.idle();
        ASSERT_EQ (written.size(), expected.size());
        for (const auto& [port, value] : expected)
            EXPECT_NEAR (written.at (port), value, 1e-4) << "port " << port;

        host.port ("volume") = 20.0f;
        host.run();
        EXPECT_TRUE (ui.idle().empty());
    }
    XCloseDisplay (display);
}
