// The real Processor's four parameters, as a host reads them through the stand-in.
#include "PluginHarness.h"

#include <iterator>

using namespace ktotest;

TEST (PluginParameters, TheFourAsTheHostReadsThem)
{
    const struct Row
    {
        const char* id;
        const char* name;
        const char* label;
        float min, max, skew, def;
        int steps;
        const char* texts[4]; // at normalised 0, 1 / steps, 0.5 and 1
    } rows[] = {
        { "bypassID", "Bypass", "", 0.0f, 1.0f, 0.0f, 0.0f, 1, { "0", "1", "0.5", "1" } },
        { "revTypeID", "Reverb Type", "", 1.0f, 6.0f, 0.0f, 1.0f, 5, { "1", "2", "3.5", "6" } },
        { "mixID", "Mix", "%", 0.0f, 100.0f, 0.0f, 50.0f, 64, { "0", "1.5625", "50", "100" } },
        { "gainID", "Gain", "dB", -18.0f, 18.0f, 0.0f, 0.0f, 72, { "-18", "-17.5", "0", "18" } },
    };
    Host host;
    const auto& params = host.unit.getProcessor().getParameters();
    ASSERT_EQ (params.size(), (int) std::size (rows));
    for (int i = 0; i < params.size(); ++i)
    {
        const auto& row = rows[i];
        SCOPED_TRACE (row.id);
        auto* p = dynamic_cast<zmk::ParamStep*> (params[i]);
        ASSERT_NE (p, nullptr);
        EXPECT_EQ (p->paramID, row.id);
        EXPECT_EQ (p->getVersionHint(), 1);
        EXPECT_EQ (p->getName (100), row.name);
        EXPECT_EQ (p->getLabel(), row.label);
        EXPECT_EQ (p->range.min, row.min);
        EXPECT_EQ (p->range.max, row.max);
        EXPECT_EQ (p->range.skew, row.skew);
        EXPECT_EQ (p->get(), row.def);
        EXPECT_FLOAT_EQ (p->getDefaultValue(), (row.def - row.min) / (row.max - row.min));
        EXPECT_EQ (p->getValue(), p->getDefaultValue());
        EXPECT_EQ (p->getNumSteps(), row.steps);
        EXPECT_EQ (p->getCategory(), juce::AudioProcessorParameter::genericParameter);
        EXPECT_TRUE (p->isAutomatable());
        EXPECT_FALSE (p->isOrientationInverted());
        EXPECT_FALSE (p->isMetaParameter());
        const float at[] = { 0.0f, 1.0f / (float) row.steps, 0.5f, 1.0f };
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ (p->getText (at[k], 0), row.texts[k]) << "at " << at[k];
    }
    EXPECT_EQ (params[1]->getName (3), "Rev");
}
