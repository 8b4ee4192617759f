// The presets file from anywhere: any bytes as the file that PresetStore reads.
#include "FuzzSupport.h"

#include "PresetStore.h"

namespace
{
// Relative to the user's application-data folder, apart from the processor's own presets file.
const char* const relativePath = "kto_fuzz/presets.xml";
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    auto& p = kto::fuzz::processor();
    kto::fuzz::resetParameters();

    const auto file = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory).getChildFile (relativePath);
    // A fresh folder each time: an unreadable file is kept aside as a backup when the store
    // writes, and those backups would pile up over the run.
    file.getParentDirectory().deleteRecursively();
    file.getParentDirectory().createDirectory();
    {
        // A plain write: the input itself needs no safe replacement.
        juce::FileOutputStream out (file);
        if (! out.openedOk())
            return 0;
        out.setPosition (0);
        out.truncate();
        out.write (data, size);
    }

    PresetStore store (p.getParameters(), relativePath);
    const auto names = store.getPresetNames();
    for (int i = -1; i <= names.size() + 1; ++i)
    {
        store.loadPreset (i);
        kto::fuzz::processProbeBlock();
    }
    // Writing back what was read must work from any list it accepted.
    store.savePreset ("fuzz");
    store.loadPreset (store.getNumPresets());
    store.deleteCurrentPreset();
    store.getPresetNames();
    return 0;
}
