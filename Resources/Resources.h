#pragma once

// The embedded assets, generated at build time by tools/resgen.
namespace kto::resources
{
struct Entry
{
    const unsigned char* data;
    int size;
};

// 0-5: impulse responses of reverb types 1 to 6 (FLAC); 6: knob pointer (PNG);
// 7: knob body (PNG); 8: editor background (PNG); 9: the TrueType font.
enum Index
{
    impulseType1 = 0,
    knobPointer = 6,
    knobBody = 7,
    background = 8,
    font = 9,
    numEntries = 10
};

extern const Entry table[numEntries];
} // namespace kto::resources
