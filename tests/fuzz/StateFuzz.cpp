// Saved states built the way our own look, then given the features a hostile or broken file has:
// invalid UTF-8, DTDs and entities, processing instructions, deep nesting, base64 and repeated
// attributes, bad character references, oversized blocks, random byte and header damage.
// Each block also goes in as the LV2 wrapper and the Standalone's settings file carry it, and as a
// whole VST3 component state (with the framework's trailer, honest or lying) through the built
// bundle's own VST3 wrapper.
// Some states carry a tuning element, sound or damaged; and Scala scales and keyboard maps, sound or
// damaged, go through the host program's reader of its --tuning and --keymap files, whose tunings
// the plug-in then plays and saves.
// Every block must leave every parameter finite and inside its range within 100 ms of CPU time;
// a block with a feature our states never have must change nothing; a block with none must load
// exactly the values and the tuning it holds (a damaged tuning element keeps the tuning in force);
// and what is saved then must restore to the same values and tuning. A Scala file is refused with a
// message or gives a tuning whose keys are silent or playable.
#include "Fuzz.h"
#include "HostSession.h"
#include "Vst3Component.h"

#include "core/NumberText.h"
#include "core/ParameterTable.h"
#include "core/PluginProcessor.h"
#include "core/StateGuard.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>

namespace fuzz
{
namespace
{
using kestrune::numParameters;
using kestrune::parameterTable;
using Values = std::array<float, numParameters>;

enum Feature
{
    badUtf8, controlCharacter, dtd, unknownEntity, badNumericReference, processingInstruction,
    deepNesting, base64Attribute, repeatedAttribute, oversized,                   // must be refused
    commentOrCdata, manyAttributes, legalReferencesAndText,                       // refused or not: either is fine
    byteDamage, headerDamage,
    numFeatures
};

const char* const featureNames[numFeatures] = {
    "invalid UTF-8", "control character", "DTD", "unknown entity", "bad numeric reference",
    "processing instruction", "deep nesting", "base64 attribute", "repeated attribute", "oversized",
    "comment or CDATA", "many attributes", "legal references and text", "byte damage", "header damage"
};

constexpr int firstOptionalFeature = commentOrCdata;

struct Case
{
    std::string xml;
    std::vector<unsigned char> block;
    unsigned features = 0;
    bool rootMatches = true;
    Values expected {};
    int depth = 2;
    bool hasTuning = false;                  // the first tuning element decides
    std::optional<tuning::Table> soundTuning;   // what the first holds when it is sound

    void add (Feature f) { features |= 1u << f; }
    bool has (Feature f) const { return (features & (1u << f)) != 0; }
    bool mustBeRefused() const { return (features & ((1u << firstOptionalFeature) - 1)) != 0 && ! has (byteDamage) && ! has (headerDamage); }
    bool mustLoad() const { return features == 0 || features == (1u << legalReferencesAndText); }
};

const char* const badUtf8Sequences[] = {
    "\x80", "\xbf", "\xc0\xaf", "\xc1\xbf", "\xc3\x28", "\xe0\x80\xaf", "\xe2\x28\xa1", "\xe2\x82",
    "\xed\xa0\x80", "\xed\xbf\xbf", "\xf0\x80\x80\xaf", "\xf0\x9f\x98", "\xf4\x90\x80\x80", "\xf5\x80\x80\x80",
    "\xf8\x88\x80\x80\x80", "\xfe", "\xff", "\xc2", "\xe0", "\xf0"
};

const char* const dictionary[] = {
    "<", ">", "/>", "</", "&", ";", "\"", "'", "=", "<?", "?>", "<!", "<!DOCTYPE", "<![CDATA[", "]]>",
    "<!--", "-->", "base64:", "&#x", "&#", "&amp;", "&lt;", "\xf0", "\xc0", "\xed", "<PARAM", "id=", "value=",
    "<Parameters>", "</Parameters>", "nan", "1e39", "-", "\n", "\t", " ", "\x00"
};

class Generator
{
public:
    explicit Generator (Rng& r) : rng (r) {}

    Case next()
    {
        Case c;
        const bool pretty = rng.chance (20);
        const auto gap = [&] { return pretty ? std::string ("\n  ") : std::string(); };

        for (int i = 0; i < numParameters; ++i)
            c.expected[(size_t) i] = parameterTable[i].defaultValue;

        // The prolog.
        const int declaration = rng.below (20);
        if (declaration < 17)      c.xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        else if (declaration < 19) c.xml = "<?xml version='1.0'?>";
        if (rng.chance (3))  { c.add (dtd); c.xml += dtdText(); }
        if (rng.chance (2))  { c.add (processingInstruction); c.xml += "<?pi some data?>"; }
        if (rng.chance (1))  { c.add (commentOrCdata); c.xml += "<!-- a note -->"; }

        const int rootChoice = rng.below (20);
        const char* root = rootChoice < 16 ? "Parameters"
                         : rootChoice == 16 ? "parameters"
                         : rootChoice == 17 ? "ns:Parameters"
                         : rootChoice == 18 ? "Settings" : "Param";
        c.rootMatches = rootChoice < 17;   // the tag test ignores case, not namespaces
        c.xml += "<" + std::string (root) + ">";

        const int children = rng.below (17);
        for (int k = 0; k < children; ++k)
        {
            c.xml += gap();
            if (rng.chance (8))
                c.xml += hostileChild (c);
            if (rng.chance (3))
                c.xml += tuningChild (c);
            c.xml += param (c);
        }
        if (rng.chance (6))
            c.xml += hostileChild (c);
        c.xml += gap() + "</" + root + ">";
        if (pretty)
            c.xml += "\n";

        if (rng.chance (20))
        {
            c.add (byteDamage);
            damage (c.xml);
        }

        c.block = wrap (c.xml);
        if (rng.chance (8))
        {
            c.add (headerDamage);
            damageHeader (c.block);
        }
        return c;
    }

private:
    std::string dtdText()
    {
        switch (rng.below (4))
        {
            case 0:  return "<!DOCTYPE Parameters [<!ENTITY a \"&a;\">]>";
            case 1:  return "<!DOCTYPE Parameters [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
                            "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;\">]>";
            case 2:  return "<!DOCTYPE Parameters SYSTEM \"/etc/passwd\">";
            default: return "<!DOCTYPE Parameters [<!ENTITY x \"<PARAM id='volume' value='nan'/>\">]>";
        }
    }

    std::string number (const kestrune::ParameterRow& spec)
    {
        char text[64];
        switch (rng.below (10))
        {
            case 0: return "nan";
            case 1: { const char* odd[] = { "inf", "-inf", "1e39", "-1e39", "NaN", "-nan", "1e400" }; return odd[rng.below (7)]; }
            case 2: { const char* odd[] = { "  5", "5abc", "+3", ".5", "1e2", "0x10", "", "-0", "1e-320", "0.7" }; return odd[rng.below (10)]; }
            case 3: std::snprintf (text, sizeof (text), "%g", (double) spec.end * (1.0 + rng.unit() * 100.0) + 1.0); return text;
            case 4: std::snprintf (text, sizeof (text), "%g", (double) spec.start - 1.0 - rng.unit() * 1000.0); return text;
            default:
            {
                const int steps = (int) std::round ((spec.end - spec.start) / spec.step);
                std::snprintf (text, sizeof (text), "%.9g", (double) spec.start + (double) rng.below (steps + 1) * (double) spec.step);
                return text;
            }
        }
    }

    std::string param (Case& c)
    {
        const int index = rng.below (numParameters + 2);
        const bool known = index < numParameters;
        const auto& spec = parameterTable[known ? index : 0];
        const std::string id = known ? spec.id : (index == numParameters ? "nonsense" : "VOLUME");
        const bool hasValue = rng.chance (92);
        const auto value = number (spec);
        const char quote = rng.chance (90) ? '"' : '\'';
        const auto attribute = [&] (const std::string& name, const std::string& v) {
            return " " + name + "=" + quote + v + quote;
        };

        std::string attributes[2] = { attribute ("id", id), hasValue ? attribute ("value", value) : std::string() };
        if (rng.chance (20))
            std::swap (attributes[0], attributes[1]);
        std::string result = "<PARAM" + attributes[0] + attributes[1];

        if (rng.chance (2))
        {
            c.add (base64Attribute);
            const char* payloads[] = { "-5.AAAA", "2000000000.AAAA", "4.AAAAAA==", "99999999999.A", "0." };
            result += " base64:value=\"" + std::string (payloads[rng.below (5)]) + "\"";
        }
        if (rng.chance (2))
        {
            c.add (repeatedAttribute);
            result += hasValue && rng.chance (50) ? attribute ("value", "nan") : attribute ("id", parameterTable[rng.below (numParameters)].id);
        }
        if (rng.chance (1))
        {
            c.add (manyAttributes);
            for (int i = 0; i < 17 + rng.below (200); ++i)
                result += attribute ("x" + std::to_string (i), "");
        }
        result += rng.chance (90) ? "/>" : "></PARAM>";

        if (known)
        {
            const auto number = kestrune::parseNumber (value);
            const auto v = number ? (float) *number : std::nanf ("");
            c.expected[(size_t) index] = hasValue && std::isfinite (v) ? kestrune::clampToRange (spec, v) : spec.defaultValue;
        }
        return result;
    }

    // A tuning element as the plug-in saves it, sometimes damaged the ways a hand or a bad copy
    // damages one: numbers that are none, out of range or missing.
    std::string tuningChild (Case& c)
    {
        tuning::Scale scale;
        double cents = 0.0;
        for (int i = 0, n = 1 + rng.below (24); i < n; ++i)
            scale.cents.push_back (cents += 5.0 + rng.unit() * 300.0);
        const auto built = tuning::buildTable (scale, tuning::linearMap (60, 69, 220.0 + rng.unit() * 440.0),
                                               rng.chance (20) ? "n\xc3\xa4me & <\"quoted\">" : "fuzzed");
        auto element = built.ok() ? tuning::toXml (built.value) : nullptr;
        if (element == nullptr)
            return {};

        const bool first = ! c.hasTuning;
        c.hasTuning = true;
        if (rng.chance (30))
        {
            juce::StringArray numbers;
            numbers.addTokens (element->getStringAttribute ("frequencies"), " ", {});
            const char* bad[] = { "abc", "nan", "-inf", "-5", "1e400", "25000", "" };
            switch (rng.below (4))
            {
                case 0:  numbers.set (rng.below (numbers.size()), bad[rng.below ((int) std::size (bad))]); break;
                case 1:  numbers.remove (rng.below (numbers.size())); break;
                case 2:  numbers.add ("440"); break;
                default: for (auto& n : numbers) n = "0"; break;
            }
            element->setAttribute ("frequencies", numbers.joinIntoString (" "));
        }
        else if (first)
        {
            c.soundTuning = built.value;
        }
        return element->toString (juce::XmlElement::TextFormat().singleLine().withoutHeader()).toStdString();
    }

    std::string hostileChild (Case& c)
    {
        switch (rng.below (12))
        {
            case 0:  c.add (badUtf8); return "<x a=\"" + std::string (badUtf8Sequences[rng.below (20)]) + "\"/>";
            case 1:  c.add (badUtf8); return std::string ("text") + badUtf8Sequences[rng.below (20)];
            case 2:  c.add (controlCharacter); return std::string (1, (char) (1 + rng.below (8))) ;
            case 3:  c.add (unknownEntity); return rng.chance (50) ? "&a;" : "<x a=\"&nbsp;\"/>";
            case 4:
            {
                c.add (badNumericReference);
                const char* refs[] = { "&#0;", "&#x110000;", "&#xD800;", "&#x;", "&#;", "&#00000000065;", "&#xFFFE;", "&#X41;", "&#65", "&#x41" };
                return refs[rng.below (10)];
            }
            case 5:  c.add (processingInstruction); return rng.chance (70) ? "<?pi?>text" : "<?pi";
            case 6:
            {
                // Nesting within the bound is fine; past it the block must be refused.
                const int extra = rng.chance (90) ? 1 + rng.below (6) : 100 + rng.below (20000);
                c.depth = std::max (c.depth, 1 + extra);
                if (1 + extra > kestrune::stateguard::maxDepth)
                    c.add (deepNesting);
                std::string s;
                for (int i = 0; i < extra; ++i) s += "<n>";
                for (int i = 0; i < extra; ++i) s += "</n>";
                return s;
            }
            case 7:  c.add (commentOrCdata); return rng.chance (50) ? "<!-- note -->" : "<![CDATA[<PARAM id=\"volume\"/>]]>";
            case 8:
                if (rng.chance (10))
                {
                    c.add (oversized);
                    return std::string ((size_t) kestrune::stateguard::maxBlockBytes, ' ');
                }
                [[fallthrough]];
            default:
                c.add (legalReferencesAndText);
                return "<x a=\"&amp;&lt;&gt;&quot;&apos;&#233;&#x1F600;\xc3\xa9\">words &#10; \xe2\x82\xac</x>";
        }
    }

    void damage (std::string& s)
    {
        const int edits = 1 + rng.below (6);
        for (int e = 0; e < edits; ++e)
        {
            const int at = rng.below ((int) s.size() + 1);
            switch (rng.below (6))
            {
                case 0: if (! s.empty()) s[(size_t) juce::jmin (at, (int) s.size() - 1)] ^= (char) (1 << rng.below (8)); break;
                case 1: s.insert ((size_t) at, 1, (char) rng.below (256)); break;
                case 2: s.erase ((size_t) at, (size_t) rng.below (16)); break;
                case 3: { const auto token = dictionary[rng.below ((int) std::size (dictionary))];
                          s.insert ((size_t) at, token, juce::jmax ((size_t) 1, std::strlen (token))); break; }
                case 4: { const int from = rng.below ((int) s.size() + 1);
                          s.insert ((size_t) at, s.substr ((size_t) from, (size_t) rng.below (64))); break; }
                default: s.resize ((size_t) at); break;
            }
        }
    }

    static std::vector<unsigned char> wrap (const std::string& xml)
    {
        std::vector<unsigned char> block (xml.size() + 9);
        const auto length = (std::uint32_t) xml.size();
        const std::uint32_t header[2] = { 0x21324356, length };
        for (int i = 0; i < 8; ++i)
            block[(size_t) i] = (unsigned char) (header[i / 4] >> (8 * (i % 4)));
        std::copy (xml.begin(), xml.end(), block.begin() + 8);
        return block;
    }

    void damageHeader (std::vector<unsigned char>& block)
    {
        switch (rng.below (5))
        {
            case 0: block[(size_t) rng.below (4)] ^= (unsigned char) (1 + rng.below (255)); break;
            case 1: { const auto l = (std::uint32_t) rng.next(); for (int i = 0; i < 4; ++i) block[(size_t) (4 + i)] = (unsigned char) (l >> (8 * i)); break; }
            case 2: { const auto l = (std::uint32_t) rng.below ((int) block.size() + 16); for (int i = 0; i < 4; ++i) block[(size_t) (4 + i)] = (unsigned char) (l >> (8 * i)); break; }
            case 3: block.resize ((size_t) rng.below ((int) block.size() + 1)); break;
            default: block.back() = (unsigned char) rng.below (256); break;
        }
    }

    Rng& rng;
};

// A Scala scale as users write them (cents, ratios, comments, CRLF), then given what a broken or
// hostile one has: words, zero and negative ratios, a count that disagrees, thousands of degrees,
// a line or a file past the limits, NUL bytes, UTF-16 and Latin-1, random damage.
std::string scalaText (Rng& rng)
{
    const char* const eol = rng.chance (20) ? "\r\n" : "\n";
    std::string text = rng.chance (30) ? std::string ("! fuzzed.scl") + eol + "!" + eol : std::string();
    text += (rng.chance (10) ? "caf\xe9 scale" : "a fuzzed scale") + std::string (eol);
    const int count = rng.chance (3) ? tuning::maxScaleNotes + rng.between (-2, 2) : 1 + rng.below (40);
    text += " " + std::to_string (count + (rng.chance (5) ? rng.between (-2, 2) : 0)) + eol;
    const char* const odd[] = { "abc", "0/1", "-3/2", "3/0", "1e999", "nan", "--5", "3/", "/2", "1.2.3", "0.0", "-1200.0",
                                "99999999999999999999/1", "2/1 two to one", "701.955 cents" };
    for (int i = 1; i <= count; ++i)
    {
        if (rng.chance (2))
            text += odd[rng.below ((int) std::size (odd))];
        else if (rng.chance (50))
            text += std::to_string (i * 1200.0 / count);
        else
            text += std::to_string (count + i) + "/" + std::to_string (count);
        text += eol;
    }

    switch (rng.below (30))
    {
        case 0: text += std::string (tuning::maxLineBytes + (size_t) rng.below (4), '1') + eol; break;
        case 1: text.resize (tuning::maxFileBytes + 1, '\n'); break;
        case 2: text.insert ((size_t) rng.below ((int) text.size() + 1), 1, '\0'); break;
        case 3:
        {
            std::string wide = "\xff\xfe";
            for (const auto ch : text)
                wide += { ch, '\0' };
            text = wide;
            break;
        }
        case 4:
            for (int e = 0, edits = 1 + rng.below (8); e < edits && ! text.empty(); ++e)
                text[(size_t) rng.below ((int) text.size())] = (char) rng.below (256);
            break;
        case 5: text.resize ((size_t) rng.below ((int) text.size() + 1)); break;
        default: break;
    }
    return text;
}

// A keyboard map with its fields usually in range, sometimes not.
std::string keymapText (Rng& rng)
{
    const auto field = [&] (int usual) { return std::to_string (rng.chance (4) ? rng.between (-200, 300) : usual) + "\n"; };
    const int size = rng.chance (3) ? rng.between (-1, 5000) : rng.below (13);
    std::string text = "! fuzzed.kbm\n" + std::to_string (size) + "\n" + field (0) + field (127) + field (60) + field (69);
    const char* const frequencies[] = { "440.0", "415", "0", "-440", "nan", "1e300", "x" };
    text += std::string (rng.chance (80) ? "440.0" : frequencies[rng.below ((int) std::size (frequencies))]) + "\n";
    text += field (rng.below (13));
    for (int i = 0, n = std::min (size, 200) + (rng.chance (5) ? rng.between (-2, 2) : 0); i < n; ++i)
        text += (rng.chance (15) ? std::string ("x") : std::to_string (rng.chance (3) ? rng.between (-5, 5000) : i)) + "\n";
    if (rng.chance (5))
        text[(size_t) rng.below ((int) text.size())] = (char) rng.below (256);
    return text;
}

// What the host program's --tuning and --keymap give: an error that says where, or a tuning whose
// keys are silent or playable and which the plug-in's saved form carries exactly. Null when so.
const char* tuningFilesDisagree (const juce::File& scl, const juce::File& kbm, std::optional<tuning::Table>& result)
{
    try
    {
        result = host::readTuningFiles (scl, kbm);
    }
    catch (const host::HostError& e)
    {
        const auto named = e.message.contains (scl.getFileName()) || (kbm != juce::File() && e.message.contains (kbm.getFileName()));
        return named && e.exitCode == host::exitUsage ? nullptr : "a refused Scala file's message does not name it";
    }

    bool anyMapped = false;
    for (const auto hz : result->frequency)
    {
        if (! (std::fpclassify (hz) == FP_ZERO || (hz >= tuning::lowestFrequency && hz <= tuning::highestFrequency)))
            return "a Scala file gave a key a frequency no voice plays";
        anyMapped = anyMapped || hz > 0.0;
    }
    if (! anyMapped)
        return "a Scala file gave a tuning with every key silent";

    const auto element = tuning::toXml (*result);
    if (element != nullptr ? ! (tuning::fromXml (*element).ok() && tuning::fromXml (*element).value == *result)
                           : ! tuning::isDefault (*result))
        return "a Scala file's tuning does not survive the plug-in's saved form";
    return nullptr;
}

struct Instance
{
    Instance()
    {
        for (int i = 0; i < numParameters; ++i)
            raw[(size_t) i] = processor.parameters.getRawParameterValue (parameterTable[i].id);
    }

    Values values() const
    {
        Values v {};
        for (size_t i = 0; i < raw.size(); ++i)
            v[i] = raw[i]->load();
        return v;
    }

    KestruneProcessor processor;
    std::array<std::atomic<float>*, numParameters> raw {};
};

// The block as the other doors carry it: the framework's base64 text, whose size prefix is sometimes
// a lie (negative, huge, past the text, not a number) and whose text is sometimes cut short.
std::string asBase64 (const Case& c, Rng& rng)
{
    auto text = juce::MemoryBlock (c.block.data(), c.block.size()).toBase64Encoding().toStdString();
    const auto digits = text.substr (text.find ('.'));
    static const char* const lies[] = { "-5", "2000000000", "2147483648", "4294967299", "99999999999999999999", "", "x", " 12" };

    if (rng.chance (30))
        text = lies[rng.below ((int) std::size (lies))] + digits;
    else if (rng.chance (15))
        text = std::to_string (c.block.size() + (size_t) rng.between (1, 64)) + digits;

    if (rng.chance (15))
        text.resize ((size_t) rng.below ((int) text.size() + 1));

    return text;
}

// The LV2 wrapper's restore: the host's text decoded, the plug-in given the block only when the
// decoder takes it.
void throughLv2 (KestruneProcessor& processor, const std::string& text)
{
    juce::MemoryBlock block;
    if (block.fromBase64Encoding (juce::String (text.data(), text.size())))
        processor.setStateInformation (block.getData(), (int) block.getSize());
}

// The Standalone's start: its settings file read by the framework's PropertiesFile, the plug-in's
// state taken from "filterState" and the audio setup parsed from "audioSetup". The file is
// sometimes nested deep or cut short, as a damaged one would be.
void throughStandaloneSettings (KestruneProcessor& processor, const std::string& text, Rng& rng, const juce::File& file)
{
    auto xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PROPERTIES>\n<VALUE name=\"filterState\" val=\"" + text
               + "\"/>\n<VALUE name=\"audioSetup\"><DEVICESETUP deviceType=\"ALSA\"/></VALUE>\n</PROPERTIES>\n";

    if (rng.chance (10))
    {
        const auto depth = (size_t) rng.between (200, 60000);
        std::string open, close;
        for (size_t i = 0; i < depth; ++i)
        {
            open += "<a>";
            close += "</a>";
        }
        xml.insert (xml.find ("</PROPERTIES>"), open + close);
    }

    if (rng.chance (10))
        xml.resize ((size_t) rng.below ((int) xml.size() + 1));

    file.replaceWithData (xml.data(), xml.size());
    juce::PropertiesFile::Options options;
    options.storageFormat = juce::PropertiesFile::storeAsXML;
    juce::PropertiesFile settings (file, options);
    juce::MemoryBlock block;

    if (block.fromBase64Encoding (settings.getValue ("filterState")) && block.getSize() > 0)
        processor.setStateInformation (block.getData(), (int) block.getSize());

    settings.getXmlValue ("audioSetup");
}

// The VST3 wrapper keeps Bypass in a trailer after the plug-in's own state: a zero, its private
// data, their size and this name.
const std::string trailerName = "JUCEPrivateData";

std::vector<unsigned char> privateData (bool bypass)
{
    juce::MemoryOutputStream out;
    juce::ValueTree (juce::Identifier (trailerName)).setProperty ("Bypass", bypass, nullptr).writeToStream (out);
    return { static_cast<const unsigned char*> (out.getData()), static_cast<const unsigned char*> (out.getData()) + out.getDataSize() };
}

void appendInt64 (std::vector<unsigned char>& bytes, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        bytes.push_back ((unsigned char) (v >> (8 * i)));
}

// What a sound wrapper makes of a whole component state: the bytes it hands the plug-in and the
// Bypass its trailer sets. The trailer counts only when its size fits in the bytes present;
// a lying one gets the plug-in nothing at all.
struct Handover
{
    size_t pluginBytes = 0;
    std::optional<bool> bypass;
};

Handover expectedHandover (const std::vector<unsigned char>& b)
{
    const auto n = b.size();
    const auto overhead = trailerName.size() + 16;
    if (n < trailerName.size() + 8 || std::memcmp (b.data() + n - trailerName.size(), trailerName.data(), trailerName.size()) != 0)
        return { n, {} };

    std::uint64_t size = 0;
    for (int i = 0; i < 8; ++i)
        size |= (std::uint64_t) b[n - trailerName.size() - 8 + (size_t) i] << (8 * i);
    if (n < overhead || size > n - overhead)
        return {};

    Handover h { n - overhead - (size_t) size, {} };
    if (size > 0)
        h.bypass = (bool) juce::ValueTree::readFromData (b.data() + h.pluginBytes + 8, (size_t) size).getProperty ("Bypass", false);
    return h;
}

// What a sound wrapper reads from a host's stream: all of it, or as much as the stream says it holds
// when it gives a believable size.
std::vector<unsigned char> expectedRead (const std::vector<unsigned char>& bytes, const StreamStyle& style)
{
    const auto claimed = style.reportedSize.value_or ((std::int64_t) bytes.size());
    if (! style.sizeable || claimed <= 0 || claimed >= 100 * 1024 * 1024)
        return bytes;
    return { bytes.begin(), bytes.begin() + (std::ptrdiff_t) std::min<std::int64_t> (claimed, (std::int64_t) bytes.size()) };
}

struct ComponentInput
{
    std::vector<unsigned char> bytes;
    StreamStyle style;
};

// The block as a host's project hands it to the VST3 component: alone or with the framework's trailer,
// whose private data may be damaged or nested deep and whose size may lie; sometimes cut short; over
// streams that read in pieces and claim sizes of their own.
ComponentInput asComponentState (const Case& c, Rng& rng)
{
    ComponentInput in;
    auto& b = in.bytes;
    const int shape = rng.below (100);

    if (shape < 2)
    {
        appendInt64 (b, (1ull << 40) + 1);   // nothing but a size and the name
        b.insert (b.end(), trailerName.begin(), trailerName.end());
    }
    else
    {
        b = c.block;
        if (shape >= 20)
        {
            std::vector<unsigned char> data;
            const int kind = rng.below (100);
            if (kind < 45)      data = privateData (rng.chance (50));
            else if (kind < 55) {}
            else if (kind < 70) { data.resize ((size_t) rng.below (64)); for (auto& x : data) x = (unsigned char) rng.below (256); }
            else if (kind < 75) { for (int i = 0, depth = rng.between (100, 60000); i < depth; ++i) data.insert (data.end(), { 'a', 0, 0, 1, 1 }); }
            else if (kind < 85)
            {
                juce::MemoryOutputStream out;
                const juce::var odd[] = { "yes", 2, 0.5, juce::var(), juce::var (juce::Array<juce::var> { 1 }) };
                juce::ValueTree (juce::Identifier (trailerName)).setProperty ("Bypass", odd[rng.below (5)], nullptr).writeToStream (out);
                data.assign (static_cast<const unsigned char*> (out.getData()), static_cast<const unsigned char*> (out.getData()) + out.getDataSize());
            }
            else
            {
                data = privateData (true);
                for (int e = 0, edits = 1 + rng.below (4); e < edits; ++e)
                    data[(size_t) rng.below ((int) data.size())] = (unsigned char) rng.below (256);
            }

            const auto start = b.size();
            appendInt64 (b, 0);
            b.insert (b.end(), data.begin(), data.end());
            std::uint64_t size = data.size();
            if (rng.chance (25))
            {
                const std::uint64_t lies[] = { (1ull << 40) + 1, ~0ull, b.size() + 1, b.size() + 8, rng.next(),
                                               size + 1 + (std::uint64_t) rng.below (16), size - 1, start + data.size() + 9 };
                size = lies[rng.below ((int) std::size (lies))];
            }
            appendInt64 (b, size);
            b.insert (b.end(), trailerName.begin(), trailerName.end());
        }
    }

    if (rng.chance (8))
        b.resize ((size_t) rng.below ((int) b.size() + 1));

    auto& style = in.style;
    style.sizeable = rng.chance (85);
    const int claim = rng.below (100);
    if (claim < 8)       style.reportedSize = (std::int64_t) b.size() + 1 + rng.below (4096);
    else if (claim < 14) style.reportedSize = rng.below ((int) b.size() + 1);
    else if (claim < 17) style.reportedSize = 100 * 1024 * 1024 + (std::int64_t) rng.below (1 << 20);
    else if (claim < 20) style.reportedSize = -1 - rng.below (1000);
    if (rng.chance (30))
        style.chunk = rng.chance (30) ? 1 + rng.below (8) : 1 + rng.below (4096);
    return in;
}

// Null when the component's saved state holds exactly what its plug-in should have been given (the
// mirror's state) and the Bypass its trailers set; otherwise what differs.
const char* componentDisagrees (Vst3Component& component, KestruneProcessor& mirror, bool bypass)
{
    const auto saved = component.getState();
    const auto h = expectedHandover (saved);
    juce::MemoryBlock expected;
    mirror.getStateInformation (expected);
    if (h.pluginBytes != expected.getSize() || std::memcmp (saved.data(), expected.getData(), expected.getSize()) != 0)
        return "the plug-in inside the VST3 component does not hold the state a sound wrapper would have given it";
    if (h.bypass != bypass)
        return "the VST3 component's Bypass is not the one its trailer set";
    return nullptr;
}

bool closeEnough (const kestrune::ParameterRow& spec, float actual, float expected)
{
    return std::abs (actual - expected) <= 0.5f * spec.step + 1.0e-4f * (spec.end - spec.start);
}
} // namespace

Figures runStateFuzzer (const Options& options)
{
    Instance target, mirror;
    Rng rng { options.seed };
    Generator generator (rng);
    Figures figures;
    std::int64_t featureCounts[numFeatures] = {};
    std::int64_t refusedChecked = 0, loadChecked = 0, roundTrips = 0, doorBlocks = 0;
    const juce::TemporaryFile settingsTemporary ("settings"), scalaFile (".scl"), keymapFile (".kbm");
    std::int64_t scalaFiles = 0;
    const auto& settingsFile = settingsTemporary.getFile();
    Vst3Component component (KESTRUNE_FUZZ_VST3_MODULE);
    KestruneProcessor componentMirror;   // given what the component's wrapper should hand its plug-in
    bool bypass = false;
    std::int64_t componentBlocks = 0;

    const auto report = [&] (const char* what, const std::vector<unsigned char>& bytes) {
        ++figures.findings;
        std::fprintf (stderr, "fuzz state: block %lld: %s\n", (long long) figures.blocks, what);
        const std::string path = "kestrune-fuzz-state-finding.bin";
        if (auto* f = std::fopen (path.c_str(), "wb"))
        {
            std::fwrite (bytes.data(), 1, bytes.size(), f);
            std::fclose (f);
            std::fprintf (stderr, "fuzz state: block written to %s\n", path.c_str());
        }
    };

    const auto start = juce::Time::getMillisecondCounterHiRes();
    const auto elapsed = [&] { return (juce::Time::getMillisecondCounterHiRes() - start) / 1000.0; };

    const auto limit = options.replay.empty() ? options.blocks : 1;
    // The first finding ends the run, with its block kept for --replay.
    while (figures.findings == 0 && (limit == 0 || figures.blocks < limit) && (! options.replay.empty() || elapsed() < options.seconds))
    {
        reportProgress ("state", figures.blocks, elapsed());
        Case c;
        if (options.replay.empty())
        {
            c = generator.next();
        }
        else
        {
            juce::MemoryBlock data;
            juce::File (options.replay).loadFileAsData (data);
            c.block.assign (data.begin(), data.end());
            c.features = 1u << byteDamage;   // unknown origin: check ranges only
        }

        for (int f = 0; f < numFeatures; ++f)
            if (c.has ((Feature) f))
                ++featureCounts[f];

        const auto before = target.values();
        const auto tuningBefore = target.processor.getTuning();
        setCurrentInput (c.block.data(), c.block.size());
        blockStarted();
        const auto cpuStart = threadCpuMs();
        target.processor.setStateInformation (c.block.data(), (int) c.block.size());
        const auto cpu = threadCpuMs() - cpuStart;
        blockFinished();
        ++figures.blocks;
        figures.slowestBlockMs = std::max (figures.slowestBlockMs, cpu);

        const auto after = target.values();
        bool inRange = true;
        for (int i = 0; i < numParameters; ++i)
        {
            const auto& spec = parameterTable[i];
            const auto v = after[(size_t) i];
            inRange = inRange && std::isfinite (v) && v >= spec.start && v <= spec.end;
        }

        if (! inRange)
            report ("a parameter is not a finite value inside its range", c.block);
        else if (cpu > 100.0)
            report ("the block took more than 100 ms of CPU time", c.block);
        else if (c.mustBeRefused() && (++refusedChecked, after != before || target.processor.getTuning() != tuningBefore))
            report ("a block with a feature our states never have changed the parameters or the tuning", c.block);
        else if (c.mustLoad() && ! c.rootMatches && after != before)
            report ("a state under another root element changed the parameters", c.block);
        else if (c.mustLoad() && c.rootMatches
                 && target.processor.getTuning() != (c.soundTuning ? *c.soundTuning : c.hasTuning ? tuningBefore : tuning::defaultTable()))
        {
            report (c.soundTuning ? "a plain state did not load its tuning"
                    : c.hasTuning ? "a damaged tuning element changed the tuning"
                                  : "a plain state without a tuning did not bring equal temperament back",
                    c.block);
        }
        else if (c.mustLoad() && c.rootMatches)
        {
            ++loadChecked;
            for (int i = 0; i < numParameters; ++i)
                if (! closeEnough (parameterTable[i], after[(size_t) i], c.expected[(size_t) i]))
                {
                    report ((std::string ("a plain state did not load its value of ") + parameterTable[i].id).c_str(), c.block);
                    break;
                }
        }

        if (figures.blocks % 16 == 0)
        {
            ++roundTrips;
            juce::MemoryBlock saved;
            target.processor.getStateInformation (saved);
            mirror.processor.setStateInformation (saved.getData(), (int) saved.getSize());
            const auto restored = mirror.values();
            // The framework's own conversions to and from 0..1 may move the last bit or two.
            for (int i = 0; i < numParameters; ++i)
                if (std::abs (restored[(size_t) i] - after[(size_t) i]) > 1.0e-6f * (parameterTable[i].end - parameterTable[i].start))
                {
                    char what[160];
                    std::snprintf (what, sizeof (what), "a save then restore changed %s from %.9g to %.9g",
                                   parameterTable[i].id, (double) after[(size_t) i], (double) restored[(size_t) i]);
                    report (what, c.block);
                    break;
                }
            if (figures.findings == 0 && mirror.processor.getTuning() != target.processor.getTuning())
                report ("a save then restore changed the tuning", c.block);
        }

        // A scale, sometimes with a map, through the host program's file door; the plug-in then
        // plays what it gives, so the next round trip saves and restores it.
        if (figures.findings == 0 && options.replay.empty() && figures.blocks % 4 == 0)
        {
            const auto sclText = scalaText (rng);
            const auto kbmText = rng.chance (40) ? keymapText (rng) : std::string();
            scalaFile.getFile().replaceWithData (sclText.data(), sclText.size());
            keymapFile.getFile().replaceWithData (kbmText.data(), kbmText.size());
            setCurrentInput (sclText.data(), sclText.size());
            std::optional<tuning::Table> table;
            blockStarted();
            const auto fileStart = threadCpuMs();
            const auto* problem = tuningFilesDisagree (scalaFile.getFile(), kbmText.empty() ? juce::File() : keymapFile.getFile(), table);
            const auto fileCpu = threadCpuMs() - fileStart;
            blockFinished();
            ++scalaFiles;
            if (problem != nullptr || fileCpu > 100.0)
                report (problem != nullptr ? problem : "reading a Scala file took more than 100 ms of CPU time",
                        { sclText.begin(), sclText.end() });
            else if (table)
                target.processor.setTuning (*table);
        }

        // The same block through the other doors that reach the plug-in's state: after them too,
        // every value is finite and in range.
        if (figures.findings == 0)
        {
            const auto text = asBase64 (c, rng);
            blockStarted();
            const auto doorStart = threadCpuMs();
            throughLv2 (target.processor, text);
            throughStandaloneSettings (target.processor, text, rng, settingsFile);
            const auto doorCpu = threadCpuMs() - doorStart;
            blockFinished();
            ++doorBlocks;

            const auto values = target.values();
            for (int i = 0; i < numParameters; ++i)
                if (! (std::isfinite (values[(size_t) i]) && values[(size_t) i] >= parameterTable[i].start
                       && values[(size_t) i] <= parameterTable[i].end))
                {
                    report ("through the LV2 or Standalone door, a parameter left its range", c.block);
                    break;
                }

            if (doorCpu > 200.0)
                report ("the LV2 and Standalone doors took more than 200 ms of CPU time", c.block);
        }

        // The block as a whole VST3 component state through the bundle's own wrapper: the plug-in
        // inside must end up as one handed exactly the bytes a sound wrapper hands on. A replayed
        // file goes in as it is, read in small pieces and then whole.
        std::vector<ComponentInput> inputs;
        if (options.replay.empty())
            inputs.push_back (asComponentState (c, rng));
        else
            inputs = { { c.block, { true, std::nullopt, 5 } }, { c.block, {} } };

        for (const auto& in : inputs)
        {
            if (figures.findings != 0)
                break;

            setCurrentInput (in.bytes.data(), in.bytes.size());
            blockStarted();
            const auto componentStart = threadCpuMs();
            component.setState (in.bytes, in.style);
            const auto componentCpu = threadCpuMs() - componentStart;
            blockFinished();
            ++componentBlocks;

            const auto received = expectedRead (in.bytes, in.style);
            const auto handover = expectedHandover (received);
            if (handover.pluginBytes > 0)
                componentMirror.setStateInformation (received.data(), (int) handover.pluginBytes);
            bypass = handover.bypass.value_or (bypass);

            auto problem = componentDisagrees (component, componentMirror, bypass);
            if (problem == nullptr && componentBlocks % 16 == 0)
            {
                component.setState (component.getState(), {});
                problem = componentDisagrees (component, componentMirror, bypass);
            }

            if (problem != nullptr || componentCpu > 100.0)
            {
                char what[320];
                std::snprintf (what, sizeof (what), "%s (a stream of %zu bytes, %s, claiming %lld, read in pieces of %d)",
                               problem != nullptr ? problem : "the VST3 component's setState took more than 100 ms of CPU time",
                               in.bytes.size(), in.style.sizeable ? "sizeable" : "not sizeable",
                               (long long) in.style.reportedSize.value_or ((std::int64_t) in.bytes.size()), in.style.chunk);
                report (what, in.bytes);
            }
        }
        setCurrentInput (nullptr, 0);
    }

    figures.seconds = elapsed();
    for (int f = 0; f < numFeatures; ++f)
        std::printf ("  %-28s %lld blocks\n", featureNames[f], (long long) featureCounts[f]);
    std::printf ("  checked: %lld refused unchanged, %lld plain states loaded exactly, %lld save/restore round trips,\n"
                 "           %lld through the LV2 restore and the Standalone's settings file,\n"
                 "           %lld whole streams through the VST3 component's setState,\n"
                 "           %lld Scala files through the host program's reader\n",
                 (long long) refusedChecked, (long long) loadChecked, (long long) roundTrips, (long long) doorBlocks,
                 (long long) componentBlocks, (long long) scalaFiles);
    return figures;
}
} // namespace fuzz
