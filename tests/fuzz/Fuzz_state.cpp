// Host state from anywhere: any bytes handed to Processor::setStateInformation.
#include "FuzzSupport.h"

#include <climits>

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    if (size > (size_t) INT_MAX)
        return 0;
    auto& p = kto::fuzz::processor();
    kto::fuzz::resetParameters();

    p.setStateInformation (data, (int) size);
    // Whatever was applied must save, restore and drive the audio road.
    juce::MemoryBlock saved;
    p.getStateInformation (saved);
    p.setStateInformation (saved.getData(), (int) saved.getSize());
    kto::fuzz::processProbeBlock();
    return 0;
}
