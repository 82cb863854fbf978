#include "OutputFile.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

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

// Writes straight to the file descriptor, checking every write, and flushes to disk and closes it
// when it goes away; the first failure is left with the OutputFile for commit() to report.
class OutputFile::Sink final : public juce::OutputStream
{
public:
    Sink (OutputFile& file) : owner (file), fd (std::exchange (file.descriptor, -1)) { owner.streamOpen = true; }

    ~Sink() override
    {
        if (::fsync (fd) != 0)
            fail ("could not flush");

        if (::close (fd) != 0)
            fail ("could not close");

        owner.streamOpen = false;
    }

    void flush() override {}   // nothing is held back here

    juce::int64 getPosition() override { return position; }

    bool setPosition (juce::int64 newPosition) override
    {
        if (! owner.failure.isEmpty() || ::lseek (fd, (off_t) newPosition, SEEK_SET) < 0)
            return fail ("could not seek in");

        position = newPosition;
        return true;
    }

    bool write (const void* data, size_t numBytes) override
    {
        for (auto* bytes = static_cast<const char*> (data); numBytes > 0;)
        {
            if (! owner.failure.isEmpty())
                return false;

            const auto written = ::write (fd, bytes, numBytes);

            if (written < 0 && errno == EINTR)
                continue;

            if (written <= 0)
                return fail ("could not write");

            bytes += written;
            numBytes -= (size_t) written;
            position += written;
        }

        return true;
    }

private:
    OutputFile& owner;
    const int fd;
    juce::int64 position = 0;

    bool fail (const char* what)
    {
        if (owner.failure.isEmpty())
            owner.failure = juce::String (what) + " " + owner.destination.getFullPathName() + ": " + systemError();

        return false;
    }
};

OutputFile::OutputFile (const juce::File& target, const std::vector<juce::File>& inputs) : destination (target)
{
    struct stat info {};

    if (::stat (target.getFullPathName().toRawUTF8(), &info) == 0)
    {
        if (S_ISDIR (info.st_mode))
            throw HostError { target.getFullPathName() + " is a directory; give a file name", exitUsage };

        if (! S_ISREG (info.st_mode))
            throw HostError { target.getFullPathName() + " exists and is not a regular file", exitUsage };

        // The same file under any name or link: replacing it would destroy what is being read.
        for (const auto& input : inputs)
        {
            struct stat inputInfo {};

            if (::stat (input.getFullPathName().toRawUTF8(), &inputInfo) == 0 && inputInfo.st_dev == info.st_dev
                && inputInfo.st_ino == info.st_ino)
                throw HostError { target.getFullPathName() + " is also an input; write to another file", exitUsage };
        }

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
    descriptor = fd;
    ::fchmod (fd, modeForNewFile (destination));
}

OutputFile::~OutputFile()
{
    if (descriptor >= 0)
        ::close (descriptor);

    if (! committed && temporary != juce::File())
    {
        havePending = 0;
        ::unlink (temporary.getFullPathName().toRawUTF8());
    }
}

std::unique_ptr<juce::OutputStream> OutputFile::createStream()
{
    jassert (descriptor >= 0);   // one stream per file
    return std::make_unique<Sink> (*this);
}

void OutputFile::throwIfFailed() const
{
    if (failure.isNotEmpty())
        throw HostError { failure };
}

void OutputFile::commit()
{
    throwIfFailed();

    // The stream flushes to disk and closes when it goes away: it must be gone before this.
    jassert (descriptor < 0 && ! streamOpen);
    if (descriptor >= 0 || streamOpen)
        throw HostError { "could not finish " + destination.getFullPathName() };

    if (::rename (temporary.getFullPathName().toRawUTF8(), destination.getFullPathName().toRawUTF8()) != 0)
        throw HostError { "could not move the finished file to " + destination.getFullPathName() + ": " + systemError() };

    havePending = 0;
    committed = true;
}
} // namespace host
