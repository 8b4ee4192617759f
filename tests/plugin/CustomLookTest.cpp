#include "CustomLook.h"
#include "Resources.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace
{
namespace res = kto::resources;

// The rotary angles the plug-in's knobs use.
constexpr float startAngle = 3.8699114f;
constexpr float endAngle = 8.6964588f;

bool haveEntry (int index)
{
    return res::table[index].data != nullptr && res::table[index].size > 0;
}

juce::Image decodeEntry (int index)
{
    return juce::ImageFileFormat::loadFrom (res::table[index].data, static_cast<size_t> (res::table[index].size));
}

juce::Image canvas (int w, int h, juce::Colour bg)
{
    juce::Image img (juce::Image::ARGB, w, h, true);
    juce::Graphics g (img);
    g.fillAll (bg);
    return img;
}

int maxChannelDiff (const juce::Image& a, const juce::Image& b)
{
    int worst = 0;
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
        {
            const auto p = a.getPixelAt (x, y), q = b.getPixelAt (x, y);
            worst = std::max ({ worst, std::abs (p.getRed() - q.getRed()), std::abs (p.getGreen() - q.getGreen()),
                                std::abs (p.getBlue() - q.getBlue()) });
        }
    return worst;
}

bool isGrey (juce::Colour c)
{
    return c.getRed() == c.getGreen() && c.getGreen() == c.getBlue();
}

struct LookTest : ::testing::Test
{
    juce::ScopedJuceInitialiser_GUI gui;
};

// ---------------------------------------------------------------------------------------------
// Knob

struct KnobArea
{
    int x, y, w, h;
    int imgW, imgH;
    int expectOx, expectOy, expectSide;
};

TEST_F (LookTest, KnobSquareIsCentredInTheAreaWithTruncatedHalves)
{
    if (! haveEntry (res::knobBody) || ! haveEntry (res::knobPointer))
        GTEST_SKIP() << "knob pictures not embedded";

    const auto body = decodeEntry (res::knobBody);
    const auto pointer = decodeEntry (res::knobPointer);
    ASSERT_TRUE (body.isValid() && pointer.isValid());

    const KnobArea cases[] = {
        { 0, 0, 135, 135, 140, 140, 0, 0, 135 },     // the plug-in's knob size
        { 10, 20, 200, 100, 220, 130, 60, 20, 100 }, // wider than high
        { 0, 0, 100, 151, 110, 160, 0, 25, 100 },    // higher than wide, odd difference
        { 5, 7, 120, 120, 130, 130, 5, 7, 120 },     // square area elsewhere
        { 3, 4, 201, 100, 210, 110, 53, 4, 100 },    // (201 - 100) / 2 truncates to 50
    };

    const auto bg = juce::Colour (0xff102030);
    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.w) + " x " + juce::String (c.h) + " at " + juce::String (c.x) + ", "
                      + juce::String (c.y));
        zmk::CustomLook look;
        juce::Slider slider;

        // With both angles 0 the pointer picture is drawn unturned, so the knob must equal the two
        // pictures placed plainly into the expected square.
        auto drawn = canvas (c.imgW, c.imgH, bg);
        {
            juce::Graphics g (drawn);
            look.drawRotarySlider (g, c.x, c.y, c.w, c.h, 0.3f, 0.0f, 0.0f, slider);
        }

        auto reference = [&] (int ox, int oy)
        {
            auto img = canvas (c.imgW, c.imgH, bg);
            juce::Graphics g (img);
            g.drawImage (body, ox, oy, c.expectSide, c.expectSide, 0, 0, body.getWidth(), body.getHeight());
            g.drawImage (pointer, ox, oy, c.expectSide, c.expectSide, 0, 0, pointer.getWidth(), pointer.getHeight());
            return img;
        };

        EXPECT_LE (maxChannelDiff (drawn, reference (c.expectOx, c.expectOy)), 1);
        // A square one pixel off is told apart.
        EXPECT_GE (maxChannelDiff (drawn, reference (c.expectOx + 1, c.expectOy)), 8);
        EXPECT_GE (maxChannelDiff (drawn, reference (c.expectOx, c.expectOy + 1)), 8);
    }
}

// Centre of the opaque core of the pointer's dot, in picture coordinates (pixel centres at +0.5).
juce::Point<double> dotInPicture (const juce::Image& pointer)
{
    double sx = 0, sy = 0;
    int n = 0;
    for (int y = 0; y < pointer.getHeight(); ++y)
        for (int x = 0; x < pointer.getWidth(); ++x)
            if (pointer.getPixelAt (x, y).getAlpha() >= 250)
            {
                sx += x + 0.5;
                sy += y + 0.5;
                ++n;
            }
    return n > 0 ? juce::Point<double> (sx / n, sy / n) : juce::Point<double> (-1, -1);
}

// Centre of the bright blue dot painted inside the knob's disc (the blue marks lie outside it).
juce::Point<double> dotOnScreen (const juce::Image& img, juce::Point<double> knobCentre, double maxRadius)
{
    double sx = 0, sy = 0;
    int n = 0;
    for (int y = 0; y < img.getHeight(); ++y)
        for (int x = 0; x < img.getWidth(); ++x)
        {
            const auto p = img.getPixelAt (x, y);
            const juce::Point<double> centre (x + 0.5, y + 0.5);
            if (p.getBlue() >= 180 && p.getBlue() > p.getRed() + 80 && centre.getDistanceFrom (knobCentre) < maxRadius)
            {
                sx += centre.x;
                sy += centre.y;
                ++n;
            }
        }
    return n > 0 ? juce::Point<double> (sx / n, sy / n) : juce::Point<double> (-1000, -1000);
}

TEST_F (LookTest, PointerDotFollowsTheSliderPosition)
{
    if (! haveEntry (res::knobBody) || ! haveEntry (res::knobPointer))
        GTEST_SKIP() << "knob pictures not embedded";

    const auto pointer = decodeEntry (res::knobPointer);
    const auto body = decodeEntry (res::knobBody);
    const auto dot = dotInPicture (pointer);
    ASSERT_GT (dot.x, 0.0) << "pointer picture has no opaque dot";
    const double pictureSide = body.getWidth();
    const double c = pictureSide / 2;

    struct Case
    {
        int x, y, size, imgW, imgH;
        float pos;
        double tolerance;
    };
    const Case cases[] = {
        { 0, 0, 400, 400, 400, 0.0f, 1.5 },    { 0, 0, 400, 400, 400, 0.5f, 1.5 },
        { 0, 0, 400, 400, 400, 1.0f, 1.5 },    { 38, 172, 135, 200, 320, 0.0f, 1.0 },
        { 38, 172, 135, 200, 320, 0.5f, 1.0 }, { 38, 172, 135, 200, 320, 1.0f, 1.0 },
    };

    for (const auto& t : cases)
    {
        SCOPED_TRACE ("size " + juce::String (t.size) + ", position " + juce::String (t.pos));
        zmk::CustomLook look;
        juce::Slider slider;
        auto img = canvas (t.imgW, t.imgH, juce::Colours::black);
        {
            juce::Graphics g (img);
            look.drawRotarySlider (g, t.x, t.y, t.size, t.size, t.pos, startAngle, endAngle, slider);
        }

        // The pointer turns clockwise on screen about the picture's centre by
        // start + pos x (end - start); then the picture is scaled to the knob's side.
        const double angle = startAngle + t.pos * (endAngle - startAngle);
        const double k = t.size / pictureSide;
        const double rx = dot.x - c, ry = dot.y - c;
        const juce::Point<double> expected (t.x + k * (c + rx * std::cos (angle) - ry * std::sin (angle)),
                                            t.y + k * (c + rx * std::sin (angle) + ry * std::cos (angle)));
        const juce::Point<double> knobCentre (t.x + k * c, t.y + k * c);

        const auto found = dotOnScreen (img, knobCentre, 135.0 * k);
        EXPECT_NEAR (found.x, expected.x, t.tolerance);
        EXPECT_NEAR (found.y, expected.y, t.tolerance);

        // Lower left at the start, 12 o'clock in the middle, lower right at the end.
        if (t.pos == 0.0f)
        {
            EXPECT_TRUE (found.x < knobCentre.x - 10 * k && found.y > knobCentre.y + 10 * k);
        }
        else if (t.pos == 0.5f)
        {
            EXPECT_TRUE (std::abs (found.x - knobCentre.x) < 2.0 && found.y < knobCentre.y - 100 * k);
        }
        else
        {
            EXPECT_TRUE (found.x > knobCentre.x + 10 * k && found.y > knobCentre.y + 10 * k);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Buttons

TEST_F (LookTest, ToggleFaceIsInsetAndGlowsOnlyWhenOn)
{
    zmk::CustomLook look;
    juce::LookAndFeel::setDefaultLookAndFeel (&look);

    for (const bool on : { false, true })
    {
        SCOPED_TRACE (on ? "on" : "off");
        juce::ToggleButton toggle ("Bypass");
        toggle.setBounds (0, 0, 71, 50);
        toggle.setToggleState (on, juce::dontSendNotification);

        auto img = canvas (71, 50, juce::Colours::black);
        {
            juce::Graphics g (img);
            toggle.paintEntireComponent (g, false);
        }

        // The face covers x 8..62 and y 8..41 (55 x 34); it is a flat grey, the margin is not.
        const juce::Colour face (on ? 0xff272727 : 0xff303030);
        auto isFace = [&] (int x, int y)
        {
            const auto p = img.getPixelAt (x, y);
            return isGrey (p) && std::abs (p.getRed() - face.getRed()) <= 7;
        };
        for (const auto& [x, y] : { std::pair { 8, 12 }, { 62, 12 }, { 20, 8 }, { 20, 41 }, { 50, 8 }, { 50, 41 } })
            EXPECT_TRUE (isFace (x, y)) << x << ", " << y;
        for (const auto& [x, y] : { std::pair { 7, 12 }, { 63, 12 }, { 20, 7 }, { 20, 42 }, { 50, 7 }, { 50, 42 } })
            EXPECT_FALSE (isFace (x, y)) << x << ", " << y;

        // The glow fills the margin around the face only when on.
        for (const auto& [x, y] : { std::pair { 6, 25 }, { 64, 25 }, { 35, 6 }, { 35, 43 } })
        {
            const auto p = img.getPixelAt (x, y);
            if (on)
            {
                EXPECT_GE (p.getBlue() - p.getRed(), 20) << x << ", " << y;
            }
            else
            {
                EXPECT_EQ (p.getARGB(), 0xff000000u) << x << ", " << y;
            }
        }
        if (! on)
        {
            for (const auto& [x, y] : { std::pair { 0, 0 }, { 70, 49 } })
                EXPECT_EQ (img.getPixelAt (x, y).getARGB(), 0xff000000u);
        }

        // The face's gradient runs from y 0 to y 66 (height + 16), slightly lighter at the top.
        const auto top = face.brighter (0.025f), bottom = face.darker (0.025f);
        for (const int y : { 8, 12, 38, 41 })
        {
            const double t = (y + 0.5) / 66.0;
            const double expected = top.getRed() + (bottom.getRed() - top.getRed()) * t;
            EXPECT_NEAR (img.getPixelAt (20, y).getRed(), expected, 1.0) << "row " << y;
        }

        // The text is drawn in the on or off text colour, centred in the whole button.
        int brightest = 0;
        double sx = 0, sy = 0;
        int n = 0;
        for (int y = 9; y < 41; ++y)
            for (int x = 9; x < 62; ++x)
            {
                const int r = img.getPixelAt (x, y).getRed();
                brightest = std::max (brightest, r);
                if (r > face.getRed() + 40)
                {
                    sx += x + 0.5;
                    sy += y + 0.5;
                    ++n;
                }
            }
        const int textLevel = on ? 0xee : 0xb0;
        EXPECT_LE (brightest, textLevel);
        EXPECT_GE (brightest, textLevel - 12);
        ASSERT_GT (n, 20);
        EXPECT_NEAR (sx / n, 35.5, 2.0);
        EXPECT_NEAR (sy / n, 25.0, 3.0);
    }

    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
}

TEST_F (LookTest, ButtonCornersAreSquareWhereConnected)
{
    zmk::CustomLook look;
    const auto bg = juce::Colours::white;

    struct Case
    {
        int flags;
        bool tl, tr, bl, br; // true: the corner is rounded
    };
    const Case cases[] = {
        { 0, true, true, true, true },
        { juce::Button::ConnectedOnLeft, false, true, false, true },
        { juce::Button::ConnectedOnRight, true, false, true, false },
        { juce::Button::ConnectedOnTop, false, false, true, true },
        { juce::Button::ConnectedOnBottom, true, true, false, false },
        { juce::Button::ConnectedOnLeft | juce::Button::ConnectedOnTop, false, false, false, true },
        { juce::Button::ConnectedOnLeft | juce::Button::ConnectedOnRight, false, false, false, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE ("flags " + juce::String (c.flags));
        juce::TextButton button;
        button.setLookAndFeel (&look);
        button.setBounds (0, 0, 40, 20);
        button.setConnectedEdges (c.flags);

        auto img = canvas (40, 20, bg);
        {
            juce::Graphics g (img);
            button.paintEntireComponent (g, false);
        }
        // The face fills the whole button; a rounded corner (radius 4) leaves its corner pixel bare.
        EXPECT_NE (img.getPixelAt (20, 10).getARGB(), bg.getARGB());
        EXPECT_EQ (img.getPixelAt (0, 0) == bg, c.tl);
        EXPECT_EQ (img.getPixelAt (39, 0) == bg, c.tr);
        EXPECT_EQ (img.getPixelAt (0, 19) == bg, c.bl);
        EXPECT_EQ (img.getPixelAt (39, 19) == bg, c.br);
        EXPECT_NE (img.getPixelAt (1, 10), bg);
        EXPECT_NE (img.getPixelAt (38, 10), bg);
        button.setLookAndFeel (nullptr);
    }
}

// ---------------------------------------------------------------------------------------------
// Sliders: layout and value box

TEST_F (LookTest, ValueBoxLayoutAndStyle)
{
    zmk::CustomLook look;

    struct Case
    {
        juce::Slider::SliderStyle style;
        int w, h;
        juce::Rectangle<int> box;
        juce::Justification just;
        bool bar;
    };
    const Case cases[] = {
        { juce::Slider::RotaryHorizontalVerticalDrag, 135, 135, { 71, 2, 55, 18 }, juce::Justification::left, false },
        { juce::Slider::LinearBar, 166, 22, { 108, 2, 55, 18 }, juce::Justification::right, true },
        { juce::Slider::LinearBarVertical, 30, 120, { 19, 47, 55, 18 }, juce::Justification::left, true },
        // h / 2 and min (w, h) / 2 truncate separately: 68 - 49 + 2.
        { juce::Slider::RotaryHorizontalVerticalDrag, 99, 136, { 53, 21, 55, 18 }, juce::Justification::left, false },
        { juce::Slider::RotaryHorizontalVerticalDrag, 200, 100, { 104, 2, 55, 18 }, juce::Justification::left, false },
        { juce::Slider::LinearHorizontal, 160, 40, { 84, 2, 55, 18 }, juce::Justification::left, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.w) + " x " + juce::String (c.h) + " style " + juce::String ((int) c.style));
        juce::Slider slider (c.style, juce::Slider::TextBoxAbove);
        slider.setTextBoxStyle (juce::Slider::TextBoxAbove, false, 75, 16);
        slider.setLookAndFeel (&look);
        slider.setBounds (10, 10, c.w, c.h);

        const auto layout = look.getSliderLayout (slider);
        EXPECT_EQ (layout.sliderBounds, juce::Rectangle<int> (0, 0, c.w, c.h));
        EXPECT_EQ (layout.textBoxBounds, c.box);

        zmk::CustomLook::SliderLabelComp* box = nullptr;
        for (auto* child : slider.getChildren())
            if (auto* l = dynamic_cast<zmk::CustomLook::SliderLabelComp*> (child))
                box = l;
        ASSERT_NE (box, nullptr);
        EXPECT_EQ (box->getBounds(), c.box);
        EXPECT_EQ (box->getJustificationType(), c.just);
        EXPECT_FLOAT_EQ (box->getFont().getHeight(), 14.0f);

        EXPECT_EQ (box->findColour (juce::Label::textColourId).getARGB(), 0xffb0b0b0u);
        EXPECT_EQ (box->findColour (juce::Label::backgroundColourId).getARGB(), 0x00000000u);
        EXPECT_EQ (box->findColour (juce::Label::outlineColourId).getAlpha(), 0);
        EXPECT_EQ (box->findColour (juce::TextEditor::textColourId).getARGB(), 0xffb0b0b0u);
        // Typing: the ground is the transparent text-box black with its alpha replaced.
        const auto editorGround = box->findColour (juce::TextEditor::backgroundColourId);
        EXPECT_EQ (editorGround.getARGB() & 0x00ffffffu, 0u);
        EXPECT_NEAR (editorGround.getFloatAlpha(), c.bar ? 0.7f : 1.0f, 0.003f);

        slider.setLookAndFeel (nullptr);
    }
}

TEST_F (LookTest, WheelOverValueBoxLeavesValueAlone)
{
    zmk::CustomLook look;
    juce::Slider slider (juce::Slider::RotaryHorizontalVerticalDrag, juce::Slider::TextBoxAbove);
    slider.setLookAndFeel (&look);
    slider.setRange (0.0, 1.0, 0.01);
    slider.setValue (0.5, juce::dontSendNotification);
    slider.setBounds (0, 0, 135, 135);

    juce::Label* box = nullptr;
    for (auto* child : slider.getChildren())
        if (auto* l = dynamic_cast<juce::Label*> (child))
            box = l;
    ASSERT_NE (box, nullptr);

    juce::MouseWheelDetails wheel {};
    wheel.deltaY = 0.5f;

    auto eventOn = [] (juce::Component& c, juce::Time when)
    {
        const juce::Point<float> pos (5.0f, 5.0f);
        return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), pos, juce::ModifierKeys(),
                                 juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                                 juce::MouseInputSource::defaultRotation, juce::MouseInputSource::defaultTiltX,
                                 juce::MouseInputSource::defaultTiltY, &c, &c, when, pos, when, 1, false);
    };

    const auto t0 = juce::Time::getCurrentTime();
    box->mouseWheelMove (eventOn (*box, t0), wheel);
    EXPECT_EQ (slider.getValue(), 0.5);

    // The same movement over the knob itself does turn it.
    slider.mouseWheelMove (eventOn (slider, t0 + juce::RelativeTime::milliseconds (50)), wheel);
    EXPECT_GT (slider.getValue(), 0.5);

    slider.setLookAndFeel (nullptr);
}

// ---------------------------------------------------------------------------------------------
// Fonts

TEST_F (LookTest, EveryFontResolvesToTheEmbeddedFace)
{
    if (! haveEntry (res::font))
        GTEST_SKIP() << "font not embedded";

    zmk::CustomLook look;
    const juce::Font fonts[] = {
        juce::Font (13.0f),
        juce::Font ("Serif", 20.0f, juce::Font::bold),
        juce::Font ("Courier New", 9.0f, juce::Font::italic),
        juce::Font (juce::Font::getDefaultMonospacedFontName(), 40.0f, juce::Font::plain),
    };
    for (const auto& f : fonts)
    {
        auto face = look.getTypefaceForFont (f);
        ASSERT_NE (face, nullptr);
        EXPECT_EQ (face->getName(), "Open Sans") << f.getTypefaceName();
        EXPECT_EQ (face->getStyle(), "Regular") << f.getTypefaceName();
    }

    // Installed as the default, it serves fonts that no component asked it for.
    juce::LookAndFeel::setDefaultLookAndFeel (&look);
    juce::Typeface::clearTypefaceCache();
    EXPECT_EQ (juce::Font ("Some Family", 12.0f, juce::Font::bold).getTypefacePtr()->getName(), "Open Sans");
    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    juce::Typeface::clearTypefaceCache();

    // Text sizes the look sets.
    juce::TextButton button;
    juce::ComboBox combo;
    EXPECT_FLOAT_EQ (look.getTextButtonFont (button, 50).getHeight(), 13.0f);
    EXPECT_FLOAT_EQ (look.getComboBoxFont (combo).getHeight(), 13.0f);
    EXPECT_FLOAT_EQ (look.getPopupMenuFont().getHeight(), 13.0f);
}

// ---------------------------------------------------------------------------------------------
// Default look-and-feel shared between plug-in instances

TEST_F (LookTest, DestroyingTheDefaultHandsItToAnotherLiveLook)
{
    auto a = std::make_unique<zmk::CustomLook>();
    auto b = std::make_unique<zmk::CustomLook>();
    auto c = std::make_unique<zmk::CustomLook>();

    // Each instance installs its own look; the newest goes first.
    juce::LookAndFeel::setDefaultLookAndFeel (c.get());
    c.reset();
    EXPECT_EQ (&juce::LookAndFeel::getDefaultLookAndFeel(), b.get());

    // Destroying a look that is not the default leaves the default alone.
    juce::LookAndFeel::setDefaultLookAndFeel (a.get());
    b.reset();
    EXPECT_EQ (&juce::LookAndFeel::getDefaultLookAndFeel(), a.get());

    // The last one leaves the framework's own look, never a dead one.
    a.reset();
    auto& fallback = juce::LookAndFeel::getDefaultLookAndFeel();
    EXPECT_EQ (dynamic_cast<zmk::CustomLook*> (&fallback), nullptr);
    EXPECT_NE (dynamic_cast<juce::LookAndFeel_V4*> (&fallback), nullptr);

    // A component painted afterwards uses a live look.
    juce::ToggleButton toggle ("Bypass");
    toggle.setBounds (0, 0, 71, 50);
    auto img = canvas (71, 50, juce::Colours::black);
    juce::Graphics g (img);
    toggle.paintEntireComponent (g, false);
}

TEST_F (LookTest, OneLookSharedThroughSharedResourcePointer)
{
    {
        juce::SharedResourcePointer<zmk::CustomLook> first;
        juce::SharedResourcePointer<zmk::CustomLook> second;
        EXPECT_EQ (&first.get(), &second.get());
        juce::LookAndFeel::setDefaultLookAndFeel (&first.get());
    }
    // Releasing the last pointer leaves no dead default behind.
    EXPECT_EQ (dynamic_cast<zmk::CustomLook*> (&juce::LookAndFeel::getDefaultLookAndFeel()), nullptr);
}
} // namespace
