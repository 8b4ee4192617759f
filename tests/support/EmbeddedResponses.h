#pragma once

namespace ktotest
{
// Frames of the six embedded impulse responses (stereo, 44.1 kHz) by reverb type, as
// tools/resgen makes them: 7.72, 7.68, 7.66, 6.29, 6.88 and 2.15 s.
inline constexpr int responseFrames[] = { 340317, 338624, 337851, 277383, 303342, 94990 };
inline constexpr int framesOfType (int type) { return responseFrames[type - 1]; }
inline constexpr int longestResponseFrames = responseFrames[0];
} // namespace ktotest
