#include "TestProcessor.h"

#include <gtest/gtest.h>

#include <cmath>

using ktotest::paramRows;
using ktotest::TestProcessor;

TEST (ParamStep, MapsBetweenRealUnitsAndNormalisedValues)
{
    // Real value = min + (max - min) x normalised, computed here in double; no clamping.
    const float normals[] = { 0.0f, 1.0f / 64.0f, 0.25f, 0.5f, 0.7f, 1.0f, 1.2f, -0.5f, 2.0f };
    TestProcessor proc;

    for (size_t i = 0; i < 4; ++i)
    {
        const auto& s = paramRows[i];
        auto* p = proc.params[i];

        for (float n : normals)
        {
            SCOPED_TRACE (juce::String (s.id) + " " + juce::String (n));
            p->setValue (n);
            const double expectedReal = s.min + (double (s.max) - s.min) * n;
            EXPECT_NEAR (p->get(), expectedReal, 1e-5 * (s.max - s.min));
            EXPECT_NEAR (p->getValue(), n, 1e-6);
        }
    }

    proc.params[2]->setValue (1.2f);
    EXPECT_FLOAT_EQ (proc.params[2]->get(), 120.0f);
    proc.params[3]->setValue (-0.5f);
    EXPECT_FLOAT_EQ (proc.params[3]->get(), -36.0f);
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

    struct ValueCase { int index; const char* text; float normalised; };
    const ValueCase toValue[] = {
        { 2, "50", 0.5f },
        { 2, "25 %", 0.25f },
        { 2, "200", 2.0f },
        { 3, "no number", 0.5f },
        { 1, "", -0.2f },
        { 3, "-9 dB", 0.25f },
        { 2, "1.5625", 1.0f / 64.0f },
        { 1, "3.5", 0.5f },
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
