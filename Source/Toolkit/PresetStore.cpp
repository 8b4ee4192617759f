#include "PresetStore.h"

#include "XmlText.h"

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
    // Another instance may have saved since this one last looked; build on the file as it is now.
    const auto lastRead = readFile();

    auto* preset = new juce::XmlElement ("preset" + juce::String (presets.getNumChildElements() + 1));
    storeParameters (*parameters, *preset);
    preset->setAttribute ("presetName", name);
    presets.addChildElement (preset);

    return writeFile (lastRead);
}

bool PresetStore::deleteCurrentPreset()
{
    // What the user chose to delete is the entry this instance listed at that position.
    std::unique_ptr<juce::XmlElement> listed;
    if (currentIndex >= 1 && currentIndex <= presets.getNumChildElements())
        if (auto* entry = presets.getChildElement (currentIndex - 1))
            listed = std::make_unique<juce::XmlElement> (*entry);

    const auto lastRead = readFile();

    // If another instance changed the list so that this position holds something else, removing
    // it would delete a preset the user never chose; remove nothing then.
    if (listed != nullptr && currentIndex <= presets.getNumChildElements())
        if (auto* entry = presets.getChildElement (currentIndex - 1))
            if (entry->isEquivalentTo (listed.get(), false))
                presets.removeChildElement (entry, true);

    return writeFile (lastRead);
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
    if (! presetFile.existsAsFile())
        return FileRead::missing;

    juce::MemoryBlock bytes;
    if (! presetFile.loadFileAsData (bytes))
        return FileRead::unparseable;

    if (auto parsed = zmk::parseStoredXml (bytes.getData(), bytes.getSize()))
    {
        presets = *parsed;
        return FileRead::parsed;
    }

    return FileRead::unparseable;
}

bool PresetStore::writeFile (FileRead lastRead)
{
    // A file that cannot be parsed may still hold the user's presets (a hand edit gone wrong);
    // keep a copy beside it before it is replaced.
    if (lastRead == FileRead::unparseable && presetFile.getSize() > 0)
    {
        auto backup = presetFile.getSiblingFile (presetFile.getFileName() + ".bak");
        if (backup.exists())
            backup = backup.getNonexistentSibling (false);

        if (! presetFile.copyFileTo (backup))
            return false;
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
