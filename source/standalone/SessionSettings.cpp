#include "standalone/SessionSettings.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sessionSettings
{
namespace
{
juce::Result failure (const juce::String& what, int error)
{
    return juce::Result::fail (what + ": " + juce::String (std::strerror (error)));
}
} // namespace

juce::File fileIn (const juce::File& folder)
{
    return folder.getChildFile (juce::String (juce::CharPointer_UTF8 (JucePlugin_Name)) + ".settings");
}

juce::Result prepareFolder (const juce::File& folder)
{
    const auto parent = folder.getParentDirectory();
    if (! parent.isDirectory())
        return juce::Result::fail ("the session's folder " + parent.getFullPathName() + " does not exist");

    if (! folder.isDirectory() && ::mkdir (folder.getFullPathName().toRawUTF8(), 0755) != 0)
        return failure ("cannot make " + folder.getFullPathName(), errno);

    // Asking for permission says nothing of a read-only file system: try a file.
    auto probe = folder.getChildFile (".kestrune-write-test-XXXXXX").getFullPathName().toStdString();
    const int fd = ::mkstemp (probe.data());
    if (fd < 0)
        return failure ("cannot write in " + folder.getFullPathName(), errno);
    ::close (fd);
    ::unlink (probe.c_str());
    return juce::Result::ok();
}

std::unique_ptr<juce::PropertySet> load (const juce::File& file)
{
    juce::PropertiesFile::Options options;
    options.storageFormat = juce::PropertiesFile::storeAsXML;
    options.millisecondsBeforeSaving = -1;
    juce::PropertiesFile read (file, options);

    auto settings = std::make_unique<juce::PropertySet>();
    settings->addAllPropertiesFrom (read);
    return settings;
}

juce::String toText (juce::PropertySet& settings)
{
    const juce::ScopedLock lock (settings.getLock());
    const auto& all = settings.getAllProperties();

    juce::XmlElement document ("PROPERTIES");
    for (int i = 0; i < all.size(); ++i)
    {
        auto* value = document.createNewChildElement ("VALUE");
        value->setAttribute ("name", all.getAllKeys()[i]);
        value->setAttribute ("val", all.getAllValues()[i]);
    }
    return document.toString();
}

juce::Result replaceWithText (const juce::File& file, const juce::String& text)
{
    const auto folder = file.getParentDirectory();
    auto temporary = folder.getChildFile ("." + file.getFileName() + "-XXXXXX").getFullPathName().toStdString();
    int fd = ::mkstemp (temporary.data());
    if (fd < 0)
        return failure ("cannot write in " + folder.getFullPathName(), errno);

    const auto abandon = [&] (const juce::String& what)
    {
        const auto error = errno;
        if (fd >= 0)
            ::close (fd);
        ::unlink (temporary.c_str());
        return failure (what + " " + file.getFullPathName(), error);
    };

    const auto* bytes = text.toRawUTF8();
    const auto size = std::strlen (bytes);
    for (size_t done = 0; done < size;)
    {
        const auto n = ::write (fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return abandon ("cannot write");
        done += (size_t) n;
    }

    if (::fchmod (fd, 0644) != 0 || ::fsync (fd) != 0)
        return abandon ("cannot write");
    const auto closed = ::close (fd);
    fd = -1;
    if (closed != 0)
        return abandon ("cannot write");
    if (::rename (temporary.c_str(), file.getFullPathName().toRawUTF8()) != 0)
        return abandon ("cannot replace");

    // The rename itself reaches the disk with the folder.
    if (const int folderFd = ::open (folder.getFullPathName().toRawUTF8(), O_RDONLY | O_DIRECTORY); folderFd >= 0)
    {
        ::fsync (folderFd);
        ::close (folderFd);
    }
    return juce::Result::ok();
}
} // namespace sessionSettings
