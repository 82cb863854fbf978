#include "core/PluginProcessor.h"
#include "core/MidiAppend.h"

#include <cstdlib>
#include <limits>
#include <thread>

namespace
{
// The merge buffer is reserved once for this many host events and tuning messages' bytes (a tuning
// dump is a few hundred) and for what the on-screen keyboard adds in a block (at most a note-off for
// every note of every channel after an all-notes-off); a block whose host events take more room
// than that plays unmerged rather than growing the buffer.
constexpr size_t eventHeaderBytes = sizeof (juce::int32) + sizeof (juce::uint16);   // MidiBuffer's own layout
constexpr size_t hostEventRoom = 16384 * (eventHeaderBytes + 3) + 64 * 1024;
constexpr size_t keyboardEventRoom = 16 * 128 * (eventHeaderBytes + 3);
// Each tuning message is inserted in place after the keyboard's merge, a pass over the block each.
constexpr int maxMergedTuningMessages = 64;
} // namespace

KestruneProcessor::KestruneProcessor()
    : AudioProcessor (BusesProperties().withOutput ("Output", juce::AudioChannelSet::stereo(), true)),
      parameters (*this, nullptr, juce::Identifier ("Parameters"), createParameterLayout (wrapperType == wrapperType_LV2))
{
    for (int i = 0; i < kestrune::numParameters; ++i)
    {
        rawValues[(size_t) i] = parameters.getRawParameterValue (kestrune::parameterTable[i].id);
        jassert (rawValues[(size_t) i] != nullptr);
    }

    // Reproducible renders: the random source (drift rates, trill intervals, CHANT's breath) can be
    // seeded from the environment; otherwise it is seeded from the clock.
    if (const auto* seed = std::getenv ("KESTRUNE_RANDOM_SEED"))
        engine.seedRandom (std::strtoll (seed, nullptr, 10));
}

KestruneProcessor::~KestruneProcessor() = default;

const juce::String KestruneProcessor::getName() const { return JucePlugin_Name; }

void KestruneProcessor::prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock)
{
    engine.prepare (sampleRate, maximumExpectedSamplesPerBlock);
}

void KestruneProcessor::releaseResources() {}

void KestruneProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi)
{
    const auto values = readParameters();
    const auto& withCycle = mergeCycleMidi (midi, buffer.getNumSamples());
    const auto& events = mergeEditorKeyboard (withCycle, buffer.getNumSamples());
    engine.process (buffer, events, values, editorActive.load());
}

void KestruneProcessor::setTuning (const tuning::Table& table)
{
    engine.setTuning (table);
    updateHostDisplay (ChangeDetails().withNonParameterStateChanged (true));
}

juce::MidiBuffer KestruneProcessor::makeKeyboardMidi()
{
    juce::MidiBuffer midi;
    midi.ensureSize (hostEventRoom + keyboardEventRoom);
    return midi;
}

juce::MidiBuffer KestruneProcessor::makeCycleMergeMidi()
{
    juce::MidiBuffer midi;
    midi.ensureSize (hostEventRoom + (size_t) kestrune::CycleMidi::capacity * (eventHeaderBytes + 3));
    return midi;
}

// The device cycle's events for this block's stretch go in among the host's (its tuning messages
// kept), each at its frame; without any (every plug-in format) the host's buffer goes on untouched.
// A host flood larger than the reserved room plays alone, and this block's cycle events are lost.
const juce::MidiBuffer& KestruneProcessor::mergeCycleMidi (const juce::MidiBuffer& midi, int numSamples)
{
    auto* cycle = cycleMidi.load();

    if (cycle == nullptr)
        return midi;

    const auto block = cycle->nextBlock (numSamples);

    if (block.begin == block.end)
        return midi;

    size_t hostBytes = 0;
    for (const auto event : midi)
        if (Engine::actsOn (event) || Engine::isTuningMessage (event))
            hostBytes += eventHeaderBytes + (size_t) event.numBytes;

    if (hostBytes > hostEventRoom)
        return midi;

    cycleMergeMidi.clear();
    auto next = block.begin;
    const auto appendCycleEventsBefore = [&] (int position)
    {
        for (; next != block.end && next->frame - block.start < position; ++next)
            kestrune::appendInOrder (cycleMergeMidi, next->frame - block.start, next->data, 3);
    };

    for (const auto event : midi)
    {
        if (! Engine::actsOn (event) && ! Engine::isTuningMessage (event))
            continue;

        appendCycleEventsBefore (event.samplePosition + 1);
        kestrune::appendInOrder (cycleMergeMidi, event.samplePosition, event.data, event.numBytes);
    }

    appendCycleEventsBefore (std::numeric_limits<int>::max());
    return cycleMergeMidi;
}

// While an editor is open, its keyboard sees the host's notes and adds its own, spread over the
// block. Only the events the engine acts on are copied, the tuning messages among them, so the merge
// fills a buffer reserved in advance: nothing is allocated here.
const juce::MidiBuffer& KestruneProcessor::mergeEditorKeyboard (const juce::MidiBuffer& midi, int numSamples)
{
    keyboardInUse.store (true);
    auto* keyboard = editorKeyboardState.load();

    size_t hostBytes = 0;
    int tuningMessages = 0;
    for (const auto event : midi)
    {
        const auto tuningMessage = Engine::isTuningMessage (event);
        if (tuningMessage || Engine::actsOn (event))
            hostBytes += eventHeaderBytes + (size_t) event.numBytes;
        tuningMessages += tuningMessage ? 1 : 0;
    }

    // A flood larger than the reserved room reaches the engine whole; the keyboard then shows this
    // block's host notes late or not at all, and adds its own notes at the next block.
    if (keyboard == nullptr || hostBytes > hostEventRoom || tuningMessages > maxMergedTuningMessages)
    {
        keyboardInUse.store (false);
        return midi;
    }

    keyboardMidi.clear();
    for (const auto event : midi)
        if (Engine::actsOn (event))
            kestrune::appendInOrder (keyboardMidi, event.samplePosition, event.data, 3);

    // A block without samples still takes the keyboard's notes, placed at its start.
    keyboard->processNextMidiBuffer (keyboardMidi, 0, juce::jmax (1, numSamples), true);

    // Tuning messages join after the keyboard has read the notes (it would copy each long message to
    // the heap), ahead of the notes at their sample: a tuning sent with a note takes effect for it.
    for (const auto event : midi)
        if (Engine::isTuningMessage (event))
            kestrune::insertSysExBeforeNotes (keyboardMidi, event.samplePosition, event.data, event.numBytes);

    keyboardInUse.store (false);
    return keyboardMidi;
}

void KestruneProcessor::setEditorKeyboardState (juce::MidiKeyboardState* state) noexcept
{
    // A keyboard state's listener list makes room to iterate the first time it calls its listeners.
    // Have that happen here, with a note the on-screen keyboard cannot show, and not at the first
    // host note, on the audio thread. The state is not published yet, so nothing else reads it.
    if (state != nullptr && state != editorKeyboardState.load() && ! state->isNoteOn (16, 0))
    {
        state->processNextMidiEvent (juce::MidiMessage::noteOn (16, 0, (juce::uint8) 1));
        state->processNextMidiEvent (juce::MidiMessage::noteOff (16, 0));
    }

    // Once the old state is unpublished, a block that still holds it is inside the merge with the
    // flag raised; wait that out so the caller may destroy the old state.
    auto* previous = editorKeyboardState.exchange (state);
    if (previous != nullptr && previous != state)
        while (keyboardInUse.load())
            std::this_thread::yield();
}

double KestruneProcessor::getTailLengthSeconds() const { return 2.0; }

bool KestruneProcessor::acceptsMidi() const { return true; }
bool KestruneProcessor::producesMidi() const { return false; }
bool KestruneProcessor::isMidiEffect() const { return false; }

bool KestruneProcessor::hasEditor() const { return true; }

int KestruneProcessor::getNumPrograms() { return 1; }
int KestruneProcessor::getCurrentProgram() { return 0; }
void KestruneProcessor::setCurrentProgram (int) {}
const juce::String KestruneProcessor::getProgramName (int) { return {}; }
void KestruneProcessor::changeProgramName (int, const juce::String&) {}

bool KestruneProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    const auto out = layouts.getMainOutputChannelSet();
    return out == juce::AudioChannelSet::mono() || out == juce::AudioChannelSet::stereo();
}
