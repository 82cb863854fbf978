#include "OutputFile.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace host
{
namespace
{
// The path the signal handler removes; written only while no handler can run on it half-written
// (pendingPath is set before havePending, and havePending cleared before the path changes).
char pendingPath[PATH_MAX + 1];
volatile std::sig_atomic_t havePending = 0;

constexpr int cleanedSignals[] { SIGINT, SIGTERM, SIGHUP, SIGQUIT };

extern "C" void removePendingAndDie (int signalNumber)
{
    if (havePending != 0)
        ::unlink (pendingPath);

    // End the way the signal would have ended us, so the caller sees the real cause.
    std::signal (signalNumber, SIG_DFL);
    std::raise (signalNumber);
}

void installHandlers()
{
    static const bool installed = []
    {
        struct sigaction action {};
        action.sa_handler = removePendingAndDie;
        sigemptyset (&action.sa_mask);

        for (auto s : cleanedSignals)
            sigaddset (&action.sa_mask, s);   // no second handler while the first one unlinks

        for (auto s : cleanedSignals)
            sigaction (s, &action, nullptr);

        return true;
    }();
    juce::ignoreUnused (installed);
}

juce::String systemError() { return std::strerror (errno); }

mode_t modeForNewFile (const juce::File& target)
{
    struct stat info {};

    if (::stat (target.getFullPathName().toRawUTF8(), &info) == 0)
        return info.st_mode & 07777;   // replacing a file keeps its permissions

    const auto mask = ::umask (0);
    ::umask (mask);
    return 0666 & ~mask;
}
} // namespace

OutputFile::OutputFile (const juce::File& target) : destination (target)
{
    struct stat info {};

    if (::stat (target.getFullPathName().toRawUTF8(), &info) == 0)
    {
        if (S_ISDIR (info.st_mode))
            throw HostError { target.getFullPathName() + " is a directory; give a file name", exitUsage };

        if (! S_ISREG (info.st_mode))
            throw HostError { target.getFullPathName() + " exists and is not a regular file", exitUsage };

        // Write through a symbolic link rather than replacing the link itself.
        char resolved[PATH_MAX];
        if (::realpath (target.getFullPathName().toRawUTF8(), resolved) != nullptr)
            destination = juce::File (juce::String::fromUTF8 (resolved));
    }

    installHandlers();
    auto pattern = destination.getSiblingFile ("." + destination.getFileName() + ".XXXXXX").getFullPathName();

    if ((size_t) pattern.getNumBytesAsUTF8() > PATH_MAX)
        throw HostError { "the path " + destination.getFullPathName() + " is too long" };

    // The handler may remove the path from the moment mkstemp creates it.
    std::strcpy (pendingPath, pattern.toRawUTF8());
    havePending = 1;
    const auto fd = ::mkstemp (pendingPath);

    if (fd < 0)
    {
        havePending = 0;
        throw HostError { "could not write in " + destination.getParentDirectory().getFullPathName() + ": "
                          + systemError() };
    }

    temporary = juce::File (juce::String::fromUTF8 (pendingPath));
    ::fchmod (fd, modeForNewFile (destination));
    ::close (fd);
}

OutputFile::~OutputFile()
{
    if (! committed && temporary != juce::File())
    {
        havePending = 0;
        ::unlink (temporary.getFullPathName().toRawUTF8());
    }
}

std::unique_ptr<juce::FileOutputStream> OutputFile::createStream() const
{
    auto stream = std::make_unique<juce::FileOutputStream> (temporary);

    if (! stream->openedOk())
        throw HostError { "could not write " + temporary.getFullPathName() + ": " + stream->getStatus().getErrorMessage() };

    return stream;
}

void OutputFile::commit()
{
    if (::rename (temporary.getFullPathName().toRawUTF8(), destination.getFullPathName().toRawUTF8()) != 0)
        throw HostError { "could not move the finished file to " + destination.getFullPathName() + ": " + systemError() };

    havePending = 0;
    committed = true;
}
} // namespace host
