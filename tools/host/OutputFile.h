#pragma once

#include "HostSession.h"

#include <vector>

namespace host
{
// A file that appears at its path only when it is complete. Everything is written to a hidden
// temporary file beside the target (the same file system, so the final rename is atomic) and
// commit() renames it into place once every write, the flush to disk and the close have succeeded.
// The temporary file is removed when the object goes away uncommitted, and by SIGINT, SIGTERM,
// SIGHUP or SIGQUIT, which then end the program as usual. One at a time: the signal handlers know a
// single pending path.
class OutputFile
{
public:
    // Throws HostError (usage) when the target exists and is not a regular file (a directory, a
    // device node) or is one of the inputs, and HostError when the temporary file cannot be made.
    OutputFile (const juce::File& target, const std::vector<juce::File>& inputs);
    ~OutputFile();

    OutputFile (const OutputFile&) = delete;
    OutputFile& operator= (const OutputFile&) = delete;

    const juce::File& target() const { return destination; }

    // The one stream to the temporary file. It may be handed on (an audio writer takes it over) but
    // must be gone before commit(); a failed write is remembered for commit() to report.
    std::unique_ptr<juce::OutputStream> createStream();

    // Throws HostError with the reason when a write has failed.
    void throwIfFailed() const;

    // Renames the finished temporary file onto the target; throws HostError when a write, the flush
    // to disk or the close failed, or the rename does, leaving the earlier file as it was.
    void commit();

private:
    class Sink;

    juce::File destination, temporary;
    int descriptor = -1;        // the temporary file's, until the stream takes it
    bool streamOpen = false;
    juce::String failure;       // the first failed write, flush or close
    bool committed = false;
};
} // namespace host
