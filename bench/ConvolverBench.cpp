#include "ConvolverBench.h"

#include "Convolver.h"
#include "ResampleBuffer.h"

#include "../tests/support/EmbeddedResponses.h"
#include "../tests/support/Signals.h"

#include <samplerate.h>
#include <soxr.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>

namespace
{
constexpr int impulseFrames = ktotest::longestResponseFrames; // 7.72 s at 44.1 kHz
constexpr int repeats = 5;
constexpr double twoPi = 6.283185307179586476925;

// Median wall time of repeats runs of work, each after its own untimed setup.
double medianMs (const std::function<void()>& setup, const std::function<void()>& work)
{
    std::vector<double> ms;
    for (int r = 0; r < repeats; ++r)
    {
        setup();
        const auto t0 = std::chrono::steady_clock::now();
        work();
        const auto t1 = std::chrono::steady_clock::now();
        ms.push_back (std::chrono::duration<double, std::milli> (t1 - t0).count());
    }
    std::sort (ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

std::vector<float> interleave (const Buffer& b)
{
    const int n = b.audio.getNumSamples();
    const int nc = b.audio.getNumChannels();
    std::vector<float> out (n * nc);
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < nc; ++c)
            out[i * nc + c] = b.audio.getSample (c, i);
    return out;
}

std::vector<float> viaSamplerate (const std::vector<float>& in, int channels, int newRate)
{
    const long frames = static_cast<long> (in.size()) / channels;
    std::vector<float> out (static_cast<size_t> (std::ceil (static_cast<double> (frames) * (newRate / 44100.0)) + 16) * channels);
    SRC_DATA data {};
    data.data_in = in.data();
    data.input_frames = frames;
    data.data_out = out.data();
    data.output_frames = static_cast<long> (out.size()) / channels;
    data.src_ratio = newRate / 44100.0;
    src_simple (&data, SRC_SINC_BEST_QUALITY, channels);
    out.resize (data.output_frames_gen * channels);
    return out;
}

std::vector<float> viaSoxr (const std::vector<float>& in, int channels, int newRate)
{
    const size_t frames = in.size() / channels;
    std::vector<float> out (static_cast<size_t> (std::ceil (static_cast<double> (frames) * (newRate / 44100.0)) + 16) * channels);
    const soxr_io_spec_t io = soxr_io_spec (SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec (SOXR_VHQ, 0);
    size_t done = 0;
    soxr_oneshot (44100, newRate, static_cast<unsigned> (channels), in.data(), frames, nullptr, out.data(),
                  out.size() / channels, &done, &io, &quality, nullptr);
    out.resize (done * channels);
    return out;
}

// Error against the ideal sine at the best whole-sample alignment (the libraries may delay).
ConvolverBenchError sineError (const std::string& name, const std::vector<float>& y, int rate, double freq, int inFrames)
{
    ConvolverBenchError best { name, rate, freq, 1e9, 1e9 };
    const int margin = static_cast<int> (0.05 * rate);
    const int last = static_cast<int> (inFrames * (rate / 44100.0)) - margin;
    for (int lag = -64; lag <= 64; ++lag)
    {
        double worst = 0.0, sum = 0.0;
        int n = 0;
        for (int j = margin; j < last && j + lag < static_cast<int> (y.size()); ++j, ++n)
        {
            const double e = y[j + lag] - std::sin (twoPi * freq * j / rate);
            worst = std::max (worst, std::abs (e));
            sum += e * e;
        }
        const double rms = std::sqrt (sum / std::max (n, 1));
        if (rms < best.rmsError)
        {
            best.rmsError = rms;
            best.maxError = worst;
        }
    }
    return best;
}
} // namespace

ConvolverBenchResult measureConvolver()
{
    ConvolverBenchResult result;
    // Half-scale noise falling by e over every 1.2 s.
    Buffer source = ktotest::decayingNoise (impulseFrames, 44100, 2, 12345u, 0.5, impulseFrames / (1.2 * 44100));
    const std::vector<float> interleaved = interleave (source);
    std::unique_ptr<Convolver> convolver;
    const auto fresh = [&] { convolver = std::make_unique<Convolver> (&source); };
    const auto at = [&] (double rate) {
        return [&, rate] {
            fresh();
            convolver->prepare (rate);
        };
    };
    const auto nothing = [] {};
    // A rebuild on a Convolver that has rebuilt before, as a reverb-type change meets it: the
    // memory it needs has been used already, so first-touch costs stay out of the figure.
    const auto warmAt = [&] (double rate) {
        return [&, rate] {
            at (rate)();
            convolver->setImpulse (source);
        };
    };

    for (int rate : { 48000, 96000 })
        result.times.push_back ({ "resampleBuffer to " + std::to_string (rate),
                                  medianMs (nothing, [&] { resampleBuffer (source, rate); }) });
    for (double rate : { 48000.0, 96000.0 })
        result.times.push_back ({ "Convolver::prepare " + std::to_string (static_cast<int> (rate)) + " (resample, rebuild)",
                                  medianMs (fresh, [&] { convolver->prepare (rate); }) });
    result.times.push_back ({ "Convolver::setImpulse at 44100 (rebuild only, warm)",
                              medianMs (warmAt (44100.0), [&] { convolver->setImpulse (source); }) });
    for (double rate : { 48000.0, 96000.0 })
        result.times.push_back ({ "Convolver::setImpulse at " + std::to_string (static_cast<int> (rate))
                                      + " (resample, rebuild, warm)",
                                  medianMs (warmAt (rate), [&] { convolver->setImpulse (source); }) });
    convolver.reset();
    for (int rate : { 48000, 96000 })
    {
        result.times.push_back ({ "libsamplerate SINC_BEST to " + std::to_string (rate),
                                  medianMs (nothing, [&] { viaSamplerate (interleaved, 2, rate); }) });
        result.times.push_back ({ "libsoxr VHQ to " + std::to_string (rate),
                                  medianMs (nothing, [&] { viaSoxr (interleaved, 2, rate); }) });
    }

    constexpr int sineFrames = 44100;
    for (double freq : { 1000.0, 10000.0 })
    {
        Buffer sine (1, sineFrames, 44100);
        float* x = sine.audio.getWritePointer (0);
        for (int i = 0; i < sineFrames; ++i)
            x[i] = static_cast<float> (std::sin (twoPi * freq * i / 44100.0));
        const std::vector<float> mono (x, x + sineFrames);
        for (int rate : { 48000, 96000 })
        {
            const Buffer ours = resampleBuffer (sine, rate);
            const float* y = ours.audio.getReadPointer (0);
            result.errors.push_back (
                sineError ("resampleBuffer", std::vector<float> (y, y + ours.audio.getNumSamples()), rate, freq, sineFrames));
            result.errors.push_back (sineError ("libsamplerate", viaSamplerate (mono, 1, rate), rate, freq, sineFrames));
            result.errors.push_back (sineError ("libsoxr", viaSoxr (mono, 1, rate), rate, freq, sineFrames));
        }
    }
    return result;
}
