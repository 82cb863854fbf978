#pragma once

#include "HostSession.h"

namespace host
{
// A file that appears at its path only when it is complete. Everything is written to a hidden
// temporary file beside the target (the same file system, so the final rename is atomic) and
// commit() renames it into place. The temporary file is removed when the object goes away
// uncommitted, and by SIGINT, SIGTERM, SIGHUP or SIGQUIT, which then end the program as usual.
// One at a time: the signal handlers know a single pending path.
class OutputFile
{
public:
    // Throws HostError (usage) when the target exists and is not a regular file (a directory, a
    // device node), and HostError when the temporary file cannot be made.
    explicit OutputFile (const juce::File& target);
    ~OutputFile();

    OutputFile (const OutputFile&) = delete;
    OutputFile& operator= (const OutputFile&) = delete;

    const juce::File& target() const { return destination; }

    // A stream to the temporary file; throws HostError when it cannot be opened.
    std::unique_ptr<juce::FileOutputStream> createStream() const;

    // Renames the finished temporary file onto the target; throws HostError when that fails.
    void commit();

private:
    juce::File destination, temporary;
    bool committed = false;
};
} // namespace host
