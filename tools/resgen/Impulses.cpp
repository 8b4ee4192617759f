#include "Impulses.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <array>
#include <cmath>

namespace resgen
{
namespace
{
constexpr double pi = 3.14159265358979323846;
constexpr double fs = impulseSampleRate;

// The same numbers on every run and every platform: no std:: distributions.
class Random
{
public:
    explicit Random (std::uint64_t seed) : state (seed) {}

    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    double uniform() { return static_cast<double> (next() >> 11) * (1.0 / 9007199254740992.0); }

    double gaussian()
    {
        if (hasSpare)
        {
            hasSpare = false;
            return spare;
        }
        const double u1 = std::max (uniform(), 1.0e-300);
        const double u2 = uniform();
        const double r = std::sqrt (-2.0 * std::log (u1));
        spare = r * std::sin (2.0 * pi * u2);
        hasSpare = true;
        return r * std::cos (2.0 * pi * u2);
    }

private:
    std::uint64_t state;
    double spare = 0.0;
    bool hasSpare = false;
};

// Band edges of the diffuse tail; each band decays at the reverberation time of its centre.
constexpr std::array<double, 7> bandEdges { 125.0, 250.0, 500.0, 1000.0, 2000.0, 4000.0, 8000.0 };
constexpr int numBands = static_cast<int> (bandEdges.size()) + 1;

double bandCentre (int band)
{
    if (band == 0)
        return 80.0;
    if (band == numBands - 1)
        return 11000.0;
    return std::sqrt (bandEdges[static_cast<size_t> (band - 1)] * bandEdges[static_cast<size_t> (band)]);
}

double rt60At (const SpaceDesign& d, double hz)
{
    const auto lerpLog = [hz] (double f0, double f1, double v0, double v1)
    { return v0 + (v1 - v0) * std::log (hz / f0) / std::log (f1 / f0); };
    if (hz <= 200.0)
        return d.rt60Low;
    if (hz <= 1000.0)
        return lerpLog (200.0, 1000.0, d.rt60Low, d.rt60Mid);
    if (hz <= 8000.0)
        return lerpLog (1000.0, 8000.0, d.rt60Mid, d.rt60High);
    return d.rt60High;
}

// Two cascaded one-pole low-passes: gentle slopes whose differences split a signal into bands
// that add back up to the signal exactly.
struct LowPass2
{
    double a = 0.0, s1 = 0.0, s2 = 0.0;

    explicit LowPass2 (double hz) : a (1.0 - std::exp (-2.0 * pi * hz / fs)) {}

    double process (double x)
    {
        s1 += a * (x - s1);
        s2 += a * (s1 - s2);
        return s2;
    }
};

void diffuseTail (const SpaceDesign& d, std::vector<double>& out, Random& rng)
{
    const auto frames = out.size();
    const auto start = static_cast<size_t> (d.predelayMs * 0.001 * fs);

    std::array<double, numBands> gain {}, decay {};
    for (int b = 0; b < numBands; ++b)
    {
        const double hz = bandCentre (b);
        const double octavesAbove1k = std::max (0.0, std::log2 (hz / 1000.0));
        gain[static_cast<size_t> (b)] = std::pow (10.0, d.highShelfDb * octavesAbove1k / 20.0);
        // -60 dB after rt60 seconds
        decay[static_cast<size_t> (b)] = std::pow (10.0, -3.0 / (rt60At (d, hz) * fs));
    }

    std::vector<LowPass2> splits;
    for (double edge : bandEdges)
        splits.emplace_back (edge);

    const double buildup = std::max (1.0, d.buildupMs * 0.001 * fs);
    std::array<double, numBands> env = gain;
    for (size_t i = start; i < frames; ++i)
    {
        const double x = rng.gaussian();
        double below = 0.0, y = 0.0;
        for (size_t b = 0; b < splits.size(); ++b)
        {
            const double lp = splits[b].process (x);
            y += (lp - below) * env[b];
            below = lp;
        }
        y += (x - below) * env[numBands - 1];

        for (size_t b = 0; b < env.size(); ++b)
            env[b] *= decay[b];

        const double t = static_cast<double> (i - start) / buildup;
        const double onset = 1.0 - std::exp (-t * t);
        out[i] += y * onset;
    }
}

// Discrete reflections, each a short smoothed blip: the walls absorb the highest frequencies.
void earlyReflections (const SpaceDesign& d, std::vector<double>& out, Random& rng, double channelOffsetMs)
{
    const double t0 = d.predelayMs + channelOffsetMs;
    for (int r = 0; r < d.earlyCount; ++r)
    {
        // density grows with time, as the image sources of a room multiply
        const double u = r == 0 ? 0.0 : rng.uniform();
        const double ms = t0 + (d.earlyEndMs - t0) * std::cbrt (u);
        const double level = d.earlyLevel * std::pow (t0 / ms, 1.3) * (0.45 + 0.55 * rng.uniform())
                           * (rng.uniform() < 0.5 ? -1.0 : 1.0);
        const double width = 1.0 + 6.0 * rng.uniform() + 4.0 * (ms - t0) / std::max (1.0, d.earlyEndMs - t0);

        const double centre = ms * 0.001 * fs;
        const auto first = static_cast<long> (std::floor (centre - width));
        const auto last = static_cast<long> (std::ceil (centre + width));
        double norm = 0.0;
        for (long i = first; i <= last; ++i)
        {
            const double k = std::cos (0.5 * pi * std::min (1.0, std::abs (static_cast<double> (i) - centre) / width));
            norm += k * k;
        }
        for (long i = first; i <= last; ++i)
        {
            if (i < 0 || static_cast<size_t> (i) >= out.size())
                continue;
            const double k = std::cos (0.5 * pi * std::min (1.0, std::abs (static_cast<double> (i) - centre) / width));
            out[static_cast<size_t> (i)] += level * k * k / norm;
        }
    }
}

// Second-order Butterworth high-pass at 18 Hz: removes DC and the rumble no room sustains.
void highPass (std::vector<double>& x)
{
    const double w = std::tan (pi * 18.0 / fs);
    const double q = std::sqrt (0.5);
    const double n = 1.0 / (1.0 + w / q + w * w);
    const double b0 = n, b1 = -2.0 * n, b2 = n;
    const double a1 = 2.0 * (w * w - 1.0) * n, a2 = (1.0 - w / q + w * w) * n;
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    for (auto& s : x)
    {
        const double y = b0 * s + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = s;
        y2 = y1;
        y1 = y;
        s = y;
    }
}
} // namespace

const std::vector<SpaceDesign>& spaceDesigns()
{
    // name, frames, rt60 low/mid/high, predelay, early end, reflections, early level, build-up, tilt, seed
    static const std::vector<SpaceDesign> designs {
        { "hall", 340317, 4.2, 3.4, 1.6, 24.0, 120.0, 28, 9.0, 60.0, -1.0, 0x4b544f31ULL },
        { "church", 338624, 4.8, 4.0, 2.0, 38.0, 190.0, 18, 11.0, 110.0, -1.5, 0x4b544f32ULL },
        { "chamber", 337851, 4.0, 3.6, 2.4, 7.0, 55.0, 40, 6.0, 25.0, 0.0, 0x4b544f33ULL },
        { "room", 277383, 3.4, 2.7, 1.2, 9.0, 70.0, 26, 7.0, 30.0, -2.0, 0x4b544f34ULL },
        { "plate", 303342, 3.8, 3.8, 2.4, 1.0, 1.0, 0, 1.0, 3.0, 1.0, 0x4b544f35ULL },
        { "ambience", 94990, 1.35, 1.1, 0.5, 3.0, 28.0, 22, 5.0, 12.0, -1.0, 0x4b544f36ULL },
    };
    return designs;
}

StereoImpulse synthesise (const SpaceDesign& d)
{
    StereoImpulse ir;
    for (int ch = 0; ch < 2; ++ch)
    {
        auto& out = ch == 0 ? ir.left : ir.right;
        out.assign (static_cast<size_t> (d.frames), 0.0);
        // each channel has its own noise and its own walls
        Random rng (d.seed * 2654435761ULL + static_cast<std::uint64_t> (ch) * 0x7f4a7c15ULL + 1);
        diffuseTail (d, out, rng);
        earlyReflections (d, out, rng, ch == 0 ? 0.0 : 0.37 + 0.9 * rng.uniform());
        highPass (out);
    }

    // Reverb about as loud as the dry signal, with the peak kept well below full scale.
    double energy = 0.0, peak = 0.0;
    for (const auto* ch : { &ir.left, &ir.right })
        for (double s : *ch)
        {
            energy += s * s;
            peak = std::max (peak, std::abs (s));
        }
    const double rms = std::sqrt (energy / 2.0);
    const double scale = std::min (0.7 / rms, std::pow (10.0, -9.0 / 20.0) / peak);

    // Fade the last 50 ms so the file never ends on a step.
    const auto fade = static_cast<size_t> (0.05 * fs);
    for (auto* ch : { &ir.left, &ir.right })
    {
        const auto n = ch->size();
        for (size_t i = 0; i < n; ++i)
        {
            double g = scale;
            if (i + fade >= n)
                g *= 0.5 - 0.5 * std::cos (pi * static_cast<double> (n - 1 - i) / static_cast<double> (fade));
            (*ch)[i] *= g;
        }
    }
    return ir;
}

bool writeFlac (const StereoImpulse& ir, const std::string& path)
{
    const auto frames = ir.left.size();
    std::vector<FLAC__int32> interleaved (frames * 2);
    constexpr double fullScale = 8388608.0;
    for (size_t i = 0; i < frames; ++i)
    {
        for (size_t ch = 0; ch < 2; ++ch)
        {
            const double v = std::round ((ch == 0 ? ir.left : ir.right)[i] * fullScale);
            interleaved[i * 2 + ch] = static_cast<FLAC__int32> (std::clamp (v, -fullScale, fullScale - 1.0));
        }
    }

    FLAC__StreamEncoder* enc = FLAC__stream_encoder_new();
    if (enc == nullptr)
        return false;

    // An explicit comment block without entries: libFLAC then writes exactly STREAMINFO and it.
    FLAC__StreamMetadata* comment = FLAC__metadata_object_new (FLAC__METADATA_TYPE_VORBIS_COMMENT);
    FLAC__StreamMetadata* metadata[] = { comment };

    bool ok = comment != nullptr;
    ok = ok && FLAC__stream_encoder_set_verify (enc, true);
    ok = ok && FLAC__stream_encoder_set_compression_level (enc, 8);
    ok = ok && FLAC__stream_encoder_set_blocksize (enc, impulseBlockSize);
    ok = ok && FLAC__stream_encoder_set_channels (enc, 2);
    ok = ok && FLAC__stream_encoder_set_bits_per_sample (enc, impulseBits);
    ok = ok && FLAC__stream_encoder_set_sample_rate (enc, impulseSampleRate);
    ok = ok && FLAC__stream_encoder_set_total_samples_estimate (enc, frames);
    ok = ok && FLAC__stream_encoder_set_metadata (enc, metadata, 1);
    ok = ok && FLAC__stream_encoder_init_file (enc, path.c_str(), nullptr, nullptr) == FLAC__STREAM_ENCODER_INIT_STATUS_OK;
    ok = ok && FLAC__stream_encoder_process_interleaved (enc, interleaved.data(), static_cast<unsigned> (frames));
    ok = FLAC__stream_encoder_finish (enc) && ok;

    FLAC__stream_encoder_delete (enc);
    if (comment != nullptr)
        FLAC__metadata_object_delete (comment);
    return ok;
}
} // namespace resgen
