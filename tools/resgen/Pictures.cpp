#include "Pictures.h"

#include <cmath>
#include <cstdint>

namespace resgen
{
namespace
{
using juce::Colour;
using juce::ColourGradient;
using juce::Path;
using juce::Rectangle;

constexpr float knobSide = 400.0f;
constexpr float knobCentre = knobSide * 0.5f;
constexpr float discRadius = 140.0f;

const Colour markBlue (43, 167, 207);
const Colour pointerBlue (48, 184, 227);

// Window coordinates to picture pixels: the editor shows the picture at half size.
constexpr float px (float windowCoordinate) { return windowCoordinate * 2.0f; }

Rectangle<float> windowRect (float x, float y, float w, float h) { return { px (x), px (y), px (w), px (h) }; }

Path textOutline (const juce::Typeface::Ptr& face, const juce::String& text)
{
    juce::GlyphArrangement glyphs;
    glyphs.addLineOfText (juce::Font (face).withHeight (100.0f), text, 0.0f, 0.0f);
    Path outline;
    glyphs.createPath (outline);
    return outline;
}

// Scales the text's ink to fill box: exactly when stretch is allowed, otherwise as large as fits,
// centred. Captions thereby land precisely on the regions the controls are laid out against.
void fillTextInto (juce::Graphics& g, const juce::Typeface::Ptr& face, const juce::String& text,
                   Rectangle<float> box, Colour colour, bool stretch)
{
    const auto outline = textOutline (face, text);
    g.setColour (colour);
    g.fillPath (outline, outline.getTransformToScaleToFit (box, ! stretch, juce::Justification::centred));
}

// Text of a given ink height starting at a left edge, vertically centred on a line.
void fillTextAt (juce::Graphics& g, const juce::Typeface::Ptr& face, const juce::String& text,
                 float left, float centreY, float inkHeight, Colour colour)
{
    const auto outline = textOutline (face, text);
    const auto ink = outline.getBounds();
    const float k = inkHeight / ink.getHeight();
    g.setColour (colour);
    g.fillPath (outline, juce::AffineTransform::translation (-ink.getX(), -ink.getCentreY())
                             .scaled (k)
                             .translated (left, centreY));
}

// Deterministic generator for the decorative trace.
struct Lcg
{
    std::uint32_t s;
    float next()
    {
        s = s * 1664525u + 1013904223u;
        return static_cast<float> (s >> 8) / 16777216.0f * 2.0f - 1.0f;
    }
};

void paintWell (juce::Graphics& g, juce::Point<float> centre, float radius)
{
    const auto disc = Rectangle<float> (radius * 2.0f, radius * 2.0f).withCentre (centre);
    ColourGradient well (Colour (0xff050506), centre, Colour (0xff1b1c20), centre.translated (radius, 0.0f), true);
    well.addColour (0.72, Colour (0xff08090a));
    g.setGradientFill (well);
    g.fillEllipse (disc);

    // a lip lit from above, shadowed below
    ColourGradient lip (Colour (0x40ffffff), centre.translated (0.0f, -radius), Colour (0x10ffffff),
                        centre.translated (0.0f, radius), false);
    g.setGradientFill (lip);
    g.drawEllipse (disc.reduced (1.0f), 2.0f);
    g.setColour (Colour (0xff000000).withAlpha (0.6f));
    g.drawEllipse (disc.reduced (4.0f), 3.0f);
}

void paintPhotoPanel (juce::Graphics& g, const juce::Typeface::Ptr& face, Rectangle<float> panel)
{
    // light frame
    g.setGradientFill (ColourGradient (Colour (0xffd6d8dc), panel.getTopLeft(), Colour (0xffa9acb2),
                                       panel.getBottomRight(), false));
    g.fillRect (panel);
    const auto art = panel.reduced (12.0f);
    g.setColour (Colour (0xff5d6066));
    g.drawRect (art.expanded (1.0f), 1.0f);

    juce::Graphics::ScopedSaveState clip (g);
    g.reduceClipRegion (art.toNearestInt());

    g.setGradientFill (ColourGradient (Colour (0xff0c131b), art.getTopLeft(), Colour (0xff050709),
                                       art.getBottomLeft(), false));
    g.fillRect (art);

    // a sound source and the wavefronts it sends out, with their echoes off the right-hand wall
    const juce::Point<float> source (art.getX() + art.getWidth() * 0.24f, art.getY() + art.getHeight() * 0.74f);
    g.setGradientFill (ColourGradient (markBlue.withAlpha (0.22f), source, markBlue.withAlpha (0.0f),
                                       source.translated (art.getWidth() * 0.7f, 0.0f), true));
    g.fillRect (art);
    const juce::Point<float> image (2.0f * art.getRight() - source.x, source.y);
    for (int i = 1; i <= 16; ++i)
    {
        const float r = 26.0f * static_cast<float> (i) + 4.0f * static_cast<float> (i * i) * 0.25f;
        const float alpha = 0.5f * std::exp (-0.14f * static_cast<float> (i));
        g.setColour (markBlue.withAlpha (alpha));
        g.drawEllipse (Rectangle<float> (2.0f * r, 2.0f * r).withCentre (source), 1.6f);
        if (r > image.x - art.getRight())
        {
            g.setColour (markBlue.withAlpha (alpha * 0.45f));
            g.drawEllipse (Rectangle<float> (2.0f * r, 2.0f * r).withCentre (image), 1.2f);
        }
    }

    // an impulse response: a few early spikes, then a tail dying away
    Lcg rng { 0x4b544fu };
    const float axisY = art.getY() + art.getHeight() * 0.50f;
    const float x0 = art.getX() + 40.0f, x1 = art.getRight() - 30.0f;
    const float amp = art.getHeight() * 0.17f;
    g.setColour (Colour (0x30ffffff));
    g.fillRect (x0, axisY - 0.5f, x1 - x0, 1.0f);
    for (float x = x0; x < x1; x += 2.0f)
    {
        const float t = (x - x0) / (x1 - x0);
        float a = amp * std::exp (-5.0f * t) * (0.25f + 0.75f * std::abs (rng.next()));
        if (x - x0 < 70.0f && rng.next() > 0.55f)
            a = amp * (0.6f + 0.4f * rng.next()) * (1.0f - (x - x0) / 90.0f);
        const float up = a * (0.4f + 0.6f * std::abs (rng.next()));
        g.setColour (pointerBlue.withAlpha (0.35f + 0.6f * std::exp (-2.5f * t)));
        g.fillRect (x, axisY - up, 1.4f, up + a);
    }

    // caption box, upper right
    const Rectangle<float> caption (art.getRight() - 212.0f, art.getY() + 22.0f, 190.0f, 70.0f);
    g.setColour (Colour (0x80000000));
    g.fillRoundedRectangle (caption, 6.0f);
    g.setColour (Colour (0x40ffffff));
    g.drawRoundedRectangle (caption, 6.0f, 1.0f);
    fillTextAt (g, face, "Convolution", caption.getX() + 16.0f, caption.getY() + 24.0f, 18.0f, Colour (0xffd8d8d8));
    fillTextAt (g, face, "six spaces, zero latency", caption.getX() + 16.0f, caption.getY() + 50.0f, 13.0f,
                Colour (0xff8a9098));

    // maker's brand, lower left
    fillTextAt (g, face, "VorrelAudioTools", art.getX() + 22.0f, art.getBottom() - 32.0f, 20.0f,
                Colour (0xb0ffffff));
}
} // namespace

juce::Image paintKnobBody()
{
    juce::Image img (juce::Image::ARGB, static_cast<int> (knobSide), static_cast<int> (knobSide), true);
    juce::Graphics g (img);
    const juce::Point<float> c (knobCentre, knobCentre);

    // soft shadow ring around the disc, fading out towards the picture's edges
    Path ring;
    ring.addEllipse (Rectangle<float> (knobSide, knobSide));
    ring.addEllipse (Rectangle<float> (2.0f * discRadius, 2.0f * discRadius).withCentre (c));
    ring.setUsingNonZeroWinding (false);
    ColourGradient shadow (Colour (0x00000000), c, Colour (0x00000000), c.translated (knobCentre, 0.0f), true);
    shadow.addColour (discRadius / knobCentre, Colour (0x26000000));
    shadow.addColour (0.80, Colour (0x14000000));
    shadow.addColour (0.90, Colour (0x07000000));
    shadow.addColour (0.97, Colour (0x02000000));
    g.setGradientFill (shadow);
    g.fillPath (ring);

    // the translucent disc: most opaque at its upper left, almost clear at its lower right
    const Colour grey (92, 91, 91);
    const float d = discRadius * 0.7071f;
    ColourGradient face (grey.withAlpha (0.55f), c.translated (-d, -d), grey.withAlpha (0.07f), c.translated (d, d),
                         false);
    face.addColour (0.5, grey.withAlpha (0.30f));
    g.setGradientFill (face);
    const auto disc = Rectangle<float> (2.0f * discRadius, 2.0f * discRadius).withCentre (c);
    g.fillEllipse (disc);

    // a faint sheen just inside the rim, then the rim itself
    g.setGradientFill (ColourGradient (Colour (0x30ffffff), c.translated (-d, -d), Colour (0x00ffffff),
                                       c.translated (d * 0.3f, d * 0.3f), false));
    g.drawEllipse (disc.reduced (5.0f), 2.0f);
    g.setColour (Colour (47, 47, 47));
    g.drawEllipse (disc.reduced (1.25f), 2.5f);

    // range marks: start, middle, end of the knob's travel
    g.setColour (markBlue);
    for (float deg : { -135.0f, 0.0f, 135.0f })
    {
        const float a = juce::degreesToRadians (deg);
        const juce::Point<float> dir (std::sin (a), -std::cos (a));
        g.drawLine (juce::Line<float> (c + dir * 150.0f, c + dir * 183.0f), 8.0f);
        g.fillEllipse (Rectangle<float> (8.0f, 8.0f).withCentre (c + dir * 150.0f));
        g.fillEllipse (Rectangle<float> (8.0f, 8.0f).withCentre (c + dir * 183.0f));
    }
    return img;
}

juce::Image paintKnobPointer()
{
    juce::Image img (juce::Image::ARGB, static_cast<int> (knobSide), static_cast<int> (knobSide), true);
    juce::Graphics g (img);

    // at 12 o'clock of the rotation, 118 px above the centre, inside the body's disc
    const juce::Point<float> dot (knobCentre, knobCentre - 118.0f);
    constexpr float glowRadius = 68.0f;
    ColourGradient glow (pointerBlue.withAlpha (0.85f), dot, pointerBlue.withAlpha (0.0f),
                         dot.translated (glowRadius, 0.0f), true);
    glow.addColour (0.08, pointerBlue.withAlpha (0.55f));
    glow.addColour (0.18, pointerBlue.withAlpha (0.26f));
    glow.addColour (0.35, pointerBlue.withAlpha (0.10f));
    glow.addColour (0.65, pointerBlue.withAlpha (0.03f));
    g.setGradientFill (glow);
    g.fillEllipse (Rectangle<float> (2.0f * glowRadius, 2.0f * glowRadius).withCentre (dot));

    g.setColour (pointerBlue);
    g.fillEllipse (Rectangle<float> (10.0f, 10.0f).withCentre (dot));
    g.setColour (Colour (0xffc8f0ff));
    g.fillEllipse (Rectangle<float> (4.0f, 4.0f).withCentre (dot));
    return img;
}

juce::Image paintBackground (const juce::Typeface::Ptr& face)
{
    constexpr int width = 1100, height = 1003;
    juce::Image img (juce::Image::ARGB, width, height, true);
    juce::Graphics g (img);
    const float w = static_cast<float> (width);

    const Colour text (0xffb0b0b0);
    const Colour band (0xff3b3d42), bandDark (0xff1a1b1e);

    // body
    g.setGradientFill (ColourGradient (Colour (0xff141518), 0.0f, px (65.0f), Colour (0xff0b0c0e), 0.0f,
                                       px (457.5f), false));
    g.fillRect (0.0f, 0.0f, w, static_cast<float> (height));

    // title band: lighter than the body, darkening towards the right
    const float bandBottom = px (65.0f);
    g.setGradientFill (ColourGradient (band, 0.0f, 0.0f, bandDark, w, 0.0f, false));
    g.fillRect (0.0f, 0.0f, w, bandBottom);
    g.setGradientFill (ColourGradient (Colour (0x18ffffff), 0.0f, 0.0f, Colour (0x00ffffff), 0.0f, bandBottom, false));
    g.fillRect (0.0f, 0.0f, w, bandBottom);
    g.setColour (Colour (0xff55585e));
    g.fillRect (0.0f, bandBottom - 2.0f, w, 1.0f);
    g.setColour (Colour (0xff000000));
    g.fillRect (0.0f, bandBottom - 1.0f, w, 2.0f);
    g.setGradientFill (ColourGradient (Colour (0x80000000), 0.0f, bandBottom + 1.0f, Colour (0x00000000), 0.0f,
                                       bandBottom + 14.0f, false));
    g.fillRect (0.0f, bandBottom + 1.0f, w, 13.0f);

    fillTextInto (g, face, "KTOstvik Reverb", windowRect (19.0f, 23.0f, 195.0f, 25.0f), Colour (0xffe8e8e8), true);

    // a recess for the bypass toggle at the band's right end
    const auto toggleFace = windowRect (474.0f, 17.0f, 55.0f, 34.0f);
    g.setColour (Colour (0x60000000));
    g.fillRoundedRectangle (toggleFace.expanded (6.0f), 12.0f);
    g.setColour (Colour (0x22ffffff));
    g.drawRoundedRectangle (toggleFace.expanded (6.5f), 12.5f, 1.0f);

    // a tray behind the preset row
    const auto tray = windowRect (14.0f, 73.0f, 522.0f, 30.0f);
    g.setColour (Colour (0xff0a0a0c));
    g.fillRoundedRectangle (tray, 8.0f);
    g.setColour (Colour (0xff232429));
    g.drawRoundedRectangle (tray, 8.0f, 1.0f);

    // thin light rule under the preset row, fading at its ends
    ColourGradient rule (Colour (0x00808690), px (31.5f), 0.0f, Colour (0x00808690), px (515.0f), 0.0f, false);
    rule.addColour (0.12, Colour (0xff6e737b));
    rule.addColour (0.88, Colour (0xff6e737b));
    g.setGradientFill (rule);
    g.fillRect (px (31.5f), px (109.5f), px (515.0f) - px (31.5f), 2.0f);

    // the controls' column
    const auto column = windowRect (18.0f, 124.0f, 178.0f, 326.0f);
    g.setColour (Colour (0xff15161a));
    g.fillRoundedRectangle (column, 14.0f);
    g.setColour (Colour (0xff24262b));
    g.drawRoundedRectangle (column.reduced (0.5f), 14.0f, 1.0f);

    // reverb type strip, caption at its left; the bar's value text sits at its right
    const auto strip = windowRect (24.5f, 133.5f, 165.0f, 22.0f);
    g.setColour (Colour (0xff2b2c30));
    g.fillRoundedRectangle (strip, 4.0f);
    g.setColour (Colour (0xff3a3c41));
    g.drawRoundedRectangle (strip.reduced (0.5f), 4.0f, 1.0f);
    fillTextInto (g, face, "Reverb Type", windowRect (33.0f, 133.5f, 63.0f, 22.0f), text, false);

    // the knobs' wells and their captions
    paintWell (g, { px (106.0f), px (239.0f) }, px (66.0f));
    paintWell (g, { px (106.0f), px (376.0f) }, px (66.0f));
    fillTextInto (g, face, "Mix", windowRect (78.0f, 178.0f, 18.0f, 8.0f), text, false);
    fillTextInto (g, face, "Gain", windowRect (73.0f, 315.0f, 22.0f, 8.0f), text, false);

    paintPhotoPanel (g, face, windowRect (216.5f, 134.0f, 295.5f, 295.5f));

    // bottom band: lighter at its left end, the maker's name on it
    const float footTop = px (457.5f);
    g.setGradientFill (ColourGradient (Colour (0xff414349), 0.0f, 0.0f, bandDark, w * 0.8f, 0.0f, false));
    g.fillRect (0.0f, footTop, w, static_cast<float> (height) - footTop);
    g.setColour (Colour (0xff000000));
    g.fillRect (0.0f, footTop, w, 2.0f);
    g.setColour (Colour (0xff55585e));
    g.fillRect (0.0f, footTop + 2.0f, w, 1.0f);
    fillTextAt (g, face, "VorrelAudioTools", px (19.0f), px (479.0f), 26.0f, Colour (0xffd0d0d0));
    return img;
}
} // namespace resgen
