// Render speed of 16 held notes (every other semitone from E3, velocity 100) at 44.1 kHz, blocks of
// 512, in CPU time of this thread, the least of N runs (N = 5 unless given). Three tables:
//
// 1. Where the time goes, stage by stage, each stage run alone on the voices a real engine started:
//    the pitch (drift and trill), each kind's voice render, in ns per voice-sample; the output stage,
//    the reverb and the drone, in ns per frame.
// 2. The whole engine per setting, against fluidsynth in this process (libfluidsynth) playing the same
//    notes in the same blocks on its sustained General MIDI program (Church Organ: one voice per note,
//    never decaying, so both sides render 16 voices throughout), with its default fourth-order
//    interpolation and with linear interpolation as ours, reverb on both sides and off on both sides
//    (chorus off). Between runs fluidsynth's voices are silenced and rendered out until none is
//    left, and each run prints how many it had sounding at its start and its end. The renderers take
//    turns at slices of 1.5 s of sound, so a busy spell of the shared machine falls on all alike.
//    Every ratio is of least times measured in this one run; the spread is (most - least) / least
//    over the runs.
// 3. The realtime factor at blocks of 32 against blocks of 512 for every path, on each instruction set
//    the processor has (tables 1 and 2 use the engine's own choice).
//
// Usage: kestrune_engine_bench [seconds (60)] [runs (5)] [soundfont, or - for FluidR3_GM] [table: "stages", "engine" or "blocks"]
//        kestrune_engine_bench SECONDS 1 - path INDEX: renders one path once and prints nothing, for
//        counting instructions: valgrind --tool=callgrind --toggle-collect='Engine::process*' ...

#include "core/ParameterTable.h"
#include "engine/SampledVoice.h"
#include "engine/SoundEngine.h"
#include "engine/Synth.h"
#include "../../tests/EngineProbe.h"
#include "Measure.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#if KESTRUNE_BENCH_WITH_FLUIDSYNTH
 #include <fluidsynth.h>
#endif

namespace
{
constexpr double rate = 44100.0;
constexpr int defaultBlock = 512;
constexpr int numNotes = 16;
constexpr int firstNote = 52;
constexpr int sustainedProgram = 19;   // General MIDI Church Organ

int numRuns = 5;
InstructionSet engineSet = instructions::fastest();

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
    const char* label;
    int instrument;
    float drift;
    int modWheel;
    bool drone = false;
};

// The paths the goals name: a sampled voice reading alone, the drift and trill on top, the two
// synthesised voices with everything on, and the drone.
const Setting paths[] = {
    { "sampled, drift 0", organ, 0.0f, 0 },
    { "ORGAN drift 25 wheel 64", organ, 25.0f, 64 },
    { "CHANT drift 25 wheel 64", chant, 25.0f, 64 },
    { "RHODES drift 25 wheel 64", rhodes, 25.0f, 64 },
    { "BAGPIPES drift 25 drone", bagpipes, 25.0f, 0, true },
};

juce::MidiBuffer heldNotes (int modWheel)
{
    juce::MidiBuffer midi;
    midi.addEvent (juce::MidiMessage::controllerEvent (1, 1, modWheel), 0);
    for (int n = 0; n < numNotes; ++n)
        midi.addEvent (juce::MidiMessage::noteOn (1, firstNote + 2 * n, (juce::uint8) 100), 0);
    return midi;
}

struct Playing
{
    std::unique_ptr<Engine> engine;
    EngineParameters parameters;
};

// An engine whose first block (of none samples) has struck the 16 notes.
Playing startEngine (const Setting& setting, int blockSize)
{
    Playing p { std::make_unique<Engine> (embeddedBank()), kestrune::defaultParameters() };
    p.parameters.instrument = (float) setting.instrument;
    p.parameters.drift = setting.drift;
    p.parameters.droneOn = setting.drone ? 1.0f : 0.0f;
    p.engine->useInstructions (engineSet);
    p.engine->seedRandom (1);
    p.engine->prepare (rate, blockSize);
    juce::AudioBuffer<float> none (2, 0);
    p.engine->process (none, heldNotes (setting.modWheel), p.parameters, true);
    return p;
}

// CPU seconds to render `seconds` in blocks of `blockSize` into `channels` channels (three keep the
// reverb out).
double renderEngine (const Setting& setting, double seconds, int blockSize, int channels = 2)
{
    auto p = startEngine (setting, blockSize);
    juce::AudioBuffer<float> buffer (channels, blockSize);
    const juce::MidiBuffer none;
    const auto blocks = (int) (seconds * rate / blockSize);
    const auto start = bench::threadSeconds();
    for (int b = 0; b < blocks; ++b)
        p.engine->process (buffer, none, p.parameters, true);
    return bench::threadSeconds() - start;
}

template <typename Run>
double leastOf (Run run)
{
    auto least = run();
    for (int r = 1; r < numRuns; ++r)
        least = std::min (least, run());
    return least;
}

//==============================================================================
// Stage by stage: each stage over the four groups of a playing engine's voices, chunk after chunk,
// compiled for each instruction set as the engine's voice pass is.
struct Stages
{
    double pitch, voice, output, reverb, drone;   // ns per voice-sample (pitch, voice) or per frame
};

struct StageInput
{
    Voice* voices;
    const BlockValues& block;
    float modWheel;
    InstrumentKind kind;
    RenderScratch& scratch;
    int chunks;
};

constexpr int chunkSize = RenderScratch::chunk;

#define KESTRUNE_BENCH_STAGES(suffix, attributes)                                                                     \
    attributes void pitchStage##suffix (const StageInput& in) noexcept                                                \
    {                                                                                                                 \
        const int on[laneWidth] = { 1, 1, 1, 1 };                                                                     \
        for (int c = 0; c < in.chunks; ++c)                                                                           \
            for (int g = 0; g < numGroups; ++g)                                                                       \
                expression::pitchOffsets (&in.voices[g * laneWidth], on, in.block, in.modWheel, in.scratch.group, chunkSize); \
    }                                                                                                                 \
    attributes void voiceStage##suffix (const StageInput& in) noexcept                                                \
    {                                                                                                                 \
        const int on[laneWidth] = { 1, 1, 1, 1 };                                                                     \
        const int rendered[laneWidth] = { chunkSize, chunkSize, chunkSize, chunkSize };                               \
        for (int c = 0; c < in.chunks; ++c)                                                                           \
            for (int g = 0; g < numGroups; ++g)                                                                       \
            {                                                                                                         \
                auto* v = &in.voices[g * laneWidth];                                                                  \
                switch (in.kind)                                                                                      \
                {                                                                                                     \
                    case InstrumentKind::sampled: sampled::renderSampled (v, rendered, in.scratch.group, chunkSize); break; \
                    case InstrumentKind::chant:                                                                       \
                        synth::renderChant (v, on, in.block, in.scratch.noise[g], in.scratch.group, chunkSize);      \
                        break;                                                                                        \
                    case InstrumentKind::rhodes: synth::renderRhodes (v, on, in.block, in.scratch.group, chunkSize); break; \
                }                                                                                                     \
            }                                                                                                         \
    }

KESTRUNE_BENCH_STAGES (Portable, )
#if defined(__x86_64__)
KESTRUNE_BENCH_STAGES (Avx2, __attribute__ ((target ("arch=x86-64-v3"), flatten)))
KESTRUNE_BENCH_STAGES (Avx512, __attribute__ ((target ("arch=x86-64-v4"), flatten)))
#else
KESTRUNE_BENCH_STAGES (Avx2, )
KESTRUNE_BENCH_STAGES (Avx512, )
#endif

Stages timeStages (const Setting& setting, double seconds, InstructionSet set)
{
    auto p = startEngine (setting, defaultBlock);
    const auto& engine = *p.engine;
    Voice voices[numVoices];
    for (int i = 0; i < numVoices; ++i)
        voices[i] = engine.voice (i);
    const auto block = EngineProbe::block (engine);

    constexpr int n = chunkSize;
    const auto chunks = (int) (seconds * rate / n);
    static RenderScratch scratch {};
    const StageInput input { voices, block, EngineProbe::modWheel (engine), kindOf (setting.instrument), scratch, chunks };

    const auto perVoiceSample = [&] (double t) { return t * 1.0e9 / ((double) chunks * n * numVoices); };
    const auto perFrame = [&] (double t) { return t * 1.0e9 / ((double) chunks * n); };
    const auto timed = [&] (auto stage) {
        return leastOf ([&] {
            const auto start = bench::threadSeconds();
            stage (input);
            return bench::threadSeconds() - start;
        });
    };

    Stages result {};
    switch (set)
    {
        case InstructionSet::portable: result.pitch = timed (pitchStagePortable); break;
        case InstructionSet::avx2:     result.pitch = timed (pitchStageAvx2); break;
        case InstructionSet::avx512:   result.pitch = timed (pitchStageAvx512); break;
    }
    result.pitch = perVoiceSample (result.pitch);

    // The voices render at the pitch the last group's stage left, as they would at any pitch.
    switch (set)
    {
        case InstructionSet::portable: result.voice = timed (voiceStagePortable); break;
        case InstructionSet::avx2:     result.voice = timed (voiceStageAvx2); break;
        case InstructionSet::avx512:   result.voice = timed (voiceStageAvx512); break;
    }
    result.voice = perVoiceSample (result.voice);

    juce::Random random (3);
    for (int s = 0; s < n; ++s)
    {
        scratch.mix[s] = random.nextFloat() * 4.0f - 2.0f;
        scratch.count[s] = numVoices;
    }
    OutputStage output;
    result.output = perFrame (leastOf ([&] {
        const auto start = bench::threadSeconds();
        for (int c = 0; c < chunks; ++c)
            for (int s = 0; s < n; ++s)
                scratch.noise[0][s][0] = output.sample (scratch.mix[s], scratch.count[s], block);
        return bench::threadSeconds() - start;
    }));

    StereoReverb reverb;
    reverb.prepare (rate);
    reverb.setParameters ({});
    juce::AudioBuffer<float> stereo (2, defaultBlock);
    for (int ch = 0; ch < 2; ++ch)
        for (int s = 0; s < defaultBlock; ++s)
            stereo.setSample (ch, s, random.nextFloat() * 0.5f - 0.25f);
    const auto blocks = chunks * n / defaultBlock;
    result.reverb = leastOf ([&] {
        const auto start = bench::threadSeconds();
        for (int b = 0; b < blocks; ++b)
            reverb.processStereo (stereo.getWritePointer (0), stereo.getWritePointer (1), defaultBlock);
        return bench::threadSeconds() - start;
    }) * 1.0e9 / ((double) blocks * defaultBlock);

    Drone drone;
    auto droneBlock = block;
    droneBlock.droneLevel = 0.5f;
    droneBlock.driftAmount = 0.25f;
    result.drone = perFrame (leastOf ([&] {
        const auto start = bench::threadSeconds();
        for (int c = 0; c < chunks; ++c)
            drone.addTo (scratch.mix, n, embeddedBank(), rate, droneBlock);
        return bench::threadSeconds() - start;
    }));
    return result;
}

void stageTable (double seconds)
{
    std::printf ("where the time goes, stage by stage (least of %d runs of %.0f s; 16 voices)\n", numRuns, seconds);
    std::printf ("%-26s %-9s %15s %15s %16s %16s %15s\n", "", "set", "pitch ns/v-smp", "voice ns/v-smp", "output ns/frame",
                 "reverb ns/frame", "drone ns/frame");
    for (const auto& setting : paths)
        for (auto set : instructions::all)
        {
            if (! instructions::isAvailable (set))
                continue;
            const auto s = timeStages (setting, seconds, set);
            std::printf ("%-26s %-9s %15.2f %15.2f %16.2f %16.2f %15.2f\n", setting.label, instructions::name (set), s.pitch,
                         s.voice, s.output, s.reverb, s.drone);
            std::fflush (stdout);
        }
}

//==============================================================================
// One renderer of the side-by-side comparison: start() strikes the notes afresh (untimed),
// render() goes on for a number of blocks of 512.
struct Player
{
    std::function<void()> start;
    std::function<void (int blocks)> render;
    std::function<void()> finish = [] {};
};

Player ourPlayer (const Setting& setting, int channels)
{
    struct State
    {
        Playing playing;
        juce::AudioBuffer<float> buffer;
    };
    auto state = std::make_shared<State>();
    return { [state, setting, channels] {
                state->playing = startEngine (setting, defaultBlock);
                state->buffer.setSize (channels, defaultBlock);
            },
             [state] (int blocks) {
                 const juce::MidiBuffer none;
                 for (int b = 0; b < blocks; ++b)
                     state->playing.engine->process (state->buffer, none, state->playing.parameters, true);
             } };
}

#if KESTRUNE_BENCH_WITH_FLUIDSYNTH
// fluidsynth with the SoundFont loaded before anything is timed, rendering on the calling thread.
class Fluidsynth
{
public:
    Fluidsynth (const juce::String& soundFont, int interpolation, bool reverb, const char* name)
        : label (name)
    {
        fluid_settings_setnum (settings, "synth.sample-rate", rate);
        fluid_settings_setint (settings, "synth.cpu-cores", 1);
        fluid_settings_setint (settings, "synth.chorus.active", 0);
        fluid_settings_setint (settings, "synth.reverb.active", reverb ? 1 : 0);
        synth = new_fluid_synth (settings);
        loaded = synth != nullptr && fluid_synth_sfload (synth, soundFont.toRawUTF8(), 1) != FLUID_FAILED;
        if (loaded)
            fluid_synth_set_interp_method (synth, -1, interpolation);
    }

    ~Fluidsynth()
    {
        if (synth != nullptr)
            delete_fluid_synth (synth);
        delete_fluid_settings (settings);
    }

    bool isLoaded() const { return loaded; }

    // A reset leaves released voices sounding: they are cut and rendered out before the next run.
    void start (int modWheel)
    {
        fluid_synth_all_sounds_off (synth, -1);
        for (int b = 0; b < 1000 && fluid_synth_get_active_voice_count (synth) > 0; ++b)
            render (1);
        fluid_synth_system_reset (synth);
        fluid_synth_program_change (synth, 0, sustainedProgram);
        fluid_synth_cc (synth, 0, 1, modWheel);
        for (int n = 0; n < numNotes; ++n)
            fluid_synth_noteon (synth, 0, firstNote + 2 * n, 100);
        render (1);
        voicesAtStart = fluid_synth_get_active_voice_count (synth);
    }

    void render (int blocks)
    {
        for (int b = 0; b < blocks; ++b)
            fluid_synth_write_float (synth, defaultBlock, left.data(), 0, 1, right.data(), 0, 1);
    }

    void finish() { runs += juce::String (voicesAtStart) + "/" + juce::String (fluid_synth_get_active_voice_count (synth)) + " "; }

    Player player (int modWheel)
    {
        return { [this, modWheel] { start (modWheel); }, [this] (int blocks) { render (blocks); }, [this] { finish(); } };
    }

    const char* label;
    juce::String runs;   // voices sounding at the start and the end of each run

private:
    fluid_settings_t* settings = new_fluid_settings();
    fluid_synth_t* synth = nullptr;
    bool loaded = false;
    int voicesAtStart = 0;
    std::vector<float> left = std::vector<float> (defaultBlock), right = std::vector<float> (defaultBlock);
};
#endif

struct Times
{
    double least, most;
};

// CPU seconds each player takes per run to render `seconds`, the players taking turns at slices of
// 128 blocks; the least and most over the runs.
std::vector<Times> renderSideBySide (const std::vector<Player>& players, double seconds)
{
    constexpr int sliceBlocks = 128;
    const auto blocks = (int) (seconds * rate / defaultBlock);
    std::vector<Times> times (players.size(), { 1.0e9, 0.0 });

    for (int run = 0; run < numRuns; ++run)
    {
        std::vector<double> total (players.size(), 0.0);
        for (const auto& player : players)
            player.start();
        for (int done = 0; done < blocks; done += sliceBlocks)
            for (size_t p = 0; p < players.size(); ++p)
            {
                const auto start = bench::threadSeconds();
                players[p].render (std::min (sliceBlocks, blocks - done));
                total[p] += bench::threadSeconds() - start;
            }
        for (size_t p = 0; p < players.size(); ++p)
        {
            players[p].finish();
            times[p].least = std::min (times[p].least, total[p]);
            times[p].most = std::max (times[p].most, total[p]);
        }
    }
    return times;
}

void engineTable (double seconds, const juce::String& soundFont)
{
    std::printf ("\nthe whole engine, %.0f s of 16 held notes, least of %d runs (spread: (most - least) / least)\n", seconds, numRuns);
#if KESTRUNE_BENCH_WITH_FLUIDSYNTH
    Fluidsynth fluids[] = { { soundFont, FLUID_INTERP_DEFAULT, true, "default" },
                            { soundFont, FLUID_INTERP_LINEAR, true, "linear" },
                            { soundFont, FLUID_INTERP_DEFAULT, false, "default" },
                            { soundFont, FLUID_INTERP_LINEAR, false, "linear" } };
    const auto canCompare = fluids[0].isLoaded();
    if (! canCompare)
        std::printf ("fluidsynth could not load %s: no comparison\n", soundFont.toRawUTF8());
#else
    std::printf ("built without libfluidsynth (Debian: libfluidsynth-dev): no comparison with fluidsynth\n");
    constexpr bool canCompare = false;
#endif
    const auto voiceSamples = seconds * rate * numNotes;
    std::printf ("%-26s %-7s %9s %9s %7s %22s %s\n", "", "reverb", "realtime", "ns/v-smp", "spread", "over fluid def / lin",
                 "fluid spread, voices start/end per run");

    for (const auto reverbOn : { true, false })
        for (const auto& setting : paths)
        {
            std::vector<Player> players { ourPlayer (setting, reverbOn ? 2 : 3) };
#if KESTRUNE_BENCH_WITH_FLUIDSYNTH
            auto* fluid = &fluids[reverbOn ? 0 : 2];
            if (canCompare)
                for (int f = 0; f < 2; ++f)
                {
                    fluid[f].runs = {};
                    players.push_back (fluid[f].player (setting.modWheel));
                }
#endif
            const auto times = renderSideBySide (players, seconds);
            const auto ours = times[0].least;
            const auto spread = [] (const Times& t) { return 100.0 * (t.most - t.least) / t.least; };
            std::printf ("%-26s %-7s %8.1fx %9.2f %6.1f%%", setting.label, reverbOn ? "on" : "off", seconds / ours,
                         ours * 1.0e9 / voiceSamples, spread (times[0]));
#if KESTRUNE_BENCH_WITH_FLUIDSYNTH
            if (canCompare)
                std::printf (" %10.2fx / %6.2fx   %4.1f%% %4.1f%%  %s| %s", times[1].least / ours, times[2].least / ours,
                             spread (times[1]), spread (times[2]), fluid[0].runs.toRawUTF8(), fluid[1].runs.toRawUTF8());
#endif
            std::printf ("\n");
            std::fflush (stdout);
        }
}

//==============================================================================
void blockTable (double seconds)
{
    std::printf ("\nrealtime factor by block size and instruction set (least of %d runs of %.0f s)\n%-26s %-9s %9s %9s %9s\n",
                 numRuns, seconds, "", "set", "block 32", "block 512", "32 / 512");
    for (const auto& setting : paths)
        for (auto set : instructions::all)
        {
            if (! instructions::isAvailable (set))
                continue;
            engineSet = set;
            const auto at32 = seconds / leastOf ([&] { return renderEngine (setting, seconds, 32); });
            const auto at512 = seconds / leastOf ([&] { return renderEngine (setting, seconds, 512); });
            std::printf ("%-26s %-9s %8.1fx %8.1fx %9.2f\n", setting.label, instructions::name (set), at32, at512, at32 / at512);
            std::fflush (stdout);
        }
    engineSet = instructions::fastest();
}
} // namespace

int main (int argc, char** argv)
{
    const auto seconds = argc > 1 ? std::atof (argv[1]) : 60.0;
    numRuns = argc > 2 ? juce::jmax (1, std::atoi (argv[2])) : 5;
    const juce::String soundFont = argc > 3 && juce::String (argv[3]) != "-" ? argv[3] : "/usr/share/sounds/sf2/FluidR3_GM.sf2";
    const juce::String only = argc > 4 ? argv[4] : "";

    if (only == "path")
    {
        const auto index = juce::jlimit (0, (int) std::size (paths) - 1, argc > 5 ? std::atoi (argv[5]) : 0);
        renderEngine (paths[index], seconds, defaultBlock);
        return 0;
    }

    std::printf ("44100 Hz, block %d, %d held notes; voice pass on %s; fluidsynth: %s, program %d\n\n", defaultBlock, numNotes,
                 instructions::name (engineSet), soundFont.toRawUTF8(), sustainedProgram);
    if (only.isEmpty() || only == "stages")
        stageTable (seconds / 6.0);
    if (only.isEmpty() || only == "engine")
        engineTable (seconds, soundFont);
    if (only.isEmpty() || only == "blocks")
        blockTable (seconds / 6.0);
    return 0;
}
