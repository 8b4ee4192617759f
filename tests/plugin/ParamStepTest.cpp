#include "TestProcessor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using ktotest::paramRows;
using ktotest::TestProcessor;

TEST (ParamStep, MapsBetweenRealUnitsAndNormalisedValuesWithinTheRange)
{
    // Real value = min + (max - min) x normalised, computed here in double, with the normalised
    // value clamped to 0..1; NaN leaves the value where it was (here at 0.7).
    constexpr float inf = std::numeric_limits<float>::infinity();
    const float normals[] = { 0.0f, 1.0f / 64.0f, 0.25f, 0.5f, 0.7f, 1.0f, 1.2f, -0.5f, 2.0f, 0.7f, std::nanf (""), inf, -inf };
    TestProcessor proc;

    for (size_t i = 0; i < 4; ++i)
    {
        const auto& s = paramRows[i];
        auto* p = proc.params[i];

        for (float n : normals)
        {
            SCOPED_TRACE (juce::String (s.id) + " " + juce::String (n));
            p->setValue (n);
            const double held = std::isnan (n) ? 0.7 : juce::jlimit (0.0, 1.0, (double) n);
            EXPECT_NEAR (p->get(), s.min + (double (s.max) - s.min) * held, 1e-5 * (s.max - s.min));
            EXPECT_NEAR (p->getValue(), held, 1e-6);
        }
    }

    proc.params[2]->setValue (1.2f);
    EXPECT_EQ (proc.params[2]->get(), 100.0f);
    proc.params[3]->setValue (-0.5f);
    EXPECT_EQ (proc.params[3]->get(), -18.0f);
}

TEST (ParamStep, ConvertsBetweenValuesAndTexts)
{
    TestProcessor proc;
    struct TextCase { int index; float normalised; int maxLength; const char* text; };
    const TextCase toText[] = {
        { 2, 0.5f, 0, "50" },
        { 3, 0.5f, 0, "0" },
        { 3, 0.0f, 0, "-18" },
        { 3, 1.0f, 0, "18" },
        { 1, 1.0f, 0, "6" },
        { 1, 0.0f, 0, "1" },
        { 2, 1.0f / 64.0f, 0, "1.5625" },
        { 2, 33.0f / 64.0f, 0, "51.5625" },
        { 2, 33.0f / 64.0f, 2, "51" },
        { 2, 33.0f / 64.0f, -1, "51.5625" },
        { 2, 33.0f / 64.0f, 100, "51.5625" },
        { 0, 1.0f, 0, "1" },
    };
    for (const auto& c : toText)
    {
        SCOPED_TRACE (c.text);
        EXPECT_EQ (proc.params[(size_t) c.index]->getText (c.normalised, c.maxLength), juce::String (c.text));
    }

    // The text of a value, not the current one, is given.
    proc.params[2]->setValue (0.0f);
    EXPECT_EQ (proc.params[2]->getText (0.5f, 0), "50");

    // Answers stay within 0..1; a text that is no finite number gives the current value.
    proc.params[3]->setValue (0.75f);
    struct ValueCase { int index; const char* text; float normalised; };
    const ValueCase toValue[] = {
        { 2, "50", 0.5f },
        { 2, "25 %", 0.25f },
        { 2, "200", 1.0f },
        { 3, "no number", 0.5f },
        { 1, "", 0.0f },
        { 3, "-9 dB", 0.25f },
        { 2, "1.5625", 1.0f / 64.0f },
        { 1, "3.5", 0.5f },
        { 3, "nan", 0.75f },
        { 3, "inf dB", 0.75f },
        { 3, "-inf", 0.75f },
        { 3, "1e39", 0.75f },
        { 3, "1e30", 1.0f },
        { 3, "-40", 0.0f },
    };
    for (const auto& c : toValue)
    {
        SCOPED_TRACE (c.text);
        EXPECT_NEAR (proc.params[(size_t) c.index]->getValueForText (c.text), c.normalised, 1e-6);
    }
}

TEST (ParamStep, SkewedRangeFollowsTheLogCurve)
{
    const ParamRange r (0.0f, 100.0f, 1.0f);
    // k = 10: real = (10^n - 1) / 9 of the span.
    for (double n : { 0.0, 0.25, 0.5, 0.75, 1.0 })
    {
        SCOPED_TRACE (n);
        const double expected = 100.0 * (std::pow (10.0, n) - 1.0) / 9.0;
        EXPECT_NEAR (r.fromNormalised ((float) n), expected, 1e-4);
        EXPECT_NEAR (r.toNormalised ((float) expected), n, 1e-6);
    }
    EXPECT_NEAR (r.fromNormalised (0.5f) / 100.0f, 0.24025, 1e-5);
    EXPECT_NEAR (r.toNormalised (r.fromNormalised (0.5f)), 0.5f, 1e-6);

    const ParamRange nanSkew (0.0f, 1.0f, std::nanf (""));
    EXPECT_TRUE (std::isnan (nanSkew.fromNormalised (0.5f)));
}
