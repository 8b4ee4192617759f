// The embedded pictures decoded as the interface decodes them, and checked where the editor and
// the knob drawing rely on them: the pointer's dot, the body's marks, the captions' regions.

#include "Resources.h"

#include <juce_graphics/juce_graphics.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace
{
namespace res = kto::resources;

juce::Image decodePng (int entry)
{
    juce::MemoryInputStream in (res::table[entry].data, static_cast<size_t> (res::table[entry].size), false);
    return juce::PNGImageFormat().decodeImage (in);
}

float luminance (juce::Colour c)
{
    return 0.299f * c.getRed() + 0.587f * c.getGreen() + 0.114f * c.getBlue();
}

// Bounding box of the pixels inside area that pass the test.
juce::Rectangle<int> inkBounds (const juce::Image& img, juce::Rectangle<int> area,
                                const std::function<bool (juce::Colour)>& isInk)
{
    int x0 = area.getRight(), y0 = area.getBottom(), x1 = area.getX() - 1, y1 = area.getY() - 1;
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            if (isInk (img.getPixelAt (x, y)))
            {
                x0 = std::min (x0, x);
                y0 = std::min (y0, y);
                x1 = std::max (x1, x);
                y1 = std::max (y1, y);
            }
    return x1 < x0 ? juce::Rectangle<int>() : juce::Rectangle<int>::leftTopRightBottom (x0, y0, x1 + 1, y1 + 1);
}

// The caption's ink lies within its region (to a pixel of smoothing) and fills its width or height.
void expectCaptionIn (const juce::Image& img, juce::Rectangle<int> region, float threshold)
{
    const auto ink = inkBounds (img, region.expanded (12), [threshold] (juce::Colour c) { return luminance (c) > threshold; });
    SCOPED_TRACE (("region " + region.toString() + ", ink " + ink.toString()).toStdString());
    EXPECT_TRUE (region.expanded (1).contains (ink));
    EXPECT_TRUE (ink.getWidth() >= region.getWidth() - 3 || ink.getHeight() >= region.getHeight() - 3);
}
} // namespace

TEST (ResourcePictures, KnobPointerDotSitsAtTwelveOClock)
{
    const auto img = decodePng (res::knobPointer);
    ASSERT_EQ (img.getWidth(), 400);
    ASSERT_EQ (img.getHeight(), 400);
    ASSERT_TRUE (img.hasAlphaChannel());

    double sx = 0.0, sy = 0.0, n = 0.0;
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 400; ++x)
        {
            const auto c = img.getPixelAt (x, y);
            const double fromDot = std::hypot (x + 0.5 - 200.0, y + 0.5 - 82.0);
            if (fromDot > 70.0)
            {
                EXPECT_EQ (c.getAlpha(), 0) << x << "," << y;
            }
            if (c.getAlpha() == 255)
            {
                sx += x + 0.5;
                sy += y + 0.5;
                n += 1.0;
                EXPECT_GT (c.getBlue(), 200);
            }
        }
    ASSERT_GT (n, 30.0); // an opaque core about 10 px across
    ASSERT_LT (n, 120.0);
    EXPECT_NEAR (sx / n, 200.0, 0.5);
    EXPECT_NEAR (sy / n, 82.0, 0.5);
}

TEST (ResourcePictures, KnobBodyIsATranslucentDiscWithThreeMarks)
{
    const auto img = decodePng (res::knobBody);
    ASSERT_EQ (img.getWidth(), 400);
    ASSERT_EQ (img.getHeight(), 400);
    ASSERT_TRUE (img.hasAlphaChannel());

    const auto alpha = [&img] (double x, double y) { return img.getPixelAt ((int) x, (int) y).getFloatAlpha(); };
    EXPECT_NEAR (alpha (200, 200), 0.30f, 0.06f);
    EXPECT_GT (alpha (120, 120), 0.45f);
    EXPECT_LT (alpha (285, 285), 0.15f);
    EXPECT_LT (alpha (1, 1), 0.02f);
    EXPECT_NEAR (alpha (200 + 105, 200 - 105), 0.15f, 0.05f); // shadow ring just outside the disc, between marks

    for (double deg : { -135.0, 0.0, 135.0 })
    {
        const double a = deg * juce::MathConstants<double>::pi / 180.0;
        const auto c = img.getPixelAt ((int) (200.0 + 166.0 * std::sin (a)), (int) (200.0 - 166.0 * std::cos (a)));
        EXPECT_EQ (c.getAlpha(), 255) << deg;
        EXPECT_NEAR (c.getRed(), 43, 8) << deg;
        EXPECT_NEAR (c.getGreen(), 167, 8) << deg;
        EXPECT_NEAR (c.getBlue(), 207, 8) << deg;
    }
}

// Picture pixels are twice the window coordinates that the controls are laid out in.
TEST (ResourcePictures, BackgroundRegionsLieWhereTheControlsAre)
{
    const auto img = decodePng (res::background);
    ASSERT_EQ (img.getWidth(), 1100);
    ASSERT_EQ (img.getHeight(), 1003);
    for (int y = 0; y < 1003; y += 7)
        for (int x = 0; x < 1100; x += 7)
            ASSERT_EQ (img.getPixelAt (x, y).getAlpha(), 255) << x << "," << y;

    expectCaptionIn (img, { 38, 46, 390, 50 }, 170.0f);  // title
    expectCaptionIn (img, { 66, 267, 126, 44 }, 110.0f); // "Reverb Type"
    expectCaptionIn (img, { 156, 356, 36, 16 }, 110.0f); // "Mix"
    expectCaptionIn (img, { 146, 630, 44, 16 }, 110.0f); // "Gain"

    const auto lum = [&img] (int x, int y) { return luminance (img.getPixelAt (x, y)); };
    EXPECT_GT (lum (20, 20), lum (1080, 20) + 15.0f);          // title band darkens to the right
    EXPECT_GT (lum (600, 20), lum (600, 400) + 20.0f);         // band lighter than the body
    EXPECT_GT (lum (550, 219), lum (550, 214) + 40.0f);        // rule under the preset row
    EXPECT_LT (lum (212, 478), 12.0f);                         // mix well
    EXPECT_LT (lum (212, 752), 12.0f);                         // gain well
    EXPECT_GT (lum (437, 560), 150.0f);                        // photo panel's light frame
    EXPECT_GT (lum (60, 990), lum (1080, 990) + 15.0f);        // bottom band lighter at its left
    EXPECT_FALSE (inkBounds (img, { 30, 920, 400, 80 }, [] (juce::Colour c) { return luminance (c) > 170.0f; })
                      .isEmpty());                             // maker's name
}
