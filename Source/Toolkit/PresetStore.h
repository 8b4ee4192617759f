#pragma once

#include "ParameterSets.h"

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
    // could not be written (the memory copy keeps the new preset).
    bool savePreset (const juce::String& name);

    // Removes the current preset and rewrites the file. Returns false when the file could not
    // be written.
    bool deleteCurrentPreset();

    // One display name per preset, after reading the file again (the file wins over memory).
    juce::StringArray getPresetNames();

    int getCurrentIndex() const noexcept { return currentIndex; }
    int getNumPresets() const noexcept { return presets.getNumChildElements(); }
    const juce::File& getPresetFile() const noexcept { return presetFile; }

private:
    enum class FileRead { parsed, missing, unparseable };

    FileRead readFile();
    bool writeFile (FileRead lastRead);

    const ParameterList* parameters;
    juce::XmlElement presets { "PRESETS" };
    juce::File presetFile;
    int currentIndex = 0;
};
