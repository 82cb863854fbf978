#pragma once

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The tuning every instrument plays: a frequency for each of the 128 MIDI keys, or none (the key is
// silent). It comes from a Scala scale (.scl) with an optional keyboard mapping (.kbm), from MIDI
// Tuning Standard messages, or from a saved state; the default is twelve-tone equal temperament at
// A4 = 440 Hz.
namespace tuning
{
constexpr int numKeys = 128;

// What a voice can play. A key a Scala scale puts outside this range is left silent; MIDI Tuning
// Standard messages cannot reach outside it (their notes run from 8.2 Hz to 13.3 kHz).
constexpr double lowestFrequency = 1.0;
constexpr double highestFrequency = 20000.0;

// Name and description are fixed arrays so that the table copies without allocating on the audio
// thread; longer texts are cut at a character boundary.
constexpr int maxNameBytes = 64;
constexpr int maxDescriptionBytes = 256;

struct Table
{
    // Hz; 0 for a key mapped to nothing.
    std::array<double, numKeys> frequency {};

    // The same pitches as fractional MIDI note numbers, 69 + 12 log2 (f / 440), which the voices use:
    // under equal temperament at 440 Hz they are the whole key numbers themselves, so the voices'
    // arithmetic (and every sample they render) stays what it was before tunings existed. Unused for
    // an unmapped key.
    std::array<double, numKeys> pitch {};

    char name[maxNameBytes] {};                 // UTF-8, NUL-terminated; shown in the editor's header
    char description[maxDescriptionBytes] {};   // UTF-8, NUL-terminated; the Scala file's description

    bool isMapped (int key) const noexcept { return key >= 0 && key < numKeys && frequency[(size_t) key] > 0.0; }
    bool operator== (const Table&) const noexcept;
    bool operator!= (const Table& other) const noexcept { return ! (*this == other); }
};

// Twelve-tone equal temperament at A4 = 440 Hz, named "12-TET A440".
Table defaultTable() noexcept;
bool isDefault (const Table&) noexcept;

// Sets key's frequency (a mapped one inside the playable range) and its pitch; 0 unmaps the key.
// A pitch within 1e-9 semitone of a whole key number becomes that number.
void setFrequency (Table&, int key, double hz) noexcept;

void setName (Table&, std::string_view utf8) noexcept;
void setDescription (Table&, std::string_view utf8) noexcept;

//==============================================================================
// Scala files. Every parser returns either its value or an error text for the user, naming the line
// where it applies ("line 4: ..."); on an error the value is not to be used.
template <typename T>
struct Parsed
{
    T value {};
    std::string error;   // empty on success
    bool ok() const noexcept { return error.empty(); }
};

// Limits on input: a file past maxFileBytes, a line past maxLineBytes or a scale of more than
// maxScaleNotes degrees is refused.
constexpr size_t maxFileBytes = 256 * 1024;
constexpr size_t maxLineBytes = 4096;
constexpr int maxScaleNotes = 1024;

struct Scale
{
    std::string description;      // UTF-8 (a Latin-1 file's description is converted)
    std::vector<double> cents;    // degrees 1..n above the tonic; the last is the period (often 1200)
};

// A .scl text: description line, note count, then one pitch per line, either cents (with a period:
// "701.955", "-5.0") or a ratio ("3/2", "2"); '!' starts a comment line and anything after the pitch on
// its line is ignored. Refused: NUL bytes, UTF-16, a count that disagrees with the pitch lines, a
// pitch that is not a number, a ratio of zero or below, a period at or below the tonic.
Parsed<Scale> parseScale (std::string_view text);

struct KeyboardMap
{
    int size = 0;                  // keys in one repetition of the map; 0 maps every key to its degree
    int firstKey = 0, lastKey = 127;
    int middleKey = 60;            // the key that plays degree 0
    int referenceKey = 69;
    double referenceFrequency = 440.0;
    int octaveDegree = 0;          // the degree whose interval repeats the map; 0: the scale's period
    std::vector<int> map;          // `size` entries, each a degree or -1 (an 'x': the key is silent)
};

// A .kbm text: size, first key, last key, middle key, reference key, reference frequency, octave
// degree, then `size` map entries (a degree or 'x'; entries the file leaves out are 'x'). Keys must
// lie in 0..127, first <= last, the size in 0..128, the frequency above 0, entries and the octave
// degree in 0..maxScaleNotes.
Parsed<KeyboardMap> parseKeyboardMap (std::string_view text);

// Scala's linear mapping: each key one degree up from middle C, A4 (key 69) at 440 Hz.
KeyboardMap linearMap (int middleKey = 60, int referenceKey = 69, double referenceFrequency = 440.0);

// The table a scale plays through a map. A degree past the scale's size lies that many periods up,
// as in Scala. Refused: a reference key the map leaves silent, a table with no key inside the playable
// range. Keys outside the map's first..last or outside the playable range are silent.
Parsed<Table> buildTable (const Scale&, const KeyboardMap&, std::string_view name);

// Both files read and built at once (kbm may be a default juce::File for the linear map), the name
// taken from the .scl file's name. Errors name the file.
Parsed<Table> loadScala (const juce::File& scl, const juce::File& kbm = {});

//==============================================================================
// MIDI Tuning Standard, as universal system exclusive messages (F0 7E|7F device 08 form ... F7):
//   real-time and non-real-time single-note tuning changes, with or without a bank (08 02, 08 07);
//   bulk tuning dumps, with or without a bank (08 01, 08 04), checked against their checksum;
//   scale/octave tunings, 1- and 2-byte forms, as dumps (08 05, 08 06, checksummed) and as the
//   channel-masked changes (08 08, 08 09).
// Kestrune keeps one tuning: bank and program numbers are read and checked but every message changes
// the tuning in force; channel masks with no channel set change nothing. Dump requests (08 00, 08 03)
// are recognised and ignored (Kestrune sends no MIDI). It answers to device 0x7f (everyone) and to its
// own device ID, 0x00.
constexpr std::uint8_t deviceId = 0x00;

enum class MtsResult
{
    applied,            // the table changed (possibly on no key: a "no change" entry)
    notTuning,          // not a MIDI tuning message at all: not for us to judge
    ignoredRequest,     // a dump request
    otherDevice,
    wrongLength,
    badChecksum,
    badData,            // a data byte with the top bit set, a key or bank past 127, an unknown form
    noChannel,          // a scale/octave change whose channel mask names no channel
};

// A constant, readable text for the result.
const char* describe (MtsResult) noexcept;

// Applies one complete message (F0 ... F7) to the table, at once, without allocating: real-time safe.
// Anything but `applied` leaves the table as it was. When `changedKeys` is given, the keys whose
// frequency changed are set in it (and none are cleared).
MtsResult applyMts (Table&, const std::uint8_t* data, int size, std::array<bool, numKeys>* changedKeys = nullptr) noexcept;

// Whether an event (F0 7E|7F, any device, 08 ...) is a MIDI tuning message worth handing to applyMts.
bool isTuningMessage (const std::uint8_t* data, int size) noexcept;

//==============================================================================
// In a saved state the tuning is one element, left out under the default tuning (so states read as
// they did before tunings existed):
//   <TUNING name="..." description="..." frequencies="f0 f1 ... f127"/>
// frequencies: 128 numbers in Hz in the shortest form that reads back exactly, 0 for a silent key.
constexpr const char* xmlTag = "TUNING";

// nullptr for the default tuning.
std::unique_ptr<juce::XmlElement> toXml (const Table&);

// Refused: another tag, other than 128 numbers, a number that is not one, a frequency outside the
// playable range (but 0), no key mapped.
Parsed<Table> fromXml (const juce::XmlElement&);
} // namespace tuning
