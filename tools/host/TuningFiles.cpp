#include "HostSession.h"

namespace host
{
namespace
{
std::string textOf (const juce::File& file, const juce::String& kind)
{
    const auto block = readInputFile (file, (juce::int64) tuning::maxFileBytes, kind, exitUsage);
    return { static_cast<const char*> (block.getData()), block.getSize() };
}

HostError fault (const juce::String& where, const std::string& error)
{
    return { where + ": " + juce::String::fromUTF8 (error.data(), (int) error.size()), exitUsage };
}
} // namespace

tuning::Table readTuningFiles (const juce::File& scl, const juce::File& kbm)
{
    const auto scale = tuning::parseScale (textOf (scl, "scale file"));
    if (! scale.ok())
        throw fault (scl.getFullPathName(), scale.error);

    auto map = tuning::linearMap();
    if (kbm != juce::File())
    {
        const auto parsed = tuning::parseKeyboardMap (textOf (kbm, "keyboard map"));
        if (! parsed.ok())
            throw fault (kbm.getFullPathName(), parsed.error);
        map = parsed.value;
    }

    // Named as the editor names what it loads.
    auto name = scl.getFileNameWithoutExtension();
    if (kbm != juce::File())
        name << " / " << kbm.getFileNameWithoutExtension();

    const auto table = tuning::buildTable (scale.value, map, name.toStdString());
    if (! table.ok())
        throw fault (scl.getFullPathName() + (kbm != juce::File() ? " with " + kbm.getFullPathName() : juce::String()),
                     table.error);
    return table.value;
}
} // namespace host
