#include "engine/Tuning.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace tuning
{
namespace
{
constexpr double semitonesPerCent = 0.01;

double frequencyOfPitch (double pitch) noexcept
{
    return 440.0 * std::pow (2.0, (pitch - 69.0) / 12.0);
}

// Key pitch as fractional note number; 0 frequency (or one outside the playable range) unmaps it.
void setPitch (Table& t, int key, double pitch) noexcept
{
    const auto hz = frequencyOfPitch (pitch);
    const auto playable = std::isfinite (hz) && hz >= lowestFrequency && hz <= highestFrequency;
    t.frequency[(size_t) key] = playable ? hz : 0.0;
    t.pitch[(size_t) key] = playable ? pitch : 0.0;
}

// Copies UTF-8 text into a fixed array: control characters become spaces, and a cut falls on a
// character boundary.
template <size_t N>
void copyText (char (&out)[N], std::string_view text) noexcept
{
    auto length = std::min (text.size(), N - 1);
    while (length > 0 && length < text.size() && (static_cast<unsigned char> (text[length]) & 0xc0) == 0x80)
        --length;

    for (size_t i = 0; i < length; ++i)
    {
        const auto c = static_cast<unsigned char> (text[i]);
        out[i] = (c < 0x20 || c == 0x7f) ? ' ' : (char) c;
    }
    std::fill (out + length, out + N, '\0');
}

//==============================================================================
// Text files: lines with their numbers, after checks that hold for both Scala formats.
struct Line
{
    int number;
    std::string_view text;
};

bool isSpace (char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view trimmed (std::string_view s) noexcept
{
    while (! s.empty() && isSpace (s.front()))
        s.remove_prefix (1);
    while (! s.empty() && isSpace (s.back()))
        s.remove_suffix (1);
    return s;
}

std::string_view firstToken (std::string_view line) noexcept
{
    line = trimmed (line);
    size_t end = 0;
    while (end < line.size() && ! isSpace (line[end]))
        ++end;
    return line.substr (0, end);
}

std::string lineError (int number, const std::string& what)
{
    return "line " + std::to_string (number) + ": " + what;
}

// The lines that are not comments ('!' first), or an error for text no Scala file can be.
Parsed<std::vector<Line>> contentLines (std::string_view text)
{
    Parsed<std::vector<Line>> result;
    if (text.size() > maxFileBytes)
        return { {}, "the file is larger than " + std::to_string (maxFileBytes / 1024) + " KiB" };
    if (text.size() >= 2 && ((text[0] == '\xff' && text[1] == '\xfe') || (text[0] == '\xfe' && text[1] == '\xff')))
        return { {}, "the file is UTF-16 text: save it as ASCII or UTF-8" };
    if (const auto nul = text.find ('\0'); nul != std::string_view::npos)
        return { {}, "the file holds a NUL byte (at byte " + std::to_string (nul) + "): it is not a text file" };
    if (text.substr (0, 3) == "\xef\xbb\xbf")
        text.remove_prefix (3);

    int number = 0;
    while (! text.empty())
    {
        ++number;
        const auto end = text.find ('\n');
        auto line = text.substr (0, end);
        text.remove_prefix (end == std::string_view::npos ? text.size() : end + 1);
        if (line.size() > maxLineBytes)
            return { {}, lineError (number, "longer than " + std::to_string (maxLineBytes) + " bytes") };
        if (! line.empty() && line.back() == '\r')
            line.remove_suffix (1);
        if (! line.empty() && line.front() == '!')
            continue;
        result.value.push_back ({ number, line });
    }
    return result;
}

// A whole token as a number, in the C locale whatever the process's is.
bool readDouble (std::string_view token, double& out) noexcept
{
    if (! token.empty() && token.front() == '+')
        token.remove_prefix (1);
    if (token.empty() || token.front() == '+')
        return false;
    const auto [end, error] = std::from_chars (token.data(), token.data() + token.size(), out);
    return error == std::errc() && end == token.data() + token.size() && std::isfinite (out);
}

bool readInt (std::string_view token, int& out) noexcept
{
    const auto [end, error] = std::from_chars (token.data(), token.data() + token.size(), out);
    return ! token.empty() && error == std::errc() && end == token.data() + token.size();
}

bool allDigits (std::string_view s) noexcept
{
    return ! s.empty() && std::all_of (s.begin(), s.end(), [] (char c) { return c >= '0' && c <= '9'; });
}

// A Scala pitch: cents when it has a period, otherwise a ratio "n/d" or a whole number "n".
std::string readPitch (std::string_view token, double& cents)
{
    if (token.empty())
        return "no pitch on the line";

    if (token.find ('.') != std::string_view::npos)
        return readDouble (token, cents) ? std::string() : "\"" + std::string (token) + "\" is not a number of cents";

    const auto slash = token.find ('/');
    const auto numeratorText = token.substr (0, slash);
    const auto denominatorText = slash == std::string_view::npos ? std::string_view ("1") : token.substr (slash + 1);
    if (numeratorText.size() > 1 && numeratorText.front() == '-' && allDigits (numeratorText.substr (1)))
        return "the ratio " + std::string (token) + " is negative";
    double numerator = 0.0, denominator = 0.0;
    if (! allDigits (numeratorText) || ! allDigits (denominatorText)
        || ! readDouble (numeratorText, numerator) || ! readDouble (denominatorText, denominator))
        return "\"" + std::string (token) + "\" is neither cents (with a period) nor a ratio";
    if (numerator <= 0.0 || denominator <= 0.0)
        return "the ratio " + std::string (token) + " is not above zero";

    cents = 1200.0 * std::log2 (numerator / denominator);
    return {};
}

// Well-formed UTF-8: every lead byte followed by as many continuation bytes as it announces, no
// overlong two-byte forms.
bool isUtf8 (std::string_view text) noexcept
{
    for (size_t i = 0; i < text.size();)
    {
        const auto lead = static_cast<unsigned char> (text[i]);
        const int extra = lead < 0x80 ? 0 : (lead >= 0xc2 && lead < 0xe0) ? 1 : (lead >= 0xe0 && lead < 0xf0) ? 2 : (lead >= 0xf0 && lead < 0xf5) ? 3 : -1;
        if (extra < 0 || i + (size_t) extra >= text.size() + (extra == 0 ? 1 : 0))
            return false;
        for (int k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char> (text[i + (size_t) k]) & 0xc0) != 0x80)
                return false;
        i += (size_t) extra + 1;
    }
    return true;
}

// The description as UTF-8: a file that is not valid UTF-8 is taken as Latin-1, as older Scala files are.
std::string descriptionText (std::string_view line)
{
    if (isUtf8 (line))
        return std::string (trimmed (line));

    std::string out;
    for (const auto c : trimmed (line))
    {
        const auto byte = static_cast<unsigned char> (c);
        if (byte < 0x80)
            out += c;
        else
        {
            out += (char) (0xc0 | (byte >> 6));
            out += (char) (0x80 | (byte & 0x3f));
        }
    }
    return out;
}

// Cents of any degree of the scale, below the tonic or past the period included.
double centsOfDegree (const Scale& scale, long long degree) noexcept
{
    const auto n = (long long) scale.cents.size();
    const auto period = scale.cents.back();
    auto octave = degree / n;
    auto index = degree % n;
    if (index < 0)
    {
        index += n;
        --octave;
    }
    return (double) octave * period + (index == 0 ? 0.0 : scale.cents[(size_t) (index - 1)]);
}

// The scale degree a key plays through the map, or false for a silent key.
bool degreeOfKey (const KeyboardMap& map, int key, long long& degree, long long& repeats) noexcept
{
    const long long offset = key - map.middleKey;
    if (map.size == 0)
    {
        degree = offset;
        repeats = 0;
        return true;
    }

    repeats = offset / map.size;
    auto index = offset % map.size;
    if (index < 0)
    {
        index += map.size;
        --repeats;
    }
    degree = map.map[(size_t) index];
    return degree >= 0;
}

std::string readFile (const juce::File& file, std::string& text)
{
    if (! file.existsAsFile())
        return "no such file";
    if (file.getSize() > (juce::int64) maxFileBytes)
        return "the file is larger than " + std::to_string (maxFileBytes / 1024) + " KiB";
    juce::MemoryBlock data;
    if (! file.loadFileAsData (data))
        return "the file cannot be read";
    text.assign (static_cast<const char*> (data.getData()), data.getSize());
    return {};
}
} // namespace

//==============================================================================
bool Table::operator== (const Table& other) const noexcept
{
    return frequency == other.frequency && pitch == other.pitch
        && std::strcmp (name, other.name) == 0 && std::strcmp (description, other.description) == 0;
}

Table defaultTable() noexcept
{
    Table t;
    for (int key = 0; key < numKeys; ++key)
    {
        t.pitch[(size_t) key] = key;
        t.frequency[(size_t) key] = frequencyOfPitch (key);
    }
    setName (t, "12-TET A440");
    setDescription (t, "Twelve-tone equal temperament, A4 = 440 Hz");
    return t;
}

bool isDefault (const Table& t) noexcept
{
    static const auto standard = defaultTable();
    return t == standard;
}

void setFrequency (Table& t, int key, double hz) noexcept
{
    if (key < 0 || key >= numKeys)
        return;

    if (! (std::isfinite (hz) && hz >= lowestFrequency && hz <= highestFrequency))
    {
        t.frequency[(size_t) key] = t.pitch[(size_t) key] = 0.0;
        return;
    }

    auto pitch = 69.0 + 12.0 * std::log2 (hz / 440.0);
    if (std::abs (pitch - std::round (pitch)) < 1.0e-9)
        pitch = std::round (pitch);
    t.frequency[(size_t) key] = hz;
    t.pitch[(size_t) key] = pitch;
}

void setName (Table& t, std::string_view utf8) noexcept { copyText (t.name, utf8); }
void setDescription (Table& t, std::string_view utf8) noexcept { copyText (t.description, utf8); }

//==============================================================================
Parsed<Scale> parseScale (std::string_view text)
{
    auto lines = contentLines (text);
    if (! lines.ok())
        return { {}, lines.error };

    const auto& content = lines.value;
    if (content.size() < 2)
        return { {}, "the file ends before the number of notes" };

    Parsed<Scale> result;
    result.value.description = descriptionText (content[0].text);

    int count = 0;
    if (! readInt (firstToken (content[1].text), count) || count < 0)
        return { {}, lineError (content[1].number, "the number of notes is not a whole number") };
    if (count == 0)
        return { {}, lineError (content[1].number, "the scale has no notes") };
    if (count > maxScaleNotes)
        return { {}, lineError (content[1].number, "more than " + std::to_string (maxScaleNotes) + " notes") };

    // Blank lines after the last pitch are harmless; any other line past the count is not.
    auto last = content.size();
    while (last > 2 && trimmed (content[last - 1].text).empty())
        --last;
    const auto listed = (int) (last - 2);
    if (listed != count)
        return { {}, lineError (content[1].number, "the scale says " + std::to_string (count) + " notes but lists "
                                                       + std::to_string (listed)) };

    for (size_t i = 2; i < last; ++i)
    {
        double cents = 0.0;
        const auto error = readPitch (firstToken (content[i].text), cents);
        if (! error.empty())
            return { {}, lineError (content[i].number, error) };
        result.value.cents.push_back (cents);
    }

    if (! (result.value.cents.back() > 0.0))
        return { {}, lineError (content[last - 1].number, "the last note (the period) is not above the tonic") };
    return result;
}

Parsed<KeyboardMap> parseKeyboardMap (std::string_view text)
{
    auto lines = contentLines (text);
    if (! lines.ok())
        return { {}, lines.error };

    // Blank lines carry nothing in a keyboard map.
    std::vector<Line> content;
    for (const auto& line : lines.value)
        if (! trimmed (line.text).empty())
            content.push_back (line);

    if (content.size() < 7)
        return { {}, "the file ends before its seven header values (size, first, last, middle and reference key, "
                     "reference frequency, octave degree)" };

    Parsed<KeyboardMap> result;
    auto& map = result.value;
    const auto readKey = [&] (size_t i, const char* what, int& key, int lowest, int highest) -> std::string {
        if (! readInt (firstToken (content[i].text), key) || key < lowest || key > highest)
            return lineError (content[i].number, std::string (what) + " is not a whole number from " + std::to_string (lowest)
                                                     + " to " + std::to_string (highest));
        return {};
    };

    for (const auto& error : { readKey (0, "the map size", map.size, 0, numKeys),
                               readKey (1, "the first key", map.firstKey, 0, numKeys - 1),
                               readKey (2, "the last key", map.lastKey, 0, numKeys - 1),
                               readKey (3, "the middle key", map.middleKey, 0, numKeys - 1),
                               readKey (4, "the reference key", map.referenceKey, 0, numKeys - 1),
                               readKey (6, "the octave degree", map.octaveDegree, 0, maxScaleNotes) })
        if (! error.empty())
            return { {}, error };

    if (map.firstKey > map.lastKey)
        return { {}, lineError (content[2].number, "the last key is below the first") };
    if (! readDouble (firstToken (content[5].text), map.referenceFrequency) || map.referenceFrequency <= 0.0)
        return { {}, lineError (content[5].number, "the reference frequency is not a number of hertz above zero") };

    if (content.size() > 7 + (size_t) map.size)
        return { {}, lineError (content[7 + (size_t) map.size].number, "more map entries than the map size, "
                                                                         + std::to_string (map.size)) };

    map.map.assign ((size_t) map.size, -1);
    for (size_t i = 7; i < content.size(); ++i)
    {
        const auto token = firstToken (content[i].text);
        auto& entry = map.map[i - 7];
        if (token == "x" || token == "X")
            continue;
        if (! readInt (token, entry) || entry < 0 || entry > maxScaleNotes)
            return { {}, lineError (content[i].number, "a map entry is neither 'x' nor a degree from 0 to "
                                                           + std::to_string (maxScaleNotes)) };
    }
    return result;
}

KeyboardMap linearMap (int middleKey, int referenceKey, double referenceFrequency)
{
    KeyboardMap map;
    map.middleKey = middleKey;
    map.referenceKey = referenceKey;
    map.referenceFrequency = referenceFrequency;
    return map;
}

Parsed<Table> buildTable (const Scale& scale, const KeyboardMap& map, std::string_view name)
{
    if (scale.cents.empty())
        return { {}, "the scale has no notes" };

    long long referenceDegree = 0, referenceRepeats = 0;
    if (! degreeOfKey (map, map.referenceKey, referenceDegree, referenceRepeats))
        return { {}, "the keyboard map leaves its reference key, " + std::to_string (map.referenceKey) + ", silent" };

    // Each repetition of the map moves by its octave degree's interval (the period without one).
    const auto repeatCents = map.octaveDegree == 0 ? scale.cents.back() : centsOfDegree (scale, map.octaveDegree);
    const auto centsOfKey = [&] (long long degree, long long repeats) {
        return centsOfDegree (scale, degree) + (double) repeats * repeatCents;
    };
    const auto referenceCents = centsOfKey (referenceDegree, referenceRepeats);

    Parsed<Table> result;
    auto& t = result.value;
    auto anyMapped = false;
    for (int key = map.firstKey; key <= map.lastKey; ++key)
    {
        long long degree = 0, repeats = 0;
        if (! degreeOfKey (map, key, degree, repeats))
            continue;
        setFrequency (t, key, map.referenceFrequency * std::pow (2.0, (centsOfKey (degree, repeats) - referenceCents) / 1200.0));
        anyMapped = anyMapped || t.isMapped (key);
    }

    if (! anyMapped)
        return { {}, "no key of the tuning lies between " + juce::String (lowestFrequency).toStdString() + " and "
                         + juce::String (highestFrequency).toStdString() + " Hz" };

    setName (t, name);
    setDescription (t, scale.description);
    return result;
}

Parsed<Table> loadScala (const juce::File& scl, const juce::File& kbm)
{
    const auto named = [] (const juce::File& f, const std::string& error) {
        return f.getFileName().toStdString() + ": " + error;
    };

    std::string text;
    if (auto error = readFile (scl, text); ! error.empty())
        return { {}, named (scl, error) };
    auto scale = parseScale (text);
    if (! scale.ok())
        return { {}, named (scl, scale.error) };

    auto map = linearMap();
    if (kbm != juce::File())
    {
        if (auto error = readFile (kbm, text); ! error.empty())
            return { {}, named (kbm, error) };
        auto parsed = parseKeyboardMap (text);
        if (! parsed.ok())
            return { {}, named (kbm, parsed.error) };
        map = std::move (parsed.value);
    }

    auto name = scl.getFileNameWithoutExtension();
    if (kbm != juce::File())
        name << " / " << kbm.getFileNameWithoutExtension();
    auto table = buildTable (scale.value, map, name.toStdString());
    if (! table.ok())
        table.error = named (kbm != juce::File() ? kbm : scl, table.error);
    return table;
}

//==============================================================================
namespace
{
constexpr std::uint8_t sysexStart = 0xf0, sysexEnd = 0xf7;
constexpr std::uint8_t nonRealTime = 0x7e, realTime = 0x7f, everyDevice = 0x7f, midiTuning = 0x08;
constexpr int nameBytes = 16;

bool checksumMatches (const std::uint8_t* d, int size) noexcept
{
    std::uint8_t sum = 0;
    for (int i = 1; i < size - 2; ++i)
        sum ^= d[i];
    return (sum & 0x7f) == d[size - 2];
}

// A note pitch as the standard writes it: semitone, then a 14-bit fraction of a semitone.
double mtsPitch (const std::uint8_t* p) noexcept
{
    return p[0] + (double) ((p[1] << 7) | p[2]) / 16384.0;
}

bool isNoChange (const std::uint8_t* p) noexcept { return p[0] == 0x7f && p[1] == 0x7f && p[2] == 0x7f; }

void retuneKey (Table& t, int key, double pitch, std::array<bool, numKeys>* changed) noexcept
{
    const auto before = t.frequency[(size_t) key];
    setPitch (t, key, pitch);
    if (changed != nullptr && ! juce::exactlyEqual (t.frequency[(size_t) key], before))
        (*changed)[(size_t) key] = true;
}

void nameFromMessage (Table& t, const std::uint8_t* name) noexcept
{
    char text[nameBytes + 1] = {};
    std::memcpy (text, name, nameBytes);
    auto length = (int) nameBytes;
    while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\0'))
        --length;
    setName (t, length > 0 ? std::string_view (text, (size_t) length) : std::string_view ("MIDI tuning"));
    setDescription (t, "MIDI Tuning Standard dump");
}

// Twelve offsets in cents from equal temperament, one per pitch class, on every key.
template <typename CentsOf>
void applyScaleOctave (Table& t, CentsOf centsOf, std::array<bool, numKeys>* changed) noexcept
{
    for (int key = 0; key < numKeys; ++key)
        retuneKey (t, key, key + centsOf (key % 12) * semitonesPerCent, changed);
}

double oneByteCents (const std::uint8_t* s, int pitchClass) noexcept { return s[pitchClass] - 64.0; }

double twoByteCents (const std::uint8_t* s, int pitchClass) noexcept
{
    return (((s[2 * pitchClass] << 7) | s[2 * pitchClass + 1]) - 8192) * (100.0 / 8192.0);
}
} // namespace

bool isTuningMessage (const std::uint8_t* data, int size) noexcept
{
    return data != nullptr && size >= 5 && data[0] == sysexStart && (data[1] == nonRealTime || data[1] == realTime)
        && data[3] == midiTuning;
}

const char* describe (MtsResult result) noexcept
{
    switch (result)
    {
        case MtsResult::applied:        return "applied";
        case MtsResult::notTuning:      return "not a MIDI tuning message";
        case MtsResult::ignoredRequest: return "a tuning dump request, which Kestrune does not answer";
        case MtsResult::otherDevice:    return "meant for another device ID";
        case MtsResult::wrongLength:    return "the message's length does not fit its form";
        case MtsResult::badChecksum:    return "the checksum does not match";
        case MtsResult::badData:        return "a data byte is out of range or the form is unknown";
        case MtsResult::noChannel:      return "the channel mask names no channel";
    }
    return "";
}

MtsResult applyMts (Table& t, const std::uint8_t* d, int size, std::array<bool, numKeys>* changed) noexcept
{
    if (! isTuningMessage (d, size))
        return MtsResult::notTuning;
    if (d[size - 1] != sysexEnd)
        return MtsResult::wrongLength;
    for (int i = 1; i < size - 1; ++i)
        if (d[i] >= 0x80)
            return MtsResult::badData;
    if (d[2] != everyDevice && d[2] != deviceId)
        return MtsResult::otherDevice;

    const auto form = d[4];
    const auto noteChanges = [&] (int countAt) {
        const int count = d[countAt];
        if (count == 0 || size != countAt + 2 + 4 * count)
            return MtsResult::wrongLength;
        for (int i = 0; i < count; ++i)
        {
            const auto* entry = d + countAt + 1 + 4 * i;
            if (! isNoChange (entry + 1))
                retuneKey (t, entry[0], mtsPitch (entry + 1), changed);
        }
        setDescription (t, "Retuned by MIDI Tuning Standard messages");
        return MtsResult::applied;
    };
    const auto bulkDump = [&] (int nameAt) {
        if (size != nameAt + nameBytes + 3 * numKeys + 2)
            return MtsResult::wrongLength;
        if (! checksumMatches (d, size))
            return MtsResult::badChecksum;
        for (int key = 0; key < numKeys; ++key)
        {
            const auto* entry = d + nameAt + nameBytes + 3 * key;
            if (! isNoChange (entry))
                retuneKey (t, key, mtsPitch (entry), changed);
        }
        nameFromMessage (t, d + nameAt);
        return MtsResult::applied;
    };
    const auto scaleOctaveDump = [&] (int bytesPerClass) {
        const auto nameAt = 7;
        if (size != nameAt + nameBytes + 12 * bytesPerClass + 2)
            return MtsResult::wrongLength;
        if (! checksumMatches (d, size))
            return MtsResult::badChecksum;
        const auto* s = d + nameAt + nameBytes;
        if (bytesPerClass == 1)
            applyScaleOctave (t, [s] (int c) { return oneByteCents (s, c); }, changed);
        else
            applyScaleOctave (t, [s] (int c) { return twoByteCents (s, c); }, changed);
        nameFromMessage (t, d + nameAt);
        return MtsResult::applied;
    };
    const auto scaleOctaveChange = [&] (int bytesPerClass) {
        if (size != 8 + 12 * bytesPerClass + 1)
            return MtsResult::wrongLength;
        if ((d[5] | d[6] | d[7]) == 0)
            return MtsResult::noChannel;
        const auto* s = d + 8;
        if (bytesPerClass == 1)
            applyScaleOctave (t, [s] (int c) { return oneByteCents (s, c); }, changed);
        else
            applyScaleOctave (t, [s] (int c) { return twoByteCents (s, c); }, changed);
        setDescription (t, "Retuned by MIDI Tuning Standard messages");
        return MtsResult::applied;
    };

    switch (form)
    {
        case 0x00: return size == 7 ? MtsResult::ignoredRequest : MtsResult::wrongLength;
        case 0x03: return size == 8 ? MtsResult::ignoredRequest : MtsResult::wrongLength;
        case 0x01: return bulkDump (6);
        case 0x04: return bulkDump (7);
        case 0x02: return size >= 7 ? noteChanges (6) : MtsResult::wrongLength;
        case 0x07: return size >= 8 ? noteChanges (7) : MtsResult::wrongLength;
        case 0x05: return scaleOctaveDump (1);
        case 0x06: return scaleOctaveDump (2);
        case 0x08: return scaleOctaveChange (1);
        case 0x09: return scaleOctaveChange (2);
        default:   return MtsResult::badData;
    }
}

//==============================================================================
std::unique_ptr<juce::XmlElement> toXml (const Table& t)
{
    if (isDefault (t))
        return nullptr;

    std::string frequencies;
    for (int key = 0; key < numKeys; ++key)
    {
        char number[32];
        const auto [end, error] = std::to_chars (number, number + sizeof (number), t.frequency[(size_t) key]);
        jassert (error == std::errc());
        if (key > 0)
            frequencies += ' ';
        frequencies.append (number, end);
    }

    auto element = std::make_unique<juce::XmlElement> (xmlTag);
    element->setAttribute ("name", juce::String::fromUTF8 (t.name));
    element->setAttribute ("description", juce::String::fromUTF8 (t.description));
    element->setAttribute ("frequencies", juce::String (frequencies));
    return element;
}

Parsed<Table> fromXml (const juce::XmlElement& element)
{
    if (! element.hasTagName (xmlTag))
        return { {}, "not a " + std::string (xmlTag) + " element" };

    const auto text = element.getStringAttribute ("frequencies").toStdString();
    std::string_view rest (text);
    Parsed<Table> result;
    auto& t = result.value;
    int key = 0;
    for (;; ++key)
    {
        const auto token = firstToken (rest);
        if (token.empty())
            break;
        rest.remove_prefix ((size_t) (token.data() + token.size() - rest.data()));
        double hz = 0.0;
        if (key >= numKeys)
            return { {}, "more than " + std::to_string (numKeys) + " frequencies" };
        if (! readDouble (token, hz) || hz < 0.0 || (hz > 0.0 && (hz < lowestFrequency || hz > highestFrequency)))
            return { {}, "frequency " + std::to_string (key) + " is neither 0 nor a number of hertz from "
                             + juce::String (lowestFrequency).toStdString() + " to "
                             + juce::String (highestFrequency).toStdString() };
        setFrequency (t, key, hz);
    }
    if (key != numKeys)
        return { {}, std::to_string (key) + " frequencies where there should be " + std::to_string (numKeys) };
    if (std::none_of (t.frequency.begin(), t.frequency.end(), [] (double hz) { return hz > 0.0; }))
        return { {}, "no key is mapped" };

    setName (t, element.getStringAttribute ("name").toStdString());
    setDescription (t, element.getStringAttribute ("description").toStdString());
    return result;
}
} // namespace tuning
