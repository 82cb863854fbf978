// Checks over the committed recordings and icons, read from the BinaryData compiled into the plug-in.
#include <gtest/gtest.h>

#include "samplebank/Recordings.h"

#include <BinaryData.h>
#include <juce_graphics/juce_graphics.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

namespace
{
constexpr double fileRate = 44100.0;
constexpr int maxFrames = 176400;

struct Resource
{
    juce::String fileName;
    const unsigned char* bytes;
    int size;
};

std::vector<Resource> resources (const char* extension)
{
    std::vector<Resource> found;
    for (int r = 0; r < BinaryData::namedResourceListSize; ++r)
    {
        const juce::String fileName (BinaryData::originalFilenames[r]);
        if (! fileName.endsWith (extension))
            continue;
        int size = 0;
        const auto* data = BinaryData::getNamedResource (BinaryData::namedResourceList[r], size);
        found.push_back ({ fileName, reinterpret_cast<const unsigned char*> (data), size });
    }
    return found;
}

// The row of the list of recordings that names `fileName`, or null.
const Recording* listed (const juce::String& fileName)
{
    for (const auto& row : recordings)
        if (fileName == row.file)
            return &row;
    return nullptr;
}

uint32_t le32 (const unsigned char* p) { return juce::ByteOrder::littleEndianInt (p); }
uint16_t le16 (const unsigned char* p) { return juce::ByteOrder::littleEndianShort (p); }
uint32_t be32 (const unsigned char* p) { return juce::ByteOrder::bigEndianInt (p); }

// The chunks of a RIFF/WAVE file, walked by hand so the test sees exactly what is in the file.
struct WavLayout
{
    bool riffWave = false, sizesConsistent = false, infoBeforeData = false;
    int fmtSize = 0, formatCode = 0, channels = 0, bits = 0, blockAlign = 0;
    uint32_t rate = 0, byteRate = 0;
    std::vector<float> samples;   // 16-bit PCM scaled to [-1, 1)
    int peakCode = 0;             // largest |sample| in PCM steps
};

WavLayout parseWav (const Resource& r)
{
    WavLayout w;
    const auto* p = r.bytes;
    if (r.size < 12 || std::memcmp (p, "RIFF", 4) != 0 || std::memcmp (p + 8, "WAVE", 4) != 0)
        return w;
    w.riffWave = true;
    w.sizesConsistent = le32 (p + 4) == (uint32_t) r.size - 8;

    bool sawInfo = false;
    for (size_t pos = 12; pos + 8 <= (size_t) r.size;)
    {
        const auto* chunk = p + pos;
        const auto size = le32 (chunk + 4);
        if (pos + 8 + size > (size_t) r.size)
        {
            w.sizesConsistent = false;
            break;
        }
        if (std::memcmp (chunk, "fmt ", 4) == 0 && size >= 16)
        {
            w.fmtSize = (int) size;
            w.formatCode = le16 (chunk + 8);
            w.channels = le16 (chunk + 10);
            w.rate = le32 (chunk + 12);
            w.byteRate = le32 (chunk + 16);
            w.blockAlign = le16 (chunk + 20);
            w.bits = le16 (chunk + 22);
        }
        else if (std::memcmp (chunk, "LIST", 4) == 0 && size >= 4 && std::memcmp (chunk + 8, "INFO", 4) == 0)
        {
            sawInfo = true;
        }
        else if (std::memcmp (chunk, "data", 4) == 0)
        {
            w.infoBeforeData = sawInfo;
            for (uint32_t i = 0; i + 1 < size; i += 2)
            {
                const auto code = (int16_t) le16 (chunk + 8 + i);
                w.samples.push_back ((float) code / 32768.0f);
                w.peakCode = std::max (w.peakCode, std::abs ((int) code));
            }
        }
        pos += 8 + size + (size & 1);
    }
    return w;
}

double noteHz (int note) { return 440.0 * std::pow (2.0, (note - 69) / 12.0); }

// YIN: the cumulative-mean-normalised difference over lags from under half to half again above the
// expected period, the first dip below 0.15 (else the deepest), refined by a parabola. A recording
// an octave too high dips at its own shorter period; one an octave too low finds no dip nearby.
double yinHz (const float* x, int length, double expectedHz)
{
    const auto period = fileRate / expectedHz;
    const auto minLag = std::max (2, (int) (period / 2.2));
    const auto maxLag = (int) (period * 1.5) + 2;
    const auto window = length - maxLag;

    std::vector<double> cmnd ((size_t) maxLag + 1, 1.0);
    double running = 0.0;
    for (int tau = 1; tau <= maxLag; ++tau)
    {
        double d = 0.0;
        for (int i = 0; i < window; ++i)
        {
            const double diff = (double) x[i] - (double) x[i + tau];
            d += diff * diff;
        }
        running += d;
        cmnd[(size_t) tau] = running > 0.0 ? d * tau / running : 1.0;
    }

    int best = -1;
    for (int tau = minLag; tau < maxLag && best < 0; ++tau)
        if (cmnd[(size_t) tau] < 0.15)
        {
            while (tau + 1 < maxLag && cmnd[(size_t) tau + 1] < cmnd[(size_t) tau])
                ++tau;
            best = tau;
        }
    if (best < 0)
        best = (int) (std::min_element (cmnd.begin() + minLag, cmnd.begin() + maxLag) - cmnd.begin());

    const auto a = cmnd[(size_t) best - 1], b = cmnd[(size_t) best], c = cmnd[(size_t) best + 1];
    const auto denominator = a - 2.0 * b + c;
    const auto shift = denominator > 0.0 ? 0.5 * (a - c) / denominator : 0.0;
    return fileRate / (best + shift);
}

double rmsDb (const float* x, int n)
{
    double sum = 0.0;
    for (int i = 0; i < n; ++i)
        sum += (double) x[i] * x[i];
    return 10.0 * std::log10 (sum / n + 1.0e-20);
}
} // namespace

TEST (Assets, EveryRecordingIsMono16BitPcmAt44100WithAnInfoTag)
{
    const auto wavs = resources (".wav");
    ASSERT_EQ (wavs.size(), std::size (recordings));

    for (const auto& r : wavs)
    {
        SCOPED_TRACE (r.fileName.toStdString());
        const auto w = parseWav (r);
        ASSERT_TRUE (w.riffWave);
        EXPECT_TRUE (w.sizesConsistent);
        EXPECT_EQ (w.fmtSize, 16);
        EXPECT_EQ (w.formatCode, 1);
        EXPECT_EQ (w.channels, 1);
        EXPECT_EQ (w.rate, 44100u);
        EXPECT_EQ (w.byteRate, 88200u);
        EXPECT_EQ (w.blockAlign, 2);
        EXPECT_EQ (w.bits, 16);
        EXPECT_TRUE (w.infoBeforeData);
        EXPECT_GT (w.samples.size(), 0u);
        EXPECT_LE (w.samples.size(), (size_t) maxFrames);
    }
}

TEST (Assets, RecordingLengthsFollowTheCatalogue)
{
    std::map<juce::String, size_t> frames;
    for (const auto& r : resources (".wav"))
        frames[r.fileName] = parseWav (r).samples.size();

    int fullLength = 0;
    for (const auto& [name, n] : frames)
        fullLength += n == (size_t) maxFrames ? 1 : 0;
    EXPECT_EQ (fullLength, 41);

    EXPECT_EQ (frames["drone_G2_1.wav"], 106512u);
    EXPECT_EQ (frames["drone_G3_3.wav"], 176400u);

    auto milliseconds = [&] (const char* name) { return std::lround ((double) frames[name] / 44.1); };
    EXPECT_EQ (milliseconds ("horn_C4.wav"), 2574);
    EXPECT_EQ (milliseconds ("horn_C5.wav"), 1240);
    EXPECT_EQ (milliseconds ("guitar_C6.wav"), 895);
    EXPECT_EQ (milliseconds ("harp_F7.wav"), 631);

    const auto shortest = std::min_element (frames.begin(), frames.end(),
                                            [] (const auto& a, const auto& b) { return a.second < b.second; });
    EXPECT_EQ (shortest->first, "harp_F7.wav");
}

// Held tones are measured over a quarter second in the middle (averaging the reed's slow wander);
// plucks over their early ring, before the low strings' partials drift apart.
TEST (Assets, EveryRecordingSoundsWithin10CentsOfItsName)
{
    for (const auto& r : resources (".wav"))
    {
        SCOPED_TRACE (r.fileName.toStdString());
        const auto* row = listed (r.fileName);
        ASSERT_NE (row, nullptr);
        const auto w = parseWav (r);
        const auto expectedHz = noteHz (row->pitch);
        const auto period = fileRate / expectedHz;

        const int length = row->held ? 11025 : std::max (4096, (int) (8 * period));
        const int start = row->held ? (int) w.samples.size() / 2 - length / 2 : (int) (0.06 * fileRate);
        const int span = length + (int) (1.5 * period) + 2;
        ASSERT_LE ((size_t) (start + span), w.samples.size());

        const auto cents = 1200.0 * std::log2 (yinHz (w.samples.data() + start, span, expectedHz) / expectedHz);
        EXPECT_NEAR (cents, 0.0, 10.0);
    }
}

TEST (Assets, EveryRecordingStartsAtItsOnsetNearFullScaleWithoutClipping)
{
    for (const auto& r : resources (".wav"))
    {
        SCOPED_TRACE (r.fileName.toStdString());
        const auto w = parseWav (r);
        ASSERT_GT (w.samples.size(), 441u);

        EXPECT_LT (w.peakCode, 32767);                                  // never at the rails
        EXPECT_GT (w.peakCode, (int) (32768 * std::pow (10.0, -3.0 / 20))); // normalised within 3 dB

        // No leading silence: the first 5 ms already carry the note's start.
        float early = 0.0f;
        for (int i = 0; i < 220; ++i)
            early = std::max (early, std::abs (w.samples[(size_t) i]));
        EXPECT_GT (early, 0.002f);
    }
}

// The engine loops the last 30 % of a recording while a note is held, so held tones must not swell,
// fade or beat there.
TEST (Assets, HeldRecordingsAreSteadyOverTheirLoopedTail)
{
    size_t held = 0;
    for (const auto& r : resources (".wav"))
    {
        const auto* row = listed (r.fileName);
        ASSERT_NE (row, nullptr) << r.fileName.toStdString();
        if (! row->held)
            continue;
        ++held;
        SCOPED_TRACE (r.fileName.toStdString());
        const auto w = parseWav (r);
        const int window = 4410;
        const int from = (int) (w.samples.size() * 7 / 10);

        std::vector<double> levels;
        for (int i = from; i + window <= (int) w.samples.size(); i += window)
            levels.push_back (rmsDb (w.samples.data() + i, window));
        ASSERT_GE (levels.size(), 3u);

        double mean = 0.0;
        for (auto l : levels)
            mean += l / (double) levels.size();
        for (size_t i = 0; i < levels.size(); ++i)
            EXPECT_NEAR (levels[i], mean, 1.5) << "window " << i;
    }
    EXPECT_EQ (held, (size_t) std::count_if (std::begin (recordings), std::end (recordings), [] (const Recording& row) { return row.held; }));
}

// The drone plays both recordings from one position that returns to frame 0 after the low drone's
// last frame, with no crossfade: across that seam both must continue as periodically as anywhere else.
TEST (Assets, DronesLoopSeamlesslyAtTheLowDronesLength)
{
    std::map<const Recording*, std::vector<float>> drones;
    const Recording* low = nullptr;
    for (const auto& r : resources (".wav"))
        if (const auto* row = listed (r.fileName); row != nullptr && row->reed != DroneReed::none)
        {
            drones[row] = parseWav (r).samples;
            low = row->reed == DroneReed::low ? row : low;
        }
    ASSERT_EQ (drones.size(), 2u);
    ASSERT_NE (low, nullptr);
    const auto loopLength = (int) drones[low].size();

    // Least normalised difference between the signal and itself one period later.
    auto aperiodicity = [] (const std::vector<float>& z, double period)
    {
        double best = 1.0;
        for (auto lag = (int) (period * 0.97); lag <= (int) (period * 1.03) + 1; ++lag)
        {
            double difference = 0.0, energy = 0.0;
            for (size_t i = 0; i + (size_t) lag < z.size(); ++i)
            {
                const double a = z[i], b = z[i + (size_t) lag];
                difference += (a - b) * (a - b);
                energy += a * a + b * b;
            }
            best = std::min (best, difference / energy);
        }
        return best;
    };

    for (const auto& [row, x] : drones)
    {
        SCOPED_TRACE (row->file);
        const auto period = fileRate / noteHz (row->pitch);
        const auto span = (int) (4 * period);

        std::vector<float> seam (x.begin() + loopLength - span, x.begin() + loopLength);
        seam.insert (seam.end(), x.begin(), x.begin() + span);
        const std::vector<float> inside (x.begin() + loopLength / 2 - span, x.begin() + loopLength / 2 + span);

        EXPECT_LT (aperiodicity (seam, period), 0.01);
        EXPECT_LT (aperiodicity (inside, period), 0.01);
    }
}

TEST (Assets, IconsAre64By64RgbPngsOnADarkGround)
{
    const auto pngs = resources (".png");
    ASSERT_EQ (pngs.size(), 7u);

    for (const auto& r : pngs)
    {
        SCOPED_TRACE (r.fileName.toStdString());
        ASSERT_GT (r.size, 33);
        static const unsigned char signature[] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n' };
        ASSERT_EQ (std::memcmp (r.bytes, signature, 8), 0);
        ASSERT_EQ (std::memcmp (r.bytes + 12, "IHDR", 4), 0);
        EXPECT_EQ (be32 (r.bytes + 16), 64u);
        EXPECT_EQ (be32 (r.bytes + 20), 64u);
        EXPECT_EQ (r.bytes[24], 8);   // bit depth
        EXPECT_EQ (r.bytes[25], 2);   // colour type 2: RGB, no alpha

        const auto image = juce::ImageFileFormat::loadFrom (r.bytes, (size_t) r.size);
        ASSERT_TRUE (image.isValid());
        EXPECT_EQ (image.getWidth(), 64);

        // A dark corner, and a picture: many bright purple-to-pink pixels (red and blue above green).
        EXPECT_LT (image.getPixelAt (0, 0).getBrightness(), 0.1f);
        int lit = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
            {
                const auto c = image.getPixelAt (x, y);
                lit += (c.getBrightness() > 0.5f && c.getRed() > c.getGreen() && c.getBlue() > c.getGreen()) ? 1 : 0;
            }
        EXPECT_GT (lit, 150);
    }
}
