#pragma once

// The plug-in's editor in a real window, driven through the window's peer as the platform layer
// drives it, with a host-side log of what reaches the host.
#include "Processor.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <gtest/gtest.h>

#include "Waiting.h"

#include <string>
#include <vector>

namespace ktotest
{
// The editor tests' conditions are named by the assertion that awaits them.
template <typename Condition>
::testing::AssertionResult waitFor (Condition&& condition)
{
    return waitFor ("the condition of an editor test", std::forward<Condition> (condition));
}

// Waits until a 30 Hz timer of our own has ticked n times: the controls' timers, on the same
// timer thread with the same period, have then had about as many ticks.
inline ::testing::AssertionResult waitTicks (int n)
{
    struct Ticker : juce::Timer
    {
        int ticks = 0;
        void timerCallback() override { ++ticks; }
    } ticker;
    ticker.startTimerHz (30);
    return waitFor ([&] { return ticker.ticks >= n; });
}

template <typename T = juce::Component>
T* find (juce::Component& root, const juce::String& name)
{
    for (auto* c : root.getChildren())
    {
        if (auto* t = dynamic_cast<T*> (c); t != nullptr && c->getName() == name)
            return t;
        if (auto* deeper = find<T> (*c, name))
            return deeper;
    }
    return nullptr;
}

// What the host hears: 'v' a notified value, 'b' and 'e' gesture begin and end.
struct HostLog : juce::AudioProcessorListener
{
    struct Event
    {
        char kind;
        int index;
        float value;
    };
    std::vector<Event> events;

    void audioProcessorParameterChanged (juce::AudioProcessor*, int i, float v) override { events.push_back ({ 'v', i, v }); }
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
    void audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int i) override { events.push_back ({ 'b', i, 0 }); }
    void audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int i) override { events.push_back ({ 'e', i, 0 }); }

    std::string kinds (int index) const
    {
        std::string s;
        for (const auto& e : events)
            if (e.index == index)
                s += e.kind;
        return s;
    }
};

// Mouse and keys for one window, entered where the platform layer enters them.
struct Pointer
{
    // One clock for every pointer: a press comes later than a double click would, a release soon
    // enough after its press to count as a click.
    static inline juce::int64 time = juce::Time::currentTimeMillis();

    static juce::ComponentPeer& peerOf (juce::Component& c) { return *c.getTopLevelComponent()->getPeer(); }

    void send (juce::Component& c, juce::Point<int> local, juce::ModifierKeys mods)
    {
        auto* top = c.getTopLevelComponent();
        juce::ModifierKeys::currentModifiers = mods;
        peerOf (c).handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse,
                                     top->getLocalPoint (&c, local).toFloat(), mods,
                                     juce::MouseInputSource::defaultPressure,
                                     juce::MouseInputSource::defaultOrientation, time += 50);
    }
    void down (juce::Component& c, juce::Point<int> p)
    {
        time += 1000;
        send (c, p, juce::ModifierKeys::leftButtonModifier);
    }
    void up (juce::Component& c, juce::Point<int> p) { send (c, p, {}); }
    void click (juce::Component& c) { click (c, c.getLocalBounds().getCentre()); }
    void click (juce::Component& c, juce::Point<int> p)
    {
        send (c, p, {});
        down (c, p);
        up (c, p);
    }
    void wheel (juce::Component& c, float dy)
    {
        juce::MouseWheelDetails w { 0.0f, dy, false, false, false };
        auto* top = c.getTopLevelComponent();
        peerOf (c).handleMouseWheel (juce::MouseInputSource::InputSourceType::mouse,
                                     top->getLocalPoint (&c, c.getLocalBounds().getCentre()).toFloat(), time += 50, w);
    }
    static void type (juce::Component& window, const juce::String& text)
    {
        for (auto ch : text)
            peerOf (window).handleKeyPress (juce::KeyPress (ch, {}, ch));
    }
    static void key (juce::Component& window, int code, juce::ModifierKeys mods = {})
    {
        peerOf (window).handleKeyPress (juce::KeyPress (code, mods, 0));
    }
};

// Clicks c until it has the keyboard focus: a window takes it only once the server has mapped it.
inline ::testing::AssertionResult focusByClicking (juce::Component& c)
{
    return waitFor ([&] {
        if (! c.hasKeyboardFocus (true))
            Pointer().click (c);
        return c.hasKeyboardFocus (true);
    });
}

// A plug-in instance as the host creates it, its editor open on the screen and the host listening.
struct EditorFixture : ::testing::Test
{
    EditorFixture()
    {
        processor->addListener (&log);
        open();
    }

    ~EditorFixture() override
    {
        close();
        if (processor != nullptr)
            processor->removeListener (&log);
    }

    static juce::File presetsFile()
    {
        return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory).getChildFile (Processor::presetsPath);
    }

    void open()
    {
        editor.reset (processor->createEditorIfNeeded());
        editor->setTopLeftPosition (20, 20);
        editor->addToDesktop (0);
        editor->setVisible (true);
        ASSERT_TRUE (waitFor ([this] { return editor->getPeer() != nullptr && editor->isShowing(); }));
    }

    void close()
    {
        if (editor != nullptr)
            processor->editorBeingDeleted (editor.get());
        editor.reset();
    }

    juce::AudioProcessorParameter& param (int i) { return *processor->getParameters()[i]; }
    template <typename T = juce::Component>
    T& child (const juce::String& name)
    {
        auto* c = find<T> (*editor, name);
        if (c == nullptr)
            throw std::runtime_error ("no child named " + name.toStdString());
        return *c;
    }

    const bool noPresetsYet = presetsFile().deleteFile();
    std::unique_ptr<Processor> processor { dynamic_cast<Processor*> (createPluginFilter()) };
    std::unique_ptr<juce::AudioProcessorEditor> editor;
    HostLog log;
    Pointer mouse;
};
} // namespace ktotest

namespace juce
{
inline void PrintTo (const String& s, std::ostream* os) { *os << '"' << s << '"'; }
inline void PrintTo (const StringArray& a, std::ostream* os) { *os << '{' << a.joinIntoString (", ") << '}'; }
} // namespace juce
