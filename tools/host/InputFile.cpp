#include "HostSession.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace host
{
juce::MemoryBlock readInputFile (const juce::File& file, juce::int64 maxBytes, const juce::String& kind, int exitCode)
{
    const auto path = file.getFullPathName();
    // Not blocking on a pipe that has no writer: it is refused below like any other non-file.
    const auto fd = ::open (path.toRawUTF8(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);

    if (fd < 0)
        throw HostError { "could not read " + kind + " " + path + ": " + juce::String (std::strerror (errno)), exitCode };

    const juce::ScopeGuard closer { [fd] { ::close (fd); } };
    struct stat info {};

    if (::fstat (fd, &info) != 0 || ! S_ISREG (info.st_mode))
        throw HostError { "could not read " + kind + " " + path + ": not a regular file", exitCode };

    // Read to one byte past the limit, whatever the size said: the file may grow while it is read.
    const auto tooLarge = [&] {
        const auto limit = maxBytes % (1024 * 1024) == 0 ? juce::String (maxBytes / (1024 * 1024)) + " MB"
                                                         : juce::String (maxBytes / 1024) + " KB";
        return HostError { kind + " " + path + " is larger than " + limit, exitCode };
    };

    if (info.st_size > maxBytes)
        throw tooLarge();

    juce::MemoryBlock block ((size_t) info.st_size + 1);
    size_t filled = 0;

    for (;;)
    {
        if (filled == block.getSize())
        {
            if ((juce::int64) filled > maxBytes)
                throw tooLarge();

            block.setSize (std::min ((size_t) maxBytes + 1, filled * 2), false);
        }

        const auto got = ::read (fd, static_cast<char*> (block.getData()) + filled, block.getSize() - filled);

        if (got < 0 && errno == EINTR)
            continue;

        if (got < 0)
            throw HostError { "could not read " + kind + " " + path + ": " + juce::String (std::strerror (errno)), exitCode };

        if (got == 0)
            break;

        filled += (size_t) got;
    }

    block.setSize (filled);
    return block;
}
} // namespace host
