#include "PresetStore.h"
#include "../support/FullDisk.h"
#include "../support/TemporaryHome.h"
#include "TestProcessor.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

using ktotest::TestProcessor;

namespace
{

const char* const relativePath = "VorrelAudioTools/KTOstvikReverb/presets.xml";

// Each test gets its own HOME, which JUCE reads on every request for the user folders.
class PresetStoreTest : public ::testing::Test
{
protected:
    std::string bytes (const juce::File& f) const
    {
        juce::MemoryBlock block;
        f.loadFileAsData (block);
        return block.toString().toStdString();
    }

    void writeFile (const std::string& text)
    {
        ASSERT_TRUE (file.getParentDirectory().createDirectory().wasOk());
        ASSERT_TRUE (file.replaceWithData (text.data(), text.size()));
    }

    std::vector<juce::String> tags()
    {
        std::vector<juce::String> result;
        if (auto xml = juce::XmlDocument::parse (file))
            for (auto* e : xml->getChildIterator())
                result.push_back (e->getTagName());
        return result;
    }

    ktotest::TemporaryHome home;
    juce::File file = home.folder.getChildFile (".config").getChildFile (relativePath);
    TestProcessor proc;
};

const std::string header = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n";

} // namespace

TEST_F (PresetStoreTest, WritesTheFileByteForByte)
{
    PresetStore store (proc.getParameters(), relativePath);
    EXPECT_EQ (store.getPresetFile(), file);
    EXPECT_FALSE (file.getParentDirectory().exists());
    EXPECT_EQ (store.getNumPresets(), 0);

    // A save with neither folders nor file creates both.
    EXPECT_TRUE (store.savePreset ("Warm"));
    proc.params[1]->setValue (1.0f);
    proc.params[2]->setValue (0.2f);
    EXPECT_TRUE (store.savePreset ("Hall & \"more\""));
    proc.params[0]->setValue (1.0f);
    EXPECT_TRUE (store.savePreset (""));

    // Attributes wrap once a line's attributes pass 60 characters; a wrapped attribute lines up
    // with the first one.
    const std::string expected = header
        + "<PRESETS>\r\n"
          "  <preset1 bypassID=\"0\" revTypeID=\"0\" mixID=\"0.5\" gainID=\"0.5\" presetName=\"Warm\"/>\r\n"
          "  <preset2 bypassID=\"0\" revTypeID=\"1\" mixID=\"0.20000000298023223877\" gainID=\"0.5\"\r\n"
          "           presetName=\"Hall &amp; &quot;more&quot;\"/>\r\n"
          "  <preset3 bypassID=\"1\" revTypeID=\"1\" mixID=\"0.20000000298023223877\" gainID=\"0.5\"\r\n"
          "           presetName=\"\"/>\r\n"
          "</PRESETS>\r\n";
    EXPECT_EQ (bytes (file), expected);
    EXPECT_EQ (store.getPresetNames(), juce::StringArray ({ "Warm", "Hall & \"more\"", "(Unnamed preset)" }));
    EXPECT_EQ (store.getCurrentIndex(), 0);

    // Deleting everything leaves an empty root.
    for (int i = 0; i < 3; ++i)
    {
        store.loadPreset (1);
        EXPECT_TRUE (store.deleteCurrentPreset());
    }
    EXPECT_EQ (bytes (file), header + "<PRESETS/>\r\n");
    EXPECT_EQ (file.getParentDirectory().findChildFiles (juce::File::findFilesAndDirectories, false, "*").size(), 1);
}

TEST_F (PresetStoreTest, DeletingTheMiddlePresetKeepsTagsAndNumbersTheNextSave)
{
    PresetStore store (proc.getParameters(), relativePath);
    for (auto name : { "one", "two", "three" })
        ASSERT_TRUE (store.savePreset (name));

    store.loadPreset (2);
    EXPECT_TRUE (store.deleteCurrentPreset());
    EXPECT_EQ (tags(), (std::vector<juce::String> { "preset1", "preset3" }));
    EXPECT_EQ (store.getCurrentIndex(), 2);

    proc.params[3]->setValue (1.0f);
    EXPECT_TRUE (store.savePreset ("four"));
    EXPECT_EQ (tags(), (std::vector<juce::String> { "preset1", "preset3", "preset3" }));
    EXPECT_EQ (store.getPresetNames(), juce::StringArray ({ "one", "three", "four" }));

    // Presets are addressed by position: position 3 is the second preset3.
    store.loadPreset (3);
    EXPECT_FLOAT_EQ (proc.params[3]->get(), 18.0f);
    store.loadPreset (1);
    EXPECT_FLOAT_EQ (proc.params[3]->get(), 0.0f);

    // The index stays, so a second delete removes what moved into position 2... here "four".
    store.loadPreset (2);
    EXPECT_TRUE (store.deleteCurrentPreset());
    EXPECT_TRUE (store.deleteCurrentPreset());
    EXPECT_EQ (store.getPresetNames(), juce::StringArray ({ "one" }));
    EXPECT_TRUE (store.deleteCurrentPreset()); // nothing at 2: removes nothing, still writes
    EXPECT_EQ (store.getNumPresets(), 1);
}

TEST_F (PresetStoreTest, LoadingOutsideTheListChangesNothingButTheIndex)
{
    PresetStore store (proc.getParameters(), relativePath);
    ASSERT_TRUE (store.savePreset ("a"));
    proc.params[2]->setValue (0.0f);

    struct ListenerCount : juce::AudioProcessorListener
    {
        void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override { ++count; }
        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
        int count = 0;
    } listener;
    proc.addListener (&listener);

    for (int index : { 0, 2, -1 })
    {
        store.loadPreset (index);
        EXPECT_EQ (store.getCurrentIndex(), index);
        EXPECT_FLOAT_EQ (proc.params[2]->get(), 0.0f);
    }
    EXPECT_EQ (listener.count, 0);

    store.loadPreset (1);
    EXPECT_FLOAT_EQ (proc.params[2]->get(), 50.0f);
    EXPECT_EQ (listener.count, 4);
    proc.removeListener (&listener);

    store.loadPreset (0);
    EXPECT_TRUE (store.deleteCurrentPreset());
    EXPECT_EQ (store.getNumPresets(), 1);
}

TEST_F (PresetStoreTest, KeepsAForeignRootTagWhenRewriting)
{
    writeFile ("<?xml version=\"1.0\"?>\n<MyList owner=\"me\">\n<x presetName=\"old\" mixID=\"1\" extra=\"7\"/>\n</MyList>\n");
    PresetStore store (proc.getParameters(), relativePath);
    EXPECT_EQ (store.getNumPresets(), 1);

    store.loadPreset (1);
    EXPECT_FLOAT_EQ (proc.params[2]->get(), 100.0f);
    ASSERT_TRUE (store.savePreset ("new"));

    EXPECT_EQ (bytes (file), header
        + "<MyList owner=\"me\">\r\n"
          "  <x presetName=\"old\" mixID=\"1\" extra=\"7\"/>\r\n"
          "  <preset2 bypassID=\"0\" revTypeID=\"0\" mixID=\"1\" gainID=\"0.5\" presetName=\"new\"/>\r\n"
          "</MyList>\r\n");
}

TEST_F (PresetStoreTest, AFileWithCommentsAndInstructionsKeepsItsPresets)
{
    writeFile ("<?xml version=\"1.0\"?>\n<?xml-stylesheet href=\"p.xsl\"?>\n<!-- R&B -->\n"
               "<PRESETS><preset1 mixID=\"0.3\" presetName=\"mine\"/></PRESETS>\n");
    PresetStore store (proc.getParameters(), relativePath);
    EXPECT_EQ (store.getPresetNames(), juce::StringArray ({ "mine" }));
    ASSERT_TRUE (store.savePreset ("new"));
    EXPECT_EQ (store.getPresetNames(), juce::StringArray ({ "mine", "new" }));
    EXPECT_FALSE (file.getSiblingFile ("presets.xml.bak").exists());
}

TEST_F (PresetStoreTest, KeepsACopyOfAnUnparseableFileBeforeRewritingIt)
{
    const std::string broken = "<PRESETS>\n  <preset1 mixID=\"0.3\" presetName=\"precious\"/>\n  <preset2 mixID=";
    writeFile (broken);
    PresetStore store (proc.getParameters(), relativePath);
    EXPECT_EQ (store.getNumPresets(), 0);
    EXPECT_EQ (store.getPresetNames().size(), 0);
    EXPECT_EQ (bytes (file), broken); // reading never touches it

    ASSERT_TRUE (store.savePreset ("fresh"));
    const auto backup = file.getSiblingFile ("presets.xml.bak");
    EXPECT_EQ (bytes (backup), broken);
    EXPECT_EQ (store.getPresetNames(), juce::StringArray ({ "fresh" }));

    // A parseable file needs no copy.
    ASSERT_TRUE (store.savePreset ("again"));
    EXPECT_EQ (file.getParentDirectory().getNumberOfChildFiles (juce::File::findFiles), 2);

    // A second broken file does not replace the first copy.
    writeFile ("not xml at all");
    ASSERT_TRUE (store.savePreset ("third"));
    EXPECT_EQ (bytes (backup), broken);
    const auto copies = file.getParentDirectory().findChildFiles (juce::File::findFiles, false, "*.bak");
    ASSERT_EQ (copies.size(), 2);
    for (const auto& c : copies)
    {
        if (c == backup)
            continue;
        EXPECT_EQ (bytes (c), "not xml at all");
    }
    // The memory copy survived the broken file.
    EXPECT_EQ (store.getPresetNames(), juce::StringArray ({ "fresh", "again", "third" }));

    // Deleting over a broken file keeps a copy too.
    writeFile ("<PRESETS><");
    store.loadPreset (1);
    ASSERT_TRUE (store.deleteCurrentPreset());
    EXPECT_EQ (file.getParentDirectory().findChildFiles (juce::File::findFiles, false, "*.bak").size(), 3);
    EXPECT_EQ (store.getPresetNames(), juce::StringArray ({ "again", "third" }));
}

TEST_F (PresetStoreTest, TwoInstancesOnOneFileKeepEachOthersPresets)
{
    PresetStore a (proc.getParameters(), relativePath);
    PresetStore b (proc.getParameters(), relativePath);

    ASSERT_TRUE (a.savePreset ("from a"));
    ASSERT_TRUE (b.savePreset ("from b")); // b never listed a's preset
    ASSERT_TRUE (a.savePreset ("a again"));
    EXPECT_EQ (tags(), (std::vector<juce::String> { "preset1", "preset2", "preset3" }));
    EXPECT_EQ (b.getPresetNames(), juce::StringArray ({ "from a", "from b", "a again" }));

    // a lists the three and selects "from b"; b deletes "from a" meanwhile.
    EXPECT_EQ (a.getPresetNames().size(), 3);
    a.loadPreset (2);
    b.loadPreset (1);
    ASSERT_TRUE (b.deleteCurrentPreset());
    EXPECT_EQ (b.getPresetNames(), juce::StringArray ({ "from b", "a again" }));

    // Position 2 now holds "a again"; a's delete removes "from b", the preset it chose, wherever
    // it went.
    ASSERT_TRUE (a.deleteCurrentPreset());
    EXPECT_EQ (b.getPresetNames(), juce::StringArray ({ "a again" }));

    // A preset that another instance deleted meanwhile takes nothing else with it.
    EXPECT_EQ (a.getPresetNames().size(), 1);
    a.loadPreset (1);
    b.loadPreset (1);
    ASSERT_TRUE (b.deleteCurrentPreset());
    ASSERT_TRUE (b.savePreset ("b new"));
    ASSERT_TRUE (a.deleteCurrentPreset());
    EXPECT_EQ (b.getPresetNames(), juce::StringArray ({ "b new" }));
}

TEST_F (PresetStoreTest, SavesFromTwoProcessesAtOnceAreAllKept)
{
    constexpr int each = 40;
    const pid_t child = fork();
    ASSERT_GE (child, 0);
    if (child == 0)
    {
        PresetStore store (proc.getParameters(), relativePath);
        bool ok = true;
        for (int i = 0; i < each; ++i)
            ok = store.savePreset ("child " + juce::String (i)) && ok;
        std::_Exit (ok ? 0 : 1);
    }
    PresetStore store (proc.getParameters(), relativePath);
    for (int i = 0; i < each; ++i)
        EXPECT_TRUE (store.savePreset ("parent " + juce::String (i)));
    int status = 0;
    ASSERT_EQ (waitpid (child, &status, 0), child);
    EXPECT_TRUE (WIFEXITED (status) && WEXITSTATUS (status) == 0);
    const auto names = store.getPresetNames();
    EXPECT_EQ (names.size(), 2 * each);
    for (const char* who : { "child ", "parent " })
        for (int i = 0; i < each; ++i)
            EXPECT_TRUE (names.contains (who + juce::String (i))) << who << i;
}

TEST_F (PresetStoreTest, ReportsAFileThatCannotBeWritten)
{
    // The application folder's path is taken by a plain file: no folder can be made.
    ASSERT_TRUE (home.folder.getChildFile (".config").createDirectory().wasOk());
    ASSERT_TRUE (home.folder.getChildFile (".config/VorrelAudioTools").replaceWithText ("in the way"));

    PresetStore store (proc.getParameters(), relativePath);
    EXPECT_FALSE (store.savePreset ("lost?"));
    // Nothing that was not saved lists as saved.
    EXPECT_EQ (store.getNumPresets(), 0);
    EXPECT_TRUE (store.getPresetNames().isEmpty());

    // On a full disk a delete fails, and the preset stays in the file and in memory.
    ASSERT_TRUE (home.folder.getChildFile (".config/VorrelAudioTools").deleteFile());
    ASSERT_TRUE (store.savePreset ("kept"));
    store.loadPreset (1);
    {
        ktotest::FullDisk full;
        EXPECT_FALSE (store.deleteCurrentPreset());
    }
    EXPECT_EQ (store.getNumPresets(), 1);
    EXPECT_EQ (store.getPresetNames(), juce::StringArray ({ "kept" }));
}

TEST_F (PresetStoreTest, WhatIsNoPresetsFileIsNeitherReadNorReplaced)
{
    const std::string small = "<PRESETS><preset1 presetName=\"kept\"/></PRESETS>";
    const struct
    {
        const char* what;
        std::function<void()> make;
        std::function<bool()> unchanged;
    } cases[] = {
        { "a folder with content", [&] { ASSERT_TRUE (file.getChildFile ("inside").create().wasOk()); },
          [&] { return file.isDirectory(); } },
        { "a FIFO, whose reader would wait for a writer for ever",
          [&] { ASSERT_TRUE (file.getParentDirectory().createDirectory().wasOk());
                ASSERT_EQ (mkfifo (file.getFullPathName().toRawUTF8(), 0600), 0); },
          [&] { struct stat st {}; return stat (file.getFullPathName().toRawUTF8(), &st) == 0 && S_ISFIFO (st.st_mode); } },
        { "a file beyond 16 MiB (a small document, then zeros)",
          [&] { writeFile (small); ASSERT_EQ (truncate (file.getFullPathName().toRawUTF8(), (16 << 20) + 1), 0); },
          [&] { return file.getSize() == (16 << 20) + 1 && bytes (file).substr (0, small.size()) == small; } },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        file.getParentDirectory().deleteRecursively();
        c.make();
        PresetStore store (proc.getParameters(), relativePath);
        EXPECT_TRUE (store.getPresetNames().isEmpty());
        EXPECT_TRUE (store.isFileUnreadable());
        EXPECT_FALSE (store.savePreset ("x"));
        EXPECT_EQ (store.getNumPresets(), 0);
        EXPECT_TRUE (c.unchanged());
        EXPECT_FALSE (file.getSiblingFile ("presets.xml.bak").exists());
    }
}

TEST_F (PresetStoreTest, NamesThatXmlCannotHoldCostNoPreset)
{
    // Pasted into the dialog, a control character reaches the name; it is stored as a space.
    PresetStore a (proc.getParameters(), relativePath);
    ASSERT_TRUE (a.savePreset ("Vocal room"));
    ASSERT_TRUE (a.savePreset ("a" + juce::String::charToString (1) + "b"));
    PresetStore b (proc.getParameters(), relativePath);
    EXPECT_EQ (b.getPresetNames(), juce::StringArray ({ "Vocal room", "a b" }));

    // What earlier versions wrote for it reads as U+FFFD, and the other presets stay.
    writeFile (header + "<PRESETS>\r\n  <preset1 presetName=\"Vocal room\"/>\r\n  <preset2 presetName=\"a&#1;b\"/>\r\n</PRESETS>\r\n");
    EXPECT_EQ (b.getPresetNames(), juce::StringArray ("Vocal room", "a" + juce::String::charToString (0xfffd) + "b"));
    EXPECT_FALSE (b.isFileUnreadable());
}
