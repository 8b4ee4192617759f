#pragma once

#include "ParameterSets.h"

#include <functional>

// The named presets: a list of parameter sets kept in memory and mirrored in one XML file
// that every instance of the plug-in shares. Presets are addressed by their 1-based position.
class PresetStore
{
public:
    // relativePath is resolved under the user's application-data folder; the file is read once.
    PresetStore (const ParameterList& processorParameters, const juce::String& relativePath);

    // Applies preset number index when there is one; records index as current in every case.
    void loadPreset (int index);

    // Appends the live values as a preset and rewrites the file. Returns false when the file
    // could not be written; the memory copy is then left as it was.
    bool savePreset (const juce::String& name);

    // Removes the current preset, the one this instance listed at that position wherever another
    // instance has moved it since, and rewrites the file. Returns false when the file could not
    // be written; the memory copy is then left as it was.
    bool deleteCurrentPreset();

    // One display name per preset, after reading the file again (the file wins over memory).
    juce::StringArray getPresetNames();

    int getCurrentIndex() const noexcept { return currentIndex; }
    int getNumPresets() const noexcept { return presets.getNumChildElements(); }
    const juce::File& getPresetFile() const noexcept { return presetFile; }

    // True when the last read found something at the file's place that it could not read; the
    // list then holds what was read before.
    bool isFileUnreadable() const noexcept { return lastRead == FileRead::unparseable || lastRead == FileRead::refused; }
    // Where the last save or delete kept an unparseable file before replacing it; a file that
    // does not exist when it kept none.
    const juce::File& getKeptAside() const noexcept { return keptAside; }

    // Files larger than this are not presets files: nothing reads or replaces them.
    static constexpr juce::int64 maxFileBytes = 16 << 20;

private:
    enum class FileRead
    {
        parsed,
        missing,
        unparseable, // a file of ours that does not parse: kept aside, then replaced
        refused      // not a regular file, too large or not readable: never replaced
    };

    FileRead readFile();
    bool rewrite (const std::function<void()>& change);
    bool writeFile (FileRead read);

    const ParameterList* parameters;
    juce::XmlElement presets { "PRESETS" };
    juce::File presetFile;
    int currentIndex = 0;
    FileRead lastRead = FileRead::missing;
    juce::File keptAside;
};
