#include "samplebank/WavDecoder.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

namespace
{
bool isChunk (const unsigned char* p, const char* name) noexcept
{
    return std::memcmp (p, name, 4) == 0;
}

// The audio of a 16-bit mono PCM file, the one kind the bank ships.
struct Mono16
{
    const unsigned char* samples = nullptr;
    int frames = 0;
    double sampleRate = 0.0;
};

// Finds the audio of a 16-bit mono PCM file, walking its chunks as JUCE's WAV reader does. It answers
// only for files that reader could not read any other way: one `fmt ` chunk (PCM, mono, 16 bits, a
// positive rate) before one `data` chunk, every chunk it meets lying whole inside the bytes given,
// none empty, and at least one frame. For anything else it returns false and the file goes through
// the reader itself, which thus still decodes, pads or refuses everything else exactly as before.
bool findMono16 (const void* data, int size, Mono16& found) noexcept
{
    if (data == nullptr || size < 12)
        return false;

    const auto* bytes = static_cast<const unsigned char*> (data);
    const auto total = (std::uint64_t) size;
    if (! isChunk (bytes, "RIFF") || ! isChunk (bytes + 8, "WAVE"))
        return false;

    // Like the reader, look no further than the RIFF chunk's own length, nor past the bytes there are.
    const auto riffEnd = (std::uint64_t) juce::ByteOrder::littleEndianInt (bytes + 4) + 8;
    bool haveFormat = false, haveData = false;
    Mono16 pcm;

    for (std::uint64_t pos = 12; pos < riffEnd && pos < total;)
    {
        if (total - pos < 8)
            return false;

        const auto* header = bytes + pos;
        const std::uint64_t length = juce::ByteOrder::littleEndianInt (header + 4);
        const auto body = pos + 8;

        // The reader stops at an empty chunk of a kind it does not know and reads past a short one.
        if (length == 0 || body + length > total)
            return false;

        if (isChunk (header, "fmt "))
        {
            if (haveFormat || haveData || length < 16)
                return false;

            const auto* format = bytes + body;
            const auto rate = (std::int32_t) juce::ByteOrder::littleEndianInt (format + 4);
            const auto isPcm = juce::ByteOrder::littleEndianShort (format) == 1;
            const auto isMono = juce::ByteOrder::littleEndianShort (format + 2) == 1;
            const auto is16Bit = juce::ByteOrder::littleEndianShort (format + 14) == 16;
            if (! isPcm || ! isMono || ! is16Bit || rate <= 0)
                return false;

            pcm.sampleRate = (double) rate;
            haveFormat = true;
        }
        else if (isChunk (header, "data"))
        {
            if (! haveFormat || haveData)
                return false;

            pcm.samples = bytes + body;
            pcm.frames = (int) (length / 2);
            haveData = true;
        }

        pos = body + length + (length & 1);   // odd chunks carry a pad byte
    }

    // The data starts at byte 44 or later and lies inside the file, so the loader's minimal-header
    // refusal of short files can never apply here.
    if (! haveData || pcm.frames <= 0)
        return false;

    found = pcm;
    return true;
}

// The reader's conversion: int16 to int32 (<< 16), then times 1 / 2^31, which together are exactly
// v / 32768 in float; every int16 is exact in a float, and so is the product.
// The source may lie inside the destination's own bytes, ahead of it (the embedded loader copies each
// file into the back of the room its floats take): float k then covers only int16s numbered k or
// lower, so converting in order, a chunk at a time through a buffer of our own, reads every value
// before it is overwritten, and the compiler, sure the two cannot overlap, vectorises the loop.
void convertMono16 (const unsigned char* source, float* dest, int frames) noexcept
{
    constexpr float scale = 1.0f / 32768.0f;
    constexpr int chunk = 2048;
    std::int16_t values[chunk];

    for (int done = 0; done < frames; done += chunk)
    {
        const auto n = std::min (chunk, frames - done);
        std::memcpy (values, source + 2 * (size_t) done, 2 * (size_t) n);
       #if JUCE_BIG_ENDIAN
        for (int i = 0; i < n; ++i)
            values[i] = (std::int16_t) juce::ByteOrder::swap ((std::uint16_t) values[i]);
       #endif
        for (int i = 0; i < n; ++i)
            dest[done + i] = (float) values[i] * scale;
    }
}

// The last step of every successful decode, once the zone's buffer holds the audio.
void markLoaded (SampleZone& zone, double sampleRate, int root) noexcept
{
    zone.sampleRate = sampleRate;
    zone.rootNote = root;
    zone.loaded = true;
}

// Everything that is not 16-bit mono PCM: JUCE's reader.
void loadWithReader (SampleZone& zone, const void* data, int size, int root)
{
    if (data == nullptr || size <= 0)
        return;

    juce::WavAudioFormat format;
    std::unique_ptr<juce::AudioFormatReader> reader (
        format.createReaderFor (new juce::MemoryInputStream (data, (size_t) size, false), true));

    if (reader == nullptr)
        return;

    // Playback divides by the length, so a recording without frames is no recording at all.
    if (reader->lengthInSamples <= 0 || reader->numChannels == 0 || reader->bitsPerSample == 0)
        return;

    // The reader believes the header's length and pads missing bytes with silence. Audio that cannot
    // fit in the bytes after a minimal 44-byte header is a cut-short (or lying) file: refuse it
    // rather than play silence or allocate for data that is not there.
    const auto bytesPerFrame = (juce::int64) reader->numChannels * (juce::int64) ((reader->bitsPerSample + 7) / 8);
    if (reader->lengthInSamples > ((juce::int64) size - 44) / bytesPerFrame)
        return;

    const auto frameCount = (int) reader->lengthInSamples;
    const auto channelCount = (int) reader->numChannels;

    // Decoded into a buffer of its own so that a failed read leaves the zone as it was. A mono file
    // is read straight into it; more channels are averaged.
    juce::AudioBuffer<float> decoded (1, frameCount);
    if (channelCount == 1)
    {
        if (! reader->read (&decoded, 0, frameCount, 0, true, true))
            return;
    }
    else
    {
        juce::AudioBuffer<float> channels (channelCount, frameCount);
        if (! reader->read (&channels, 0, frameCount, 0, true, true))
            return;

        decoded.clear();
        for (int c = 0; c < channelCount; ++c)
            decoded.addFrom (0, 0, channels, c, 0, frameCount, 1.0f / (float) channelCount);
    }

    zone.buffer = std::move (decoded);
    markLoaded (zone, reader->sampleRate, root);
}
} // namespace

void loadSample (SampleZone& zone, const void* data, int size, int root, float* room, size_t roomFloats)
{
    Mono16 pcm;
    if (! findMono16 (data, size, pcm))
    {
        loadWithReader (zone, data, size, root);
        return;
    }

    if (room != nullptr && (size_t) pcm.frames <= roomFloats)
    {
        convertMono16 (pcm.samples, room, pcm.frames);
        zone.buffer.setDataToReferTo (&room, 1, pcm.frames);
    }
    else
    {
        juce::AudioBuffer<float> decoded (1, pcm.frames);
        convertMono16 (pcm.samples, decoded.getWritePointer (0), pcm.frames);
        zone.buffer = std::move (decoded);
    }
    markLoaded (zone, pcm.sampleRate, root);
}

