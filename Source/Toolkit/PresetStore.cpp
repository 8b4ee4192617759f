#include "PresetStore.h"

#include "XmlText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace
{
// A save waits this long for another instance's save or delete to finish, then gives up.
constexpr int turnTimeoutMs = 3000;

enum class Contents
{
    read,
    missing,
    refused
};

// Only a regular file of at most maxFileBytes is read: a FIFO would block until someone writes
// to it, and a huge file would freeze the editor or run out of memory. The file is opened first
// and then examined, so it cannot be swapped for something else in between.
Contents readRegularFile (const juce::File& file, juce::MemoryBlock& bytes)
{
    const int fd = ::open (file.getFullPathName().toRawUTF8(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? Contents::missing : Contents::refused;

    auto result = Contents::refused;
    struct stat st {};
    if (::fstat (fd, &st) == 0 && S_ISREG (st.st_mode) && st.st_size <= PresetStore::maxFileBytes)
    {
        bytes.setSize ((size_t) st.st_size);
        size_t done = 0;
        result = Contents::read;
        while (done < bytes.getSize())
        {
            const auto n = ::read (fd, static_cast<char*> (bytes.getData()) + done, bytes.getSize() - done);
            if (n < 0 && errno == EINTR)
                continue;
            // A read error leaves the file alone, as one that cannot be opened.
            if (n < 0)
                result = Contents::refused;
            if (n <= 0)
                break;
            done += (size_t) n;
        }
        bytes.setSize (done);
    }
    ::close (fd);
    return result;
}
} // namespace

PresetStore::PresetStore (const ParameterList& processorParameters, const juce::String& relativePath)
    : parameters (&processorParameters),
      presetFile (juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory).getChildFile (relativePath))
{
    readFile();
}

void PresetStore::loadPreset (int index)
{
    if (index >= 1 && index <= presets.getNumChildElements())
        if (auto* preset = presets.getChildElement (index - 1))
            applyParameters (*parameters, *preset, HostNotification::notify);

    currentIndex = index;
}

bool PresetStore::savePreset (const juce::String& name)
{
    return rewrite ([&] {
        auto* preset = new juce::XmlElement ("preset" + juce::String (presets.getNumChildElements() + 1));
        storeParameters (*parameters, *preset);
        preset->setAttribute ("presetName", zmk::withXmlCharactersOnly (name));
        presets.addChildElement (preset);
    });
}

bool PresetStore::deleteCurrentPreset()
{
    // What the user chose to delete is the entry this instance listed at that position.
    std::unique_ptr<juce::XmlElement> chosen;
    if (currentIndex >= 1 && currentIndex <= presets.getNumChildElements())
        if (auto* entry = presets.getChildElement (currentIndex - 1))
            chosen = std::make_unique<juce::XmlElement> (*entry);

    return rewrite ([&] {
        if (chosen == nullptr)
            return;
        // Another instance may have moved it, by deleting one before it, or deleted it: it is
        // found by its tag, name and values, preferably where it was listed.
        auto* entry = presets.getChildElement (currentIndex - 1);
        if (entry == nullptr || ! entry->isEquivalentTo (chosen.get(), false))
            for (entry = presets.getFirstChildElement(); entry != nullptr; entry = entry->getNextElement())
                if (entry->isEquivalentTo (chosen.get(), false))
                    break;
        if (entry != nullptr)
            presets.removeChildElement (entry, true);
    });
}

juce::StringArray PresetStore::getPresetNames()
{
    readFile();

    juce::StringArray names;
    for (auto* preset = presets.getFirstChildElement(); preset != nullptr; preset = preset->getNextElement())
    {
        const auto name = preset->getStringAttribute ("presetName");
        names.add (name.isEmpty() ? juce::String ("(Unnamed preset)") : name);
    }
    return names;
}

PresetStore::FileRead PresetStore::readFile()
{
    juce::MemoryBlock bytes;
    switch (readRegularFile (presetFile, bytes))
    {
        case Contents::missing:
            return lastRead = FileRead::missing;
        case Contents::refused:
            return lastRead = FileRead::refused;
        case Contents::read:
            break;
    }

    if (auto parsed = zmk::parseStoredXml (bytes.getData(), bytes.getSize()))
    {
        presets = *parsed;
        return lastRead = FileRead::parsed;
    }
    return lastRead = FileRead::unparseable;
}

bool PresetStore::rewrite (const std::function<void()>& change)
{
    keptAside = juce::File();

    // Instances in other processes change the same file: each reads it, changes it and writes it
    // back, and two doing so at once would lose one change. They take turns, by a lock of the
    // user's (JUCE keeps it as a file in /var/tmp, which all users share).
    juce::InterProcessLock turn ("VorrelKTOstvikReverb-presets-" + juce::String ((int) ::getuid()));
    if (! turn.enter (turnTimeoutMs))
        return false;

    // Another instance may have saved since this one last looked; build on the file as it is now.
    const auto read = readFile();
    if (read == FileRead::refused)
        return false;

    const juce::XmlElement before (presets);
    change();
    if (writeFile (read))
        return true;
    presets = before;
    return false;
}

bool PresetStore::writeFile (FileRead read)
{
    // A file that cannot be parsed may still hold the user's presets (a hand edit gone wrong);
    // keep a copy beside it before it is replaced.
    if (read == FileRead::unparseable && presetFile.getSize() > 0)
    {
        auto backup = presetFile.getSiblingFile (presetFile.getFileName() + ".bak");
        if (backup.exists())
            backup = backup.getNonexistentSibling (false);

        if (! presetFile.copyFileTo (backup))
            return false;
        keptAside = backup;
    }

    if (! presetFile.getParentDirectory().createDirectory().wasOk())
        return false;

    // Written to a temporary file that is then moved over the target, so a failed write
    // leaves the previous file whole.
    juce::XmlElement::TextFormat format;
    format.customEncoding = "UTF-8";
    format.lineWrapLength = 60;
    return presets.writeTo (presetFile, format);
}
