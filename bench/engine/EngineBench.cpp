// Renders 60 s of 16 held notes on every instrument and prints the realtime factor and the CPU time
// per voice and sample, at blocks of 512. For the sampled instruments it renders the same notes with
// fluidsynth too, in this process through libfluidsynth (reverb on, chorus off, the SoundFont loaded
// before any timing), in the same blocks and side by side with ours, and prints our throughput over
// fluidsynth's, twice: against the General MIDI program closest to each instrument, and against a
// sustained one (Church Organ). Our voices loop for as long as a key is held, so every row costs us
// the same; fluidsynth's plucked programs (harp, guitar) fall silent after a few seconds and free
// their voices, so only the sustained column compares equal work. A shared machine only ever adds
// time, so every figure is the least of three runs.
// Then, over a sixth of the time each (the least of three runs): the realtime factor of ORGAN and
// RHODES at every block size from 16 to 4096, and where the time goes (voices, drone, output stage,
// reverb) for the paths that cost most.
// Usage: kestrune_engine_bench [seconds] [soundfont] [instrument name to run its rows only, or "table"
// for every row and no more]

#include "core/ParameterTable.h"
#include "engine/SoundEngine.h"
#include "Measure.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <numeric>
#include <vector>

#if KESTRUNE_BENCH_WITH_FLUIDSYNTH
 #include <fluidsynth.h>
#endif

namespace
{
constexpr double rate = 44100.0;
constexpr int defaultBlock = 512;
constexpr int numNotes = 16;
constexpr int firstNote = 52;   // every other semitone from E3

const SampleBank& embeddedBank()
{
    static const auto bank = [] {
        auto b = std::make_unique<SampleBank>();
        loadEmbeddedBank (*b);
        return b;
    }();
    return *bank;
}

struct Setting
{
    int instrument;
    float drift;
    int modWheel;
    bool drone = false;
};

juce::MidiBuffer heldNotes (int modWheel)
{
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::controllerEvent (1, 1, modWheel), 0);
    for (int n = 0; n < numNotes; ++n)
        midi.addEvent (juce::MidiMessage::noteOn (1, firstNote + 2 * n, (juce::uint8) 100), 0);
    return midi;
}

// An engine playing the 16 notes from the next block on.
std::unique_ptr<Engine> startEngine (const Setting& setting, EngineParameters& parameters, int blockSize)
{
    auto engine = std::make_unique<Engine> (embeddedBank());
    parameters = kestrune::defaultParameters();
    parameters.instrument = (float) setting.instrument;
    parameters.drift = setting.drift;
    parameters.droneOn = setting.drone ? 1.0f : 0.0f;
    engine->prepare (rate, blockSize);
    return engine;
}

// CPU seconds to render `seconds` of 16 held notes in blocks of `blockSize` into `channels`
// channels (three keep the reverb out).
double renderEngine (const Setting& setting, double seconds, int blockSize = defaultBlock, int channels = 2)
{
    EngineParameters parameters;
    auto engine = startEngine (setting, parameters, blockSize);
    juce::AudioBuffer<float> buffer (channels, blockSize);
    auto midi = heldNotes (setting.modWheel);

    const auto blocks = (int) (seconds * rate / blockSize);
    const auto start = bench::threadSeconds();
    for (int b = 0; b < blocks; ++b)
    {
        engine->process (buffer, midi, parameters, true);
        midi.clear();
    }
    return bench::threadSeconds() - start;
}

// CPU seconds the output stage alone takes over as many samples, fed a sum of 16 voices at the
// default settings' drive. An engine writing into no channel runs the voices and this stage alone, so
// the difference is the voice pass.
double renderOutputStageOnly (double seconds, int blockSize = defaultBlock)
{
    BlockValues values;
    values.drive = kestrune::defaultParameters().volume / 100.0f * 1.3f;
    OutputStage stage;
    std::vector<float> out ((size_t) blockSize);

    const auto blocks = (int) (seconds * rate / blockSize);
    const auto start = bench::threadSeconds();
    for (int b = 0; b < blocks; ++b)
        for (int s = 0; s < blockSize; ++s)
            out[(size_t) s] = stage.sample ((float) ((s & 63) - 32) / 8.0f, numNotes, values);
    const auto elapsed = bench::threadSeconds() - start;
    static volatile float kept;   // keeps the loop's results alive
    kept = out[0];
    return elapsed;
}

// The least of three runs: the machine is shared, and other work only ever adds time.
template <typename Run>
double leastOfThree (Run run)
{
    return std::min ({ run(), run(), run() });
}

// Realtime factor of ORGAN and RHODES at every block size.
void blockSizeSweep (double seconds)
{
    const int sizes[] = { 16, 32, 64, 128, 256, 512, 1024, 4096 };
    struct Row { const char* name; Setting setting; const char* label; };
    const Row rows[] = { { "ORGAN", { organ, 0.0f, 0 }, "drift 0, wheel 0" },   { "ORGAN", { organ, 25.0f, 64 }, "drift 25, wheel 64" },
                         { "RHODES", { rhodes, 0.0f, 0 }, "drift 0, wheel 0" }, { "RHODES", { rhodes, 25.0f, 64 }, "drift 25, wheel 64" } };

    std::printf ("\nrealtime factor by block size (least CPU of three runs of %.0f s, %d held notes)\n%-7s %-19s", seconds, numNotes, "", "setting");
    for (auto size : sizes)
        std::printf (" %7d", size);
    std::printf ("  32 / 512 (goal >= 0.85)\n");

    for (const auto& row : rows)
    {
        std::printf ("%-7s %-19s", row.name, row.label);
        double at32 = 0.0, at512 = 0.0;
        for (auto size : sizes)
        {
            const auto factor = seconds / leastOfThree ([&] { return renderEngine (row.setting, seconds, size); });
            at32 = size == 32 ? factor : at32;
            at512 = size == 512 ? factor : at512;
            std::printf (" %6.1fx", factor);
            std::fflush (stdout);
        }
        std::printf ("  %.2f\n", at32 / at512);
    }
}

// Splits one block's time by difference: the engine writing into no channel (the voice pass and the
// output stage) less the output stage alone, the dry engine (three channels, no reverb), the same with
// the drone off, and the full stereo engine.
void timeBreakdown (double seconds)
{
    struct Row { const char* name; Setting setting; const char* label; };
    const Row rows[] = { { "ORGAN", { organ, 0.0f, 0 }, "drift 0, wheel 0" },   { "ORGAN", { organ, 25.0f, 64 }, "drift 25, wheel 64" },
                         { "CHANT", { chant, 25.0f, 64 }, "drift 25, wheel 64" }, { "RHODES", { rhodes, 25.0f, 64 }, "drift 25, wheel 64" },
                         { "BAGPIPES", { bagpipes, 25.0f, 0, true }, "drift 25, drone on" } };
    const int sizes[] = { 32, 512 };

    std::printf ("\nwhere the time goes (least CPU of three runs of %.0f s, %d held notes; %% of the whole block)\n", seconds, numNotes);
    std::printf ("%-9s %-19s %5s %9s %8s %8s %8s %8s\n", "", "setting", "block", "realtime", "voices", "drone", "output", "reverb");
    for (const auto& row : rows)
    {
        for (auto size : sizes)
        {
            auto silentDrone = row.setting;
            silentDrone.drone = false;
            const auto whole = leastOfThree ([&] { return renderEngine (row.setting, seconds, size, 2); });
            const auto dry = leastOfThree ([&] { return renderEngine (row.setting, seconds, size, 3); });
            const auto dryNoDrone = row.setting.drone ? leastOfThree ([&] { return renderEngine (silentDrone, seconds, size, 3); }) : dry;
            const auto voicesAndStage = leastOfThree ([&] { return renderEngine (silentDrone, seconds, size, 0); });
            const auto voices = voicesAndStage - leastOfThree ([&] { return renderOutputStageOnly (seconds, size); });
            const auto percent = [whole] (double t) { return 100.0 * juce::jmax (0.0, t) / whole; };
            std::printf ("%-9s %-19s %5d %8.1fx %7.1f%% %7.1f%% %7.1f%% %7.1f%%\n", row.name, row.label, size, seconds / whole,
                         percent (voices), percent (dry - dryNoDrone), percent (dryNoDrone - voices), percent (whole - dry));
            std::fflush (stdout);
        }
    }
}

#if KESTRUNE_BENCH_WITH_FLUIDSYNTH
// fluidsynth with the SoundFont loaded once, before anything is timed, rendering on the calling
// thread (one core) so that the thread's CPU time is all it spends.
class Fluidsynth
{
public:
    explicit Fluidsynth (const juce::String& soundFont)
    {
        fluid_settings_setnum (settings, "synth.sample-rate", rate);
        fluid_settings_setint (settings, "synth.cpu-cores", 1);
        fluid_settings_setint (settings, "synth.chorus.active", 0);
        fluid_settings_setint (settings, "synth.reverb.active", 1);
        synth = new_fluid_synth (settings);
        loaded = synth != nullptr && fluid_synth_sfload (synth, soundFont.toRawUTF8(), 1) != FLUID_FAILED;
    }

    ~Fluidsynth()
    {
        if (synth != nullptr)
            delete_fluid_synth (synth);
        delete_fluid_settings (settings);
    }

    bool isLoaded() const { return loaded; }

    // Silences the synth and strikes the 16 notes on a General MIDI program.
    void start (int program, int modWheel)
    {
        fluid_synth_system_reset (synth);
        fluid_synth_program_change (synth, 0, program);
        fluid_synth_cc (synth, 0, 1, modWheel);
        for (int n = 0; n < numNotes; ++n)
            fluid_synth_noteon (synth, 0, firstNote + 2 * n, 100);
    }

    void render (int blocks)
    {
        for (int b = 0; b < blocks; ++b)
            fluid_synth_write_float (synth, defaultBlock, left.data(), 0, 1, right.data(), 0, 1);
    }

private:
    fluid_settings_t* settings = new_fluid_settings();
    fluid_synth_t* synth = nullptr;
    bool loaded = false;
    std::vector<float> left = std::vector<float> (defaultBlock), right = std::vector<float> (defaultBlock);
};
#endif

// The General MIDI program closest to each sampled instrument; fluidsynth's sustained program.
struct GeneralMidi { Instrument instrument; int program; };
constexpr GeneralMidi closestPrograms[] = { { bagpipes, 109 }, { recorder, 74 }, { harp, 46 },
                                            { guitar, 24 },    { organ, 19 },    { horn, 60 } };
constexpr int sustainedProgram = 19;

int closestProgram (Instrument instrument)
{
    for (const auto& row : closestPrograms)
        if (row.instrument == instrument)
            return row.program;
    return -1;
}

// One of the renderers compared: starts the 16 notes afresh, then renders on, a number of blocks
// of 512 at a time.
struct Player
{
    std::function<void()> start;
    std::function<void (int blocks)> render;
};

Player ourPlayer (const Setting& setting)
{
    struct State
    {
        std::unique_ptr<Engine> engine;
        EngineParameters parameters;
        juce::AudioBuffer<float> buffer { 2, defaultBlock };
        juce::MidiBuffer midi;
    };
    auto state = std::make_shared<State>();
    return { [state, setting] {
                state->engine = startEngine (setting, state->parameters, defaultBlock);
                state->midi = heldNotes (setting.modWheel);
            },
             [state] (int blocks) {
                 for (int b = 0; b < blocks; ++b)
                 {
                     state->engine->process (state->buffer, state->midi, state->parameters, true);
                     state->midi.clear();
                 }
             } };
}

// CPU seconds each player takes to render `seconds` of its notes, the players side by side: they
// take turns at slices of 128 blocks (1.5 s of sound), so that a busy spell of the shared machine
// falls on all of them alike rather than on whichever ran then. Three times over from a fresh
// start, keeping each slice's least time.
std::vector<double> renderSideBySide (const std::vector<Player>& players, double seconds)
{
    constexpr int sliceBlocks = 128;
    const auto blocks = (int) (seconds * rate / defaultBlock);
    const auto numSlices = (blocks + sliceBlocks - 1) / sliceBlocks;
    std::vector<std::vector<double>> least (players.size(), std::vector<double> ((size_t) numSlices, 1.0e9));

    for (int run = 0; run < 3; ++run)
    {
        for (const auto& player : players)
            player.start();
        for (int slice = 0; slice < numSlices; ++slice)
        {
            for (size_t p = 0; p < players.size(); ++p)
            {
                const auto start = bench::threadSeconds();
                players[p].render (std::min (sliceBlocks, blocks - slice * sliceBlocks));
                least[p][(size_t) slice] = std::min (least[p][(size_t) slice], bench::threadSeconds() - start);
            }
        }
    }

    std::vector<double> totals;
    for (const auto& slices : least)
        totals.push_back (std::accumulate (slices.begin(), slices.end(), 0.0));
    return totals;
}
} // namespace

int main (int argc, char** argv)
{
    const auto seconds = argc > 1 ? std::atof (argv[1]) : 60.0;
    const juce::String soundFont = argc > 2 ? argv[2] : "/usr/share/sounds/sf2/FluidR3_GM.sf2";
    const juce::String only = argc > 3 ? argv[3] : "";

#if KESTRUNE_BENCH_WITH_FLUIDSYNTH
    // Two synths, for the program closest to the row's and the sustained one, which share the
    // SoundFont's samples.
    Fluidsynth fluid (soundFont), sustainedFluid (soundFont);
    if (! fluid.isLoaded())
        std::printf ("fluidsynth could not load %s: no comparison\n", soundFont.toRawUTF8());
#else
    std::printf ("built without libfluidsynth (Debian: libfluidsynth-dev): no comparison with fluidsynth\n");
#endif

    std::printf ("%.0f s at 44100 Hz, block %d, %d held notes; fluidsynth: %s\n\n", seconds, defaultBlock, numNotes, soundFont.toRawUTF8());
    std::printf ("%-9s %-20s %9s %13s %12s %11s %15s\n", "", "setting", "realtime", "ns/voice-smp", "fluid same", "ours/same",
                 "ours/sustained");

    const auto voiceSamples = seconds * rate * numNotes;
    const auto report = [&] (const InstrumentRow& row, const char* setting, float drift, int wheel) {
        if (only.isNotEmpty() && only != "table" && only != row.name)
            return;
        const auto program = closestProgram (row.id);
        std::vector<Player> players { ourPlayer ({ row.id, drift, wheel }) };
#if KESTRUNE_BENCH_WITH_FLUIDSYNTH
        if (program >= 0 && fluid.isLoaded() && sustainedFluid.isLoaded())
        {
            players.push_back ({ [&, program, wheel] { fluid.start (program, wheel); }, [&] (int blocks) { fluid.render (blocks); } });
            players.push_back ({ [&, wheel] { sustainedFluid.start (sustainedProgram, wheel); },
                                 [&] (int blocks) { sustainedFluid.render (blocks); } });
        }
#endif
        const auto times = renderSideBySide (players, seconds);
        const auto ours = times[0];

        std::printf ("%-9s %-20s %8.1fx %13.2f", row.name, setting, seconds / ours, ours * 1.0e9 / voiceSamples);
        if (times.size() == 3)
            std::printf (" %11.1fx %10.2fx %14.2fx", seconds / times[1], times[1] / ours, times[2] / ours);
        else if (program >= 0)
            std::printf (" %12s %11s %15s", "n/a", "n/a", "n/a");
        std::printf ("\n");
        std::fflush (stdout);
    };

    for (const auto& row : instrumentTable)
        if (row.kind == InstrumentKind::sampled)
            report (row, "drift 0, wheel 0", 0.0f, 0);
    for (const auto& row : instrumentTable)
        report (row, "drift 25, wheel 64", 25.0f, 64);

    if (only.isEmpty())
    {
        blockSizeSweep (seconds / 6.0);
        timeBreakdown (seconds / 6.0);
    }
    return 0;
}
