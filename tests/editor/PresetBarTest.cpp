// The preset bar in the open editor: the save dialog, the list read from the file, delete, A/B,
// and what survives closing the editor.
#include "EditorHarness.h"
#include "FullDisk.h"

#include <functional>

using namespace ktotest;

namespace
{
struct PresetBar : EditorFixture
{
    using Act = std::function<void (juce::AlertWindow&)>;

    PresetStore& store() { return processor->presetStore; }
    juce::ComboBox& box() { return child<juce::ComboBox> ("PresetBoxID"); }

    static juce::AlertWindow* modalDialog (const juce::String& title)
    {
        auto* d = dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent());
        return d != nullptr && d->getName() == title ? d : nullptr;
    }

    // Presses Save and, once the dialog's loop runs and has handled what its building posted,
    // acts on the dialog.
    void saveWith (Act act)
    {
        bool acted = false;
        juce::MessageManager::callAsync ([&] {
            juce::MessageManager::callAsync ([&] {
                if (auto* d = modalDialog ("Save preset..."))
                {
                    act (*d);
                    acted = true;
                }
            });
        });
        mouse.click (child ("Save"));
        EXPECT_TRUE (acted);
    }

    // Opens the list with a click; returns the open menu.
    juce::Component& openList()
    {
        EXPECT_TRUE (waitFor ([&] { return ! box().isPopupActive(); }));
        mouse.click (box());
        EXPECT_TRUE (waitFor ([] { return juce::Component::getCurrentlyModalComponent() != nullptr; }));
        return *juce::Component::getCurrentlyModalComponent();
    }

    juce::StringArray listed()
    {
        juce::StringArray items;
        for (juce::PopupMenu::MenuItemIterator it (*box().getRootMenu()); it.next();)
            items.add (it.getItem().text + (it.getItem().isEnabled ? "" : " (disabled)"));
        return items;
    }

    void choose (int position)
    {
        auto& menu = openList();
        for (int i = 0; i < position; ++i)
            Pointer::key (menu, juce::KeyPress::downKey);
        Pointer::key (menu, juce::KeyPress::returnKey);
        EXPECT_TRUE (waitFor ([&] { return store().getCurrentIndex() == position; }));
    }
};

PresetBar::Act clickOk = [] (juce::AlertWindow& d) { Pointer().click (*find (d, "OK")); };
// Types as soon as the dialog has the keyboard focus, wherever the dialog put it.
PresetBar::Act typeAndReturn (const juce::String& name)
{
    return [name] (juce::AlertWindow& d) {
        ASSERT_TRUE (waitFor ([&] { return d.hasKeyboardFocus (true); }));
        Pointer::type (d, name);
        Pointer::key (d, juce::KeyPress::returnKey);
    };
}
PresetBar::Act renameAndReturn (const juce::String& name)
{
    return [name] (juce::AlertWindow& d) {
        ASSERT_TRUE (focusByClicking (*d.getTextEditor ("presetEditorID")));
        Pointer::key (d, 'a', juce::ModifierKeys::ctrlModifier);
        Pointer::key (d, juce::KeyPress::backspaceKey);
        Pointer::type (d, name);
        Pointer::key (d, juce::KeyPress::returnKey);
    };
}

TEST_F (PresetBar, DialogSavesOnOkOrReturnOnlyUnderTheNameTyped)
{
    struct Case
    {
        const char* what;
        Act act;
        const char* listedAs; // nullptr: nothing saved
    };
    const Case cases[] = {
        { "OK, name untouched", clickOk, "Enter preset name" },
        { "Return after typing", renameAndReturn ("Hall"), "Hall" },
        { "Return after typing at once", typeAndReturn ("Plate"), "Plate" },
        { "Escape", [] (juce::AlertWindow& d) { Pointer::key (d, juce::KeyPress::escapeKey); }, nullptr },
        { "Cancel", [] (juce::AlertWindow& d) { Pointer().click (*find (d, "Cancel")); }, nullptr },
        { "empty name", renameAndReturn (""), "(Unnamed preset)" },
    };
    juce::StringArray expected;
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        log.events.clear();
        saveWith (c.act);
        if (c.listedAs != nullptr)
        {
            expected.add (c.listedAs);
            // Selected and loaded, with the host told of every parameter.
            EXPECT_TRUE (waitFor ([&] { return store().getCurrentIndex() == expected.size() && log.events.size() == 4; }));
            EXPECT_EQ (box().getText(), c.listedAs);
        }
        EXPECT_EQ (store().getPresetNames(), expected);
        EXPECT_EQ (box().getNumItems(), expected.size());
    }
}

TEST_F (PresetBar, ListIsReadFromTheFileAtEveryOpeningAndDeleteRemovesTheSelectedPreset)
{
    Pointer::key (openList(), juce::KeyPress::escapeKey);
    EXPECT_EQ (listed(), juce::StringArray ("No presets (disabled)"));
    ASSERT_TRUE (waitFor ([] { return juce::Component::getCurrentlyModalComponent() == nullptr; }));

    // Another instance saves; this one's list shows it at the next opening, and choosing loads it.
    std::unique_ptr<Processor> other (dynamic_cast<Processor*> (createPluginFilter()));
    other->getParameters()[2]->setValue (0.25f);
    ASSERT_TRUE (other->presetStore.savePreset ("Other"));
    param (2).setValue (0.75f);
    choose (1);
    EXPECT_EQ (listed(), juce::StringArray ("Other"));
    EXPECT_EQ (box().getText(), "Other");
    EXPECT_EQ (param (2).getValue(), 0.25f);
    EXPECT_EQ (log.kinds (2), "v");

    mouse.click (child ("Delete"));
    EXPECT_TRUE (waitFor ([&] { return store().getCurrentIndex() == 0; }));
    EXPECT_EQ (box().getSelectedId(), 0);
    EXPECT_TRUE (store().getPresetNames().isEmpty());
    EXPECT_EQ (juce::parseXML (presetsFile())->getNumChildElements(), 0);
}

TEST_F (PresetBar, AbSwapsWithTheSlotAndCopyFillsIt)
{
    struct Step
    {
        const char* button; // nullptr: the host sets Mix
        float mix;          // set by the host, or expected after the press
    };
    const Step steps[] = { { "A-B", 0.5f }, { "A-B", 0.5f }, { nullptr, 0.25f }, { "Copy", 0.25f },
                           { nullptr, 0.75f }, { "A-B", 0.25f }, { "A-B", 0.75f } };
    for (const auto& s : steps)
    {
        log.events.clear();
        if (s.button == nullptr)
        {
            param (2).setValue (s.mix);
            continue;
        }
        SCOPED_TRACE (s.button);
        mouse.click (child (s.button));
        EXPECT_EQ (param (2).getValue(), s.mix);
        EXPECT_EQ (log.events.size(), juce::String (s.button) == "A-B" ? 4u : 0u);
    }
}

TEST_F (PresetBar, ReopeningTheEditorKeepsTheListTheSelectionAndTheSlot)
{
    saveWith (renameAndReturn ("One"));
    saveWith (renameAndReturn ("Two"));
    ASSERT_TRUE (waitFor ([&] { return store().getCurrentIndex() == 2; }));
    param (2).setValue (0.25f);
    mouse.click (child ("A-B"));
    const auto slot = processor->abState.storedSet.toString();

    close();
    log.events.clear();
    open();
    EXPECT_EQ (box().getText(), "Two");
    EXPECT_EQ (box().getNumItems(), 2);
    EXPECT_EQ (store().getCurrentIndex(), 2);
    EXPECT_EQ (processor->abState.storedSet.toString(), slot);
    ASSERT_TRUE (waitTicks (3));
    EXPECT_TRUE (log.events.empty());
}

TEST_F (PresetBar, DialogLeftOpenWhenTheEditorOrThePlugInGoesSavesNothing)
{
    struct Case
    {
        const char* what;
        std::function<void()> whileOpen;
    };
    const Case cases[] = {
        { "editor closed", [this] { close(); } },
        { "editor closed, plug-in destroyed", [this] { close(); processor->removeListener (&log); processor.reset(); } },
        { "application quitting", [] { juce::ModalComponentManager::getInstance()->cancelAllModalComponents(); } },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        if (processor == nullptr)
        {
            processor.reset (dynamic_cast<Processor*> (createPluginFilter()));
            processor->addListener (&log);
        }
        if (editor == nullptr)
            open();
        saveWith ([&] (juce::AlertWindow&) { c.whileOpen(); });
        EXPECT_TRUE (waitFor ([] { return juce::Component::getCurrentlyModalComponent() == nullptr; }));
        EXPECT_FALSE (presetsFile().exists());
    }
}

TEST_F (PresetBar, FailedSaveOrDeleteChangesNothingAndSaysWhereItCouldNotWrite)
{
    ASSERT_TRUE (store().savePreset ("Old"));
    const struct
    {
        const char* alert;
        std::function<void()> act;
        const char* shown; // the box's text afterwards; empty with nothing selected
    } cases[] = {
        { "Preset not saved", [this] { saveWith (clickOk); }, "Old" },
        { "Preset not deleted", [this] { mouse.click (child ("Delete")); }, "" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.alert);
        choose (1);
        param (2).setValue (0.75f);
        log.events.clear();
        const auto before = presetsFile().loadFileAsString();
        {
            FullDisk full;
            c.act();
        }

        ASSERT_TRUE (waitFor ([&] { return modalDialog (c.alert) != nullptr; }));
        auto* alert = modalDialog (c.alert);
        EXPECT_TRUE (alert->getDescription().contains (presetsFile().getFullPathName())) << alert->getDescription();
        Pointer::key (*alert, juce::KeyPress::returnKey);
        ASSERT_TRUE (waitFor ([] { return juce::Component::getCurrentlyModalComponent() == nullptr; }));

        EXPECT_EQ (presetsFile().loadFileAsString(), before);
        EXPECT_EQ (listed(), juce::StringArray ("Old"));
        EXPECT_TRUE (waitFor ([&] { return box().getText() == c.shown; }));
        EXPECT_EQ (param (2).getValue(), 0.75f);
        ASSERT_TRUE (waitTicks (3));
        EXPECT_TRUE (log.events.empty());
    }
}

TEST_F (PresetBar, AnUnreadableFileIsSaidSoAndWhereItWasKept)
{
    ASSERT_TRUE (presetsFile().getParentDirectory().createDirectory().wasOk());
    ASSERT_TRUE (presetsFile().replaceWithText ("<PRESETS><preset1 presetName=\"mine\""));
    Pointer::key (openList(), juce::KeyPress::escapeKey);
    EXPECT_EQ (listed(), juce::StringArray ("Presets file could not be read (disabled)"));
    ASSERT_TRUE (waitFor ([] { return juce::Component::getCurrentlyModalComponent() == nullptr; }));

    saveWith (clickOk);
    ASSERT_TRUE (waitFor ([] { return modalDialog ("Presets file replaced") != nullptr; }));
    auto* notice = modalDialog ("Presets file replaced");
    const auto keptAs = presetsFile().getSiblingFile ("presets.xml.bak");
    EXPECT_TRUE (notice->getDescription().contains (keptAs.getFullPathName())) << notice->getDescription();
    EXPECT_EQ (keptAs.loadFileAsString(), "<PRESETS><preset1 presetName=\"mine\"");
    Pointer::key (*notice, juce::KeyPress::returnKey);
    ASSERT_TRUE (waitFor ([] { return juce::Component::getCurrentlyModalComponent() == nullptr; }));
    EXPECT_EQ (listed(), juce::StringArray ("Enter preset name"));
}
} // namespace
