#include "CustomLook.h"

#include "Resources.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace zmk
{
namespace
{
namespace res = kto::resources;

juce::Image imageFromResource (int index)
{
    const auto& entry = res::table[index];
    if (entry.data == nullptr || entry.size <= 0)
        return {};
    return juce::ImageCache::getFromMemory (entry.data, entry.size);
}

// Every live look, oldest first. Each plug-in instance may install its own look as the
// process default; when the default one goes away, the default passes to the newest look
// still alive instead of silently falling back to the framework's.
struct LiveLooks
{
    std::mutex mutex;
    std::vector<CustomLook*> looks;
};

LiveLooks& liveLooks()
{
    static LiveLooks instance;
    return instance;
}

struct ColourSetting
{
    int id;
    juce::uint32 argb;
};

constexpr ColourSetting colourTable[] = {
    { juce::Slider::textBoxTextColourId, 0xffb0b0b0 },
    { juce::Slider::textBoxBackgroundColourId, 0x00000000 },
    { juce::Slider::textBoxHighlightColourId, 0x00000000 },
    { juce::Slider::textBoxOutlineColourId, 0x00000000 },
    { juce::Slider::thumbColourId, 0xff505050 },
    { juce::TextButton::buttonColourId, 0xff303030 },
    { juce::TextButton::buttonOnColourId, 0xff0000ff },
    { juce::TextButton::textColourOffId, 0xffb0b0b0 },
    { juce::TextButton::textColourOnId, 0xffeeeeee },
    { juce::ComboBox::backgroundColourId, 0xff303030 },
    { juce::ComboBox::textColourId, 0xffeeeeee },
    { juce::ComboBox::outlineColourId, 0xff303030 },
    { juce::ComboBox::buttonColourId, 0xff303030 },
    { juce::ComboBox::arrowColourId, 0xff505050 },
    { juce::PopupMenu::backgroundColourId, 0xff303030 },
    { juce::PopupMenu::textColourId, 0xffb0b0b0 },
    { juce::PopupMenu::headerTextColourId, 0xffeeeeee },
    { juce::PopupMenu::highlightedBackgroundColourId, 0xff404040 },
    { juce::PopupMenu::highlightedTextColourId, 0xfff3f3f3 },
    { juce::AlertWindow::backgroundColourId, 0xff202020 },
    { juce::AlertWindow::textColourId, 0xffb0b0b0 },
    { juce::AlertWindow::outlineColourId, 0xff202020 },
    { juce::TextEditor::backgroundColourId, 0xff303030 },
    { juce::TextEditor::textColourId, 0xffb0b0b0 },
    { juce::TextEditor::highlightColourId, 0xff505050 },
    { juce::TextEditor::highlightedTextColourId, 0xffeeeeee },
    { juce::TextEditor::outlineColourId, 0x00000000 },
    { juce::TextEditor::focusedOutlineColourId, 0xff303030 },
    { juce::TextEditor::shadowColourId, 0xff202020 },
};

bool isBarStyle (juce::Slider::SliderStyle style)
{
    return style == juce::Slider::LinearBar || style == juce::Slider::LinearBarVertical;
}
} // namespace

CustomLook::SliderLabelComp::SliderLabelComp() : juce::Label ({}, {}) {}

void CustomLook::SliderLabelComp::mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) {}

CustomLook::CustomLook()
    : fontHeight (13.0f),
      knobBody (imageFromResource (res::knobBody)),
      knobPointer (imageFromResource (res::knobPointer))
{
    for (const auto& c : colourTable)
        setColour (c.id, juce::Colour (c.argb));

    auto& live = liveLooks();
    const std::lock_guard<std::mutex> lock (live.mutex);
    live.looks.push_back (this);
}

CustomLook::~CustomLook()
{
    auto& live = liveLooks();
    const std::lock_guard<std::mutex> lock (live.mutex);
    live.looks.erase (std::remove (live.looks.begin(), live.looks.end(), this), live.looks.end());

    // The framework's default may only be read and changed on the message thread; elsewhere
    // the framework's weak reference still keeps it from pointing at a dead look.
    if (juce::MessageManager::existsAndIsLockedByCurrentThread()
        && &juce::LookAndFeel::getDefaultLookAndFeel() == this)
        juce::LookAndFeel::setDefaultLookAndFeel (live.looks.empty() ? nullptr : live.looks.back());
}

juce::Typeface::Ptr CustomLook::getTypefaceForFont (const juce::Font& font)
{
    const auto& entry = res::table[res::font];
    if (entry.data == nullptr || entry.size <= 0)
        return juce::LookAndFeel_V3::getTypefaceForFont (font);
    return juce::Typeface::createSystemTypefaceFor (entry.data, static_cast<size_t> (entry.size));
}

void CustomLook::drawButtonBackground (juce::Graphics& g, juce::Button& b, const juce::Colour& bg,
                                       bool over, bool down)
{
    auto colour = bg.withMultipliedSaturation (b.hasKeyboardFocus (true) ? 1.1f : 1.0f)
                      .withMultipliedAlpha (b.isEnabled() ? 1.0f : 0.9f);
    if (down || over)
        colour = colour.contrasting (down ? 0.1f : 0.05f);

    // A toggle's face sits 8 px in from each edge, leaving room for its glow.
    const bool isToggle = dynamic_cast<juce::ToggleButton*> (&b) != nullptr;
    const float inset = isToggle ? 16.0f : 0.0f;
    const float w = static_cast<float> (b.getWidth()) + inset;
    const float h = static_cast<float> (b.getHeight()) + inset;
    const float faceW = w - 2.0f * inset;
    const float faceH = h - 2.0f * inset;
    if (! (w > 0.0f && h > 0.0f) || faceW <= 0.0f || faceH <= 0.0f)
        return;

    const bool left = b.isConnectedOnLeft(), right = b.isConnectedOnRight();
    const bool top = b.isConnectedOnTop(), bottom = b.isConnectedOnBottom();
    juce::Path face;
    face.addRoundedRectangle (inset / 2.0f, inset / 2.0f, faceW, faceH, 4.0f, 4.0f,
                              ! (left || top), ! (right || top), ! (left || bottom), ! (right || bottom));

    if (isToggle && b.getToggleState())
    {
        const juce::DropShadow glow (juce::Colour (0xff1eaedb), 8, {});
        glow.drawForPath (g, face);
        glow.drawForPath (g, face);
    }

    g.setGradientFill (juce::ColourGradient (colour.brighter (0.025f), 0.0f, 0.0f,
                                             colour.darker (0.025f), 0.0f, h, false));
    g.fillPath (face);
}

juce::Font CustomLook::getTextButtonFont (juce::TextButton&, int)
{
    return juce::Font (fontHeight, juce::Font::plain);
}

void CustomLook::drawToggleButton (juce::Graphics& g, juce::ToggleButton& t, bool over, bool down)
{
    const bool on = t.getToggleState();
    drawButtonBackground (g, t, juce::Colour (on ? 0xff272727 : 0xff303030), over, down);

    g.setColour (t.findColour (on ? juce::TextButton::textColourOnId : juce::TextButton::textColourOffId));
    g.setFont (fontHeight);
    g.drawFittedText (t.getButtonText(), 0, 0, t.getWidth(), t.getHeight(), juce::Justification::centred, 10, 0.0f);
}

juce::Font CustomLook::getPopupMenuFont()
{
    return juce::Font (fontHeight, juce::Font::plain);
}

juce::Font CustomLook::getComboBoxFont (juce::ComboBox&)
{
    return juce::Font (fontHeight, juce::Font::plain);
}

void CustomLook::drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height, float sliderPos,
                                   float rotaryStartAngle, float rotaryEndAngle, juce::Slider&)
{
    const int side = std::min (width, height);
    if (side <= 0 || ! knobBody.isValid() || knobBody.getWidth() <= 0)
        return;

    // The knob is the largest square centred in the area.
    const auto ox = static_cast<float> (x + (width - side) / 2);
    const auto oy = static_cast<float> (y + (height - side) / 2);
    const float k = static_cast<float> (side) / static_cast<float> (knobBody.getWidth());

    g.drawImageTransformed (knobBody, juce::AffineTransform::scale (k).translated (ox, oy), false);

    // Both pictures are square and of the same size: the pointer turns about the body's centre.
    const float angle = rotaryStartAngle + sliderPos * (rotaryEndAngle - rotaryStartAngle);
    const float c = 0.5f * static_cast<float> (knobBody.getWidth());
    g.drawImageTransformed (knobPointer,
                            juce::AffineTransform::rotation (angle, c, c).scaled (k).translated (ox, oy),
                            false);
}

juce::Label* CustomLook::createSliderTextBox (juce::Slider& slider)
{
    const auto style = slider.getSliderStyle();
    const bool bar = isBarStyle (style);

    auto* l = new SliderLabelComp();
    l->setFont (juce::Font (fontHeight + 1.0f, juce::Font::plain));
    l->setJustificationType (style == juce::Slider::LinearBar ? juce::Justification::right
                                                              : juce::Justification::left);
    l->setKeyboardType (juce::TextInputTarget::decimalKeyboard);

    l->setColour (juce::Label::textColourId, slider.findColour (juce::Slider::textBoxTextColourId));
    l->setColour (juce::Label::backgroundColourId,
                  bar ? juce::Colours::transparentBlack : slider.findColour (juce::Slider::textBoxBackgroundColourId));
    l->setColour (juce::Label::outlineColourId, slider.findColour (juce::Slider::textBoxOutlineColourId));
    l->setColour (juce::TextEditor::textColourId, slider.findColour (juce::Slider::textBoxTextColourId));
    l->setColour (juce::TextEditor::backgroundColourId,
                  slider.findColour (juce::Slider::textBoxBackgroundColourId).withAlpha (bar ? 0.7f : 1.0f));
    l->setColour (juce::TextEditor::outlineColourId, slider.findColour (juce::Slider::textBoxOutlineColourId));
    l->setColour (juce::TextEditor::highlightColourId, slider.findColour (juce::Slider::textBoxHighlightColourId));
    return l;
}

juce::Slider::SliderLayout CustomLook::getSliderLayout (juce::Slider& slider)
{
    const int w = slider.getWidth();
    const int h = slider.getHeight();

    juce::Slider::SliderLayout layout;
    layout.sliderBounds = slider.getLocalBounds();

    // The value box sits over the bar's right end, or in a knob's upper right quarter.
    const int bx = slider.getSliderStyle() == juce::Slider::LinearBar ? w - 58 : w / 2 + 4;
    const int by = h / 2 - std::min (w, h) / 2 + 2;
    layout.textBoxBounds = { bx, by, 55, 18 };
    return layout;
}
} // namespace zmk
