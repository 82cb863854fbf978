#include "MidiFileReader.h"

#include <functional>
#include <queue>
#include <utility>

namespace host
{
namespace
{
constexpr juce::int64 maxMidiFileBytes = 200 * 1024 * 1024;

// Faults reported with the file's name by the caller: a broken structure, or timing that gives no
// finite times.
struct Damaged
{
    juce::String what;
};

struct BadTiming
{
    juce::String what;
};

class ByteReader
{
public:
    ByteReader (const juce::uint8* d, size_t n) : data (d), size (n) {}

    bool atEnd() const { return pos >= size; }
    size_t position() const { return pos; }
    const juce::uint8* at (size_t offset) const { return data + offset; }

    juce::uint8 peek (const juce::String& where) const
    {
        if (pos >= size)
            throw Damaged { "it ends inside " + where };

        return data[pos];
    }

    juce::uint8 byte (const juce::String& where)
    {
        const auto b = peek (where);
        ++pos;
        return b;
    }

    juce::uint32 bigEndian (int numBytes, const juce::String& where)
    {
        juce::uint32 value = 0;

        for (int i = 0; i < numBytes; ++i)
            value = (value << 8) | byte (where);

        return value;
    }

    // A variable-length quantity: at most four bytes of seven bits each.
    juce::uint32 variableLength (const juce::String& where)
    {
        juce::uint32 value = 0;

        for (int i = 0; i < 4; ++i)
        {
            const auto b = byte (where);
            value = (value << 7) | (b & 0x7fu);

            if ((b & 0x80) == 0)
                return value;
        }

        throw Damaged { "a length or time in " + where + " is longer than four bytes" };
    }

    const juce::uint8* skip (size_t n, const juce::String& where)
    {
        if (n > size - pos)
            throw Damaged { where + " runs past its end" };

        const auto* start = data + pos;
        pos += n;
        return start;
    }

private:
    const juce::uint8* data;
    size_t size, pos = 0;
};

// One track's events, decoded one at a time so that the tracks can be merged as they are read: a
// file's events are never held twice, nor as anything larger than the messages handed on.
class TrackReader
{
public:
    TrackReader (ByteReader t, int number) : track (t), where ("track " + juce::String (number)) {}

    juce::uint64 tick = 0;
    juce::uint32 tempo = 0;   // microseconds per quarter note when the event is a tempo change, else 0

    // Moves to the next event that is passed on; false at the end of the track.
    bool next()
    {
        while (! ended && ! track.atEnd())
        {
            tick += track.variableLength (where);
            start = track.position();
            tempo = 0;
            status = track.peek (where);

            if (status >= 0x80)
                track.byte (where);
            else if (runningStatus != 0)
                status = runningStatus;   // the status byte of the previous channel message carries over
            else
                throw Damaged { where + " has a data byte where an event should start" };

            if (status == 0xff)
            {
                const auto type = track.byte (where);
                const auto length = track.variableLength (where);
                const auto* body = track.skip (length, where);

                if (type == 0x51 && length == 3)
                {
                    tempo = (juce::uint32) ((body[0] << 16) | (body[1] << 8) | body[2]);

                    if (tempo == 0)
                        throw BadTiming { "a tempo of 0 microseconds per quarter note in " + where + " at tick "
                                          + juce::String ((juce::int64) tick) };
                }

                ended = type == 0x2f;   // end of track: whatever follows in the chunk is not part of it
                return true;
            }

            if (status == 0xf0 || status == 0xf7)
            {
                const auto length = track.variableLength (where);
                sysEx = track.skip (length, where);
                // An F7 packet continues a split system-exclusive message or escapes raw bytes; the
                // instrument reads neither, so only complete F0 messages are passed on.
                sysExLength = (status == 0xf0 && length > 0 && sysEx[length - 1] == 0xf7) ? length - 1 : length;

                if (status == 0xf0)
                    return true;

                continue;
            }

            if (status >= 0xf0)
                throw Damaged { where + " holds the system message " + juce::String::toHexString ((int) status)
                                + ", which a file cannot carry" };

            const auto kind = status & 0xf0;
            numData = (kind == 0xc0 || kind == 0xd0) ? 1 : 2;

            for (int i = 0; i < numData; ++i)
                if ((data[i] = track.byte (where)) >= 0x80)
                    throw Damaged { where + " has a status byte inside a channel message at tick "
                                    + juce::String ((juce::int64) tick) };

            runningStatus = status;
            return true;
        }

        return false;
    }

    // The event next() moved to.
    juce::MidiMessage message() const
    {
        if (status == 0xff)
            return juce::MidiMessage (track.at (start), (int) (track.position() - start));

        if (status == 0xf0)
            return juce::MidiMessage::createSysExMessage (sysEx, (int) sysExLength);

        return numData == 1 ? juce::MidiMessage (status, data[0]) : juce::MidiMessage (status, data[0], data[1]);
    }

private:
    ByteReader track;
    juce::String where;
    juce::uint8 runningStatus = 0, status = 0;
    bool ended = false;
    size_t start = 0;
    const juce::uint8* sysEx = nullptr;
    juce::uint32 sysExLength = 0;
    int numData = 0;
    juce::uint8 data[2] {};
};

// Seconds per tick from the header's division: SMPTE frames, or quarter notes on the tempo map.
struct Division
{
    double secondsPerTick = 0.0;   // SMPTE: fixed; otherwise at 120 BPM until the first tempo event
    juce::uint32 ticksPerQuarter = 0;   // 0 for SMPTE

    static Division fromHeader (juce::uint16 word)
    {
        if ((word & 0x8000) != 0)
        {
            const auto framesPerSecond = -(int) (juce::int8) (word >> 8);
            const auto ticksPerFrame = word & 0xff;

            if (framesPerSecond != 24 && framesPerSecond != 25 && framesPerSecond != 29 && framesPerSecond != 30)
                throw BadTiming { "an SMPTE division of " + juce::String (framesPerSecond)
                                  + " frames per second (24, 25, 29 or 30 expected)" };

            if (ticksPerFrame == 0)
                throw BadTiming { "an SMPTE division of 0 ticks per frame" };

            const auto rate = framesPerSecond == 29 ? 30000.0 / 1001.0 : (double) framesPerSecond;   // 29: drop-frame
            return { 1.0 / (rate * ticksPerFrame), 0 };
        }

        if (word == 0)
            throw BadTiming { "a division of 0 ticks per quarter note" };

        return { 0.5 / word, word };
    }
};

std::vector<juce::MidiMessage> parse (const juce::MemoryBlock& block)
{
    ByteReader file (static_cast<const juce::uint8*> (block.getData()), block.getSize());

    if (block.getSize() < 14 || file.bigEndian (4, "the header") != juce::ByteOrder::bigEndianInt ("MThd"))
        throw Damaged {};

    const auto headerLength = file.bigEndian (4, "the header");

    if (headerLength < 6)
        throw Damaged { "its header is " + juce::String (headerLength) + " bytes long, not 6" };

    const auto format = file.bigEndian (2, "the header");
    const auto declaredTracks = (int) file.bigEndian (2, "the header");
    const auto division = Division::fromHeader ((juce::uint16) file.bigEndian (2, "the header"));
    file.skip (headerLength - 6, "the header");

    if (format > 2)
        throw Damaged { "its header gives format " + juce::String (format) + " (0, 1 or 2 expected)" };

    std::vector<ByteReader> trackBytes;

    while (! file.atEnd())
    {
        const auto type = file.bigEndian (4, "a chunk header");
        const auto length = file.bigEndian (4, "a chunk header");
        const auto* body = file.skip (length, "a chunk");

        if (type == juce::ByteOrder::bigEndianInt ("MTrk"))
            trackBytes.emplace_back (body, length);
    }

    // A first pass checks every track, in order, and counts what the second will hand on.
    size_t count = 0;

    for (size_t t = 0; t < trackBytes.size(); ++t)
        for (TrackReader track (trackBytes[t], (int) t + 1); track.next();)
            ++count;

    if ((int) trackBytes.size() != declaredTracks)
        throw Damaged { "its header declares " + juce::String (declaredTracks) + " tracks but it holds "
                        + juce::String ((int) trackBytes.size()) };

    // The second merges the tracks by tick, ties in track order, timing each event on the tempo map
    // as it goes: a tempo change applies from its own tick on, whichever track holds it.
    std::vector<TrackReader> tracks;
    using Next = std::pair<juce::uint64, size_t>;   // tick, track
    std::priority_queue<Next, std::vector<Next>, std::greater<Next>> order;

    tracks.reserve (trackBytes.size());

    for (size_t t = 0; t < trackBytes.size(); ++t)
    {
        tracks.emplace_back (trackBytes[t], (int) t + 1);
        if (tracks.back().next())
            order.push ({ tracks.back().tick, t });
    }

    std::vector<juce::MidiMessage> result;
    result.reserve (count);
    auto secondsPerTick = division.secondsPerTick;
    double segmentStartSeconds = 0.0;
    juce::uint64 segmentStartTick = 0;

    while (! order.empty())
    {
        const auto index = order.top().second;
        auto& track = tracks[index];
        order.pop();

        if (track.tempo != 0 && division.ticksPerQuarter > 0)
        {
            segmentStartSeconds += (double) (track.tick - segmentStartTick) * secondsPerTick;
            segmentStartTick = track.tick;
            secondsPerTick = track.tempo * 1.0e-6 / division.ticksPerQuarter;
        }

        auto message = track.message();
        message.setTimeStamp (segmentStartSeconds + (double) (track.tick - segmentStartTick) * secondsPerTick);
        result.push_back (std::move (message));

        if (track.next())
            order.push ({ track.tick, index });
    }

    return result;
}
} // namespace

std::vector<juce::MidiMessage> readMidiFileAsWritten (const juce::File& file)
{
    return readMidiFileAsWritten (readInputFile (file, maxMidiFileBytes, "MIDI file"), file.getFullPathName());
}

std::vector<juce::MidiMessage> readMidiFileAsWritten (const juce::MemoryBlock& bytes, const juce::String& name)
{
    try
    {
        return parse (bytes);
    }
    catch (const Damaged& d)
    {
        throw HostError { name + " is not a Standard MIDI File" + (d.what.isEmpty() ? juce::String() : " (" + d.what + ")") };
    }
    catch (const BadTiming& t)
    {
        throw HostError { name + " has timing that gives no playing times: " + t.what };
    }
}
} // namespace host
