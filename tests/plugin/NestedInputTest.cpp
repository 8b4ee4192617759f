// A host state and a presets file nested 100,000 deep, read on a thread with a small stack, as a
// host's worker thread may have: nothing crashes and nothing changes.
#include "PluginHarness.h"

#include "../support/TemporaryHome.h"
#include "../support/Waiting.h"

#include <atomic>
#include <functional>
#include <string>

using namespace ktotest;

namespace
{
constexpr int depth = 100000;

std::string nested (const char* open, const char* close)
{
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += open;
    for (int i = 0; i < depth; ++i)
        text += close;
    return text;
}

class SmallStackThread : public juce::Thread
{
public:
    explicit SmallStackThread (std::function<void()> toRun) : juce::Thread ("small stack", 512 * 1024), work (std::move (toRun)) {}
    void run() override
    {
        work();
        done = true;
    }
    std::function<void()> work;
    std::atomic<bool> done { false };
};
} // namespace

TEST (NestedInput, ADeepStateAndADeepPresetsFileChangeNothingOnASmallStack)
{
    TemporaryHome home;
    const auto file = home.folder.getChildFile (".config").getChildFile (Processor::presetsPath);
    const std::string presets = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PRESETS><preset1 mixID=\"0.9\" presetName=\"mine\"/>"
                                + nested ("<a>", "</a>") + "</PRESETS>\n";
    ASSERT_TRUE (file.getParentDirectory().createDirectory().wasOk());
    ASSERT_TRUE (file.replaceWithData (presets.data(), presets.size()));
    {
        Host host; // its presets store reads the file on this thread
        auto& proc = host.processor();
        for (auto* p : proc.getParameters())
            p->setValue (0.25f);

        juce::MemoryBlock deep;
        {
            const std::string xml = "<MYPLUGINSETTINGS>" + nested ("<x>", "</x>") + "</MYPLUGINSETTINGS>";
            juce::MemoryOutputStream out (deep, false);
            out.writeInt (0x21324356);
            out.writeInt ((int) xml.size());
            out << xml.c_str();
            out.writeByte (0);
        }
        auto info = host.unit.saveClassInfo();
        info.set (kto::host::AudioUnitStandIn::stateKey, juce::var (deep));

        juce::StringArray listed { "not read" }, read { "not read" };
        SmallStackThread reader ([&] {
            host.unit.restoreClassInfo (info);
            listed = proc.presetStore.getPresetNames();
            PresetStore store (proc.getParameters(), Processor::presetsPath);
            read = store.getPresetNames();
        });
        reader.startThread();
        ASSERT_TRUE (waitFor ("the reads on the small stack", [&] { return reader.done.load(); }));
        reader.stopThread (-1);

        EXPECT_EQ (listed, juce::StringArray());
        EXPECT_EQ (read, juce::StringArray());
        EXPECT_EQ (proc.presetStore.getNumPresets(), 0);
        for (auto* p : proc.getParameters())
            EXPECT_EQ (p->getValue(), 0.25f) << p->getName (100);
        juce::MemoryBlock after;
        ASSERT_TRUE (file.loadFileAsData (after));
        EXPECT_TRUE (after == juce::MemoryBlock (presets.data(), presets.size()));
        EXPECT_EQ (file.getParentDirectory().getNumberOfChildFiles (juce::File::findFiles), 1);
    }
}
