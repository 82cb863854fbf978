#pragma once

#include <juce_data_structures/juce_data_structures.h>

// The Standalone's settings (the plug-in's state, the audio setup, the zoom) kept in a session
// manager's folder: the same XML as the settings file in ~/.config, read and written only when the
// session manager asks.
namespace sessionSettings
{
// Where they live in a session's folder.
juce::File fileIn (const juce::File& folder);

// The folder a session manager names, made if it does not exist yet (its parent must), and checked
// to take a new file.
juce::Result prepareFolder (const juce::File& folder);

// What a settings file holds, read as the framework reads its own (damaged files give what is intact,
// a missing one nothing).
std::unique_ptr<juce::PropertySet> load (const juce::File&);

// The text a save writes.
juce::String toText (juce::PropertySet&);

// Puts text in place of the file only once it is complete: written to a temporary file beside it,
// every write, the flush to disk and the close checked, then renamed over the earlier file, which
// stays as it was on any failure.
juce::Result replaceWithText (const juce::File&, const juce::String& text);
} // namespace sessionSettings
