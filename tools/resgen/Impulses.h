#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace resgen
{
// One synthesised room: early reflections, then a diffuse tail whose bands die away at their
// own reverberation times.
struct SpaceDesign
{
    const char* name;
    int frames;            // length of the file in sample frames
    double rt60Low;        // reverberation time (s) at and below 200 Hz
    double rt60Mid;        // at 1 kHz
    double rt60High;       // at and above 8 kHz
    double predelayMs;     // first arrival
    double earlyEndMs;     // where the last discrete reflection falls
    int earlyCount;        // discrete reflections per channel
    double earlyLevel;     // first reflection relative to the tail's starting level
    double buildupMs;      // how long the diffuse tail takes to grow in
    double highShelfDb;    // tilt of the tail's starting spectrum, per octave above 1 kHz
    std::uint64_t seed;
};

constexpr int impulseSampleRate = 44100;
constexpr int impulseBits = 24;
constexpr unsigned impulseBlockSize = 4096;

const std::vector<SpaceDesign>& spaceDesigns();

// Two channels of samples in [-1, 1).
struct StereoImpulse
{
    std::vector<double> left, right;
};

StereoImpulse synthesise (const SpaceDesign& design);

// Writes 24-bit stereo FLAC, fixed 4096-sample blocks, STREAMINFO then an empty comment block.
bool writeFlac (const StereoImpulse& impulse, const std::string& path);
} // namespace resgen
