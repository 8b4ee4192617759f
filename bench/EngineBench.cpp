// One run: FFT against FFTW, then the convolution engine against zita-convolver and
// juce::dsp::Convolution on the same 30 s of stereo noise and the same 7.72 s stereo impulse, at
// blocks of 32, 64 and 128 samples. Each convolver runs three rounds, interleaved with the others
// so that all see the same machine load; every figure is given as the median and the worst of the
// three. Block times come from the steady clock, one reading per block; CPU share is the process's
// CPU time over a whole round (zita-convolver's own threads included) over the audio's duration.
// On a busy machine the worst block of a round mostly measures preemption, so the engine's worst
// block at 32 is also given per 16384 samples (the largest stage's hop period), as the median over
// the periods of each period's worst block.
//
//   build/bench/kto_bench            at the widest vector level this CPU has
//   KTO_SIMD=avx2 build/bench/kto_bench, KTO_SIMD=sse2 ...   at a lower one

#include "ConvolutionEngine.h"
#include "FftBench.h"
#include "Resources.h"
#include "SimdLevel.h"

#include "../tests/support/EmbeddedResponses.h"
#include "../tests/support/Owned.h"
#include "../tests/support/Signals.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_dsp/juce_dsp.h>
#include <zita-convolver.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <sched.h>
#include <string>
#include <thread>
#include <time.h>
#include <vector>

namespace
{
constexpr double sampleRate = 44100.0;
constexpr int impulseFrames = ktotest::longestResponseFrames;
constexpr int inputSeconds = 30;
constexpr int warmUpSeconds = 5;
constexpr int rounds = 3;

using ktotest::Channels;

double processCpuSeconds()
{
    timespec t {};
    clock_gettime (CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double> (t.tv_sec) + 1e-9 * static_cast<double> (t.tv_nsec);
}

std::string firstLineWith (const char* path, const char* key)
{
    std::ifstream file (path);
    for (std::string line; std::getline (file, line);)
        if (line.rfind (key, 0) == 0)
            return line.substr (line.find (':') + 2);
    return "unknown";
}

std::string loadAverage()
{
    std::ifstream file ("/proc/loadavg");
    double one = 0, five = 0, fifteen = 0;
    file >> one >> five >> fifteen;
    char text[64];
    std::snprintf (text, sizeof text, "%.2f %.2f %.2f", one, five, fifteen);
    return text;
}

// Stereo noise of +-0.5 that falls by 60 dB (e^6.9) over every decaySeconds (0: steady).
Channels stereoNoise (int frames, unsigned seed, double decaySeconds)
{
    const double decays = decaySeconds > 0.0 ? 6.9 * frames / (decaySeconds * sampleRate) : 0.0;
    return { ktotest::noise (frames, seed, 0.5, decays), ktotest::noise (frames, seed + 1, 0.5, decays) };
}

// The first embedded impulse response when the resources hold it, else decaying noise.
Channels loadImpulse (const char*& origin)
{
    const auto& entry = kto::resources::table[0];
    if (entry.data != nullptr && entry.size > 0)
    {
        juce::FlacAudioFormat flac;
        std::unique_ptr<juce::AudioFormatReader> reader (
            flac.createReaderFor (new juce::MemoryInputStream (entry.data, entry.size, false), true));
        if (reader != nullptr && reader->lengthInSamples > 0)
        {
            const int frames = static_cast<int> (reader->lengthInSamples);
            juce::AudioBuffer<float> buffer (2, frames);
            reader->read (&buffer, 0, frames, 0, true, true);
            Channels c (2, std::vector<float> (frames));
            for (int ch = 0; ch < 2; ++ch)
                std::copy (buffer.getReadPointer (ch), buffer.getReadPointer (ch) + frames, c[ch].begin());
            origin = "embedded impulse 1";
            return c;
        }
    }
    origin = "synthetic decaying stereo noise";
    return stereoNoise (impulseFrames, 7, 7.72);
}

struct Result
{
    double cpuShare = 0.0; // of one core, in percent
    double p999Us = 0.0;
    double worstUs = 0.0;
    double periodWorstUs = 0.0; // median over periods of 16384 samples of their worst block
    long lateCycles = 0; // zita-convolver: process calls that reported a late partition
};

// Runs process on every block of the input (after the first warmUp blocks, untimed) and times it.
Result measure (const Channels& input, Channels& output, int block, int warmUpBlocks,
                const std::function<void (const float* const*, float* const*, int)>& process)
{
    using Clock = std::chrono::steady_clock;
    const int frames = static_cast<int> (input[0].size());
    std::vector<double> times;
    times.reserve (frames / block + 1);
    auto runBlock = [&] (int pos) {
        const float* in[2] = { input[0].data() + pos, input[1].data() + pos };
        float* out[2] = { output[0].data() + pos, output[1].data() + pos };
        process (in, out, block);
    };
    int pos = 0;
    for (int b = 0; b < warmUpBlocks && pos + block <= frames; ++b, pos += block)
        runBlock (pos);
    const int measuredFrom = pos;
    const double cpuStart = processCpuSeconds();
    auto previous = Clock::now();
    for (; pos + block <= frames; pos += block)
    {
        runBlock (pos);
        const auto now = Clock::now();
        times.push_back (std::chrono::duration<double, std::micro> (now - previous).count());
        previous = now;
    }
    const double cpu = processCpuSeconds() - cpuStart;
    std::vector<double> periodWorst;
    const int blocksPerPeriod = std::max (1, 16384 / block);
    for (size_t first = 0; first + blocksPerPeriod <= times.size(); first += blocksPerPeriod)
        periodWorst.push_back (*std::max_element (times.begin() + static_cast<long> (first),
                                                   times.begin() + static_cast<long> (first) + blocksPerPeriod));
    std::sort (periodWorst.begin(), periodWorst.end());
    Result r;
    r.periodWorstUs = periodWorst.empty() ? 0.0 : periodWorst[periodWorst.size() / 2];
    r.cpuShare = 100.0 * cpu / (static_cast<double> (pos - measuredFrom) / sampleRate);
    std::sort (times.begin(), times.end());
    r.p999Us = times[std::min (times.size() - 1, static_cast<size_t> (0.999 * static_cast<double> (times.size())))];
    r.worstUs = times.back();
    return r;
}

int warmUpBlocks (int block) { return warmUpSeconds * static_cast<int> (sampleRate) / block; }

Result runEngine (const Channels& impulse, const Channels& input, Channels& output, int block)
{
    ktotest::Owned<ImpulseBuffer> buffer;
    const float* channels[2] = { impulse[0].data(), impulse[1].data() };
    buffer.set (channels, static_cast<int> (impulse[0].size()), 2);
    ConvolutionEngine engine;
    engine.setImpulse (&buffer, 0, 0, 0, 0, 0);
    // As the Convolver builds it: all working memory in place before the first block.
    engine.reserve (8192, 2);
    auto process = [&] (const float* const* in, float* const* out, int n) {
        engine.add (in, n, 2);
        engine.avail (n);
        float** result = engine.getOutput();
        std::memcpy (out[0], result[0], sizeof (float) * n);
        std::memcpy (out[1], result[1], sizeof (float) * n);
        engine.advance (n);
    };
    const Result r = measure (input, output, block, warmUpBlocks (block), process);
    return r;
}

Result runZita (const Channels& impulse, const Channels& input, Channels& output, int block)
{
    Convproc convolver;
    convolver.set_options (Convproc::OPT_FFTW_MEASURE | Convproc::OPT_VECTOR_MODE);
    const auto frames = static_cast<uint32_t> (impulse[0].size());
    const auto quantum = static_cast<uint32_t> (block);
    if (convolver.configure (2, 2, frames, quantum, std::max<uint32_t> (quantum, Convproc::MINPART), Convproc::MAXPART, 0.5f) != 0)
    {
        std::printf ("zita-convolver: configure failed for block %d\n", block);
        return {};
    }
    convolver.impdata_create (0, 0, 1, const_cast<float*> (impulse[0].data()), 0, static_cast<int32_t> (frames));
    convolver.impdata_create (1, 1, 1, const_cast<float*> (impulse[1].data()), 0, static_cast<int32_t> (frames));
    convolver.start_process (0, SCHED_OTHER);
    long late = 0;
    // sync: each call waits for the partitions due, so the process CPU time holds all of the work.
    auto process = [&] (const float* const* in, float* const* out, int n) {
        std::memcpy (convolver.inpdata (0), in[0], sizeof (float) * n);
        std::memcpy (convolver.inpdata (1), in[1], sizeof (float) * n);
        if ((convolver.process (true) & Convproc::FL_LATE) != 0)
            ++late;
        std::memcpy (out[0], convolver.outdata (0), sizeof (float) * n);
        std::memcpy (out[1], convolver.outdata (1), sizeof (float) * n);
    };
    Result r = measure (input, output, block, warmUpBlocks (block), process);
    r.lateCycles = late;
    convolver.stop_process();
    while (! convolver.check_stop())
        std::this_thread::sleep_for (std::chrono::milliseconds (5));
    convolver.cleanup();
    return r;
}

Result runJuce (const Channels& impulse, const Channels& input, Channels& output, int block)
{
    juce::dsp::Convolution convolution { juce::dsp::Convolution::NonUniform { 4096 } };
    convolution.prepare ({ sampleRate, static_cast<juce::uint32> (block), 2 });
    const int frames = static_cast<int> (impulse[0].size());
    juce::AudioBuffer<float> ir (2, frames);
    for (int ch = 0; ch < 2; ++ch)
        ir.copyFrom (ch, 0, impulse[ch].data(), frames);
    convolution.loadImpulseResponse (std::move (ir), sampleRate, juce::dsp::Convolution::Stereo::yes,
                                     juce::dsp::Convolution::Trim::no, juce::dsp::Convolution::Normalise::no);
    // The response is installed by a background thread and taken over during processing.
    juce::AudioBuffer<float> silence (2, block);
    for (int i = 0; i < 4000 && convolution.getCurrentIRSize() != frames; ++i)
    {
        silence.clear();
        juce::dsp::AudioBlock<float> b (silence);
        convolution.process (juce::dsp::ProcessContextReplacing<float> (b));
        std::this_thread::sleep_for (std::chrono::milliseconds (2));
    }
    for (int i = 0; i < 100; ++i) // let the change-over fade finish
    {
        silence.clear();
        juce::dsp::AudioBlock<float> b (silence);
        convolution.process (juce::dsp::ProcessContextReplacing<float> (b));
    }
    convolution.reset();
    auto process = [&] (const float* const* in, float* const* out, int n) {
        std::memcpy (out[0], in[0], sizeof (float) * n);
        std::memcpy (out[1], in[1], sizeof (float) * n);
        juce::dsp::AudioBlock<float> b (out, 2, n);
        convolution.process (juce::dsp::ProcessContextReplacing<float> (b));
    };
    return measure (input, output, block, warmUpBlocks (block), process);
}

// Largest error against the exact double-precision convolution at spread positions, relative
// to the largest reference value there.
struct Reference
{
    std::vector<int> positions;
    Channels values;
};

Reference makeReference (const Channels& impulse, const Channels& input)
{
    Reference r;
    std::mt19937 random (11);
    const int frames = static_cast<int> (input[0].size());
    std::uniform_int_distribution<int> pick (0, frames - 1);
    for (int i = 0; i < 60; ++i)
        r.positions.push_back (pick (random));
    for (int p : { 0, 63, 64, 255, 256, 1023, 1024, 4095, 4096, 16383, 16384, impulseFrames - 1, impulseFrames, 400000 })
        r.positions.push_back (p);
    r.values.assign (2, std::vector<float> (r.positions.size()));
    for (size_t c = 0; c < 2; ++c)
        for (size_t i = 0; i < r.positions.size(); ++i)
        {
            const int n = r.positions[i];
            double sum = 0.0;
            for (int k = 0; k <= n && k < static_cast<int> (impulse[c].size()); ++k)
                sum += static_cast<double> (impulse[c][k]) * input[c][n - k];
            r.values[c][i] = static_cast<float> (sum);
        }
    return r;
}

// zita-convolver's smallest partition is 64 samples: at smaller blocks it is not a zero-latency
// convolver (its output does not match the exact convolution at any fixed delay).
bool zitaZeroLatency (int block) { return block >= static_cast<int> (Convproc::MINPART); }

double referenceError (const Reference& r, const Channels& out)
{
    double peak = 0.0, worst = 0.0;
    for (size_t c = 0; c < 2; ++c)
        for (size_t i = 0; i < r.positions.size(); ++i)
        {
            const double expected = r.values[c][i];
            peak = std::max (peak, std::fabs (expected));
            worst = std::max (worst, std::fabs (out[c][r.positions[i]] - expected));
        }
    return peak > 0.0 ? worst / peak : worst;
}

// Median and worst of the rounds' values.
struct Spread
{
    double median, worst;
};

Spread spread (std::vector<double> v)
{
    std::sort (v.begin(), v.end());
    return { v[v.size() / 2], v.back() };
}
} // namespace

int main()
{
    std::printf ("CPU: %s; vector level %s; load average at start %s\n\n", firstLineWith ("/proc/cpuinfo", "model name").c_str(),
                 simdLevelName (simdLevel()), loadAverage().c_str());

    std::printf ("FFT, ns per transform (forward and inverse alternating)\n");
    std::printf ("%8s %12s %12s %8s\n", "N", "ours", "FFTW", "ratio");
    double worstFftRatio = 0.0;
    for (const auto& row : measureFft())
    {
        if (row.size < 128)
            continue;
        std::printf ("%8d %12.1f %12.1f %8.2f\n", row.size, row.ourNs, row.fftwNs, row.ratio);
        worstFftRatio = std::max (worstFftRatio, row.ratio);
    }

    const char* origin = "";
    const Channels impulse = loadImpulse (origin);
    const Channels input = stereoNoise (inputSeconds * static_cast<int> (sampleRate), 3, 0.0);
    std::printf ("\nConvolution of %d s of stereo noise at 44.1 kHz (the first %d s untimed) with a %d-frame stereo impulse (%s);\n"
                 "median and worst of %d rounds\n",
                 inputSeconds, warmUpSeconds, static_cast<int> (impulse[0].size()), origin, rounds);
    std::printf ("%6s %-7s %15s %19s %19s %9s\n", "block", "", "CPU % of a core", "p99.9 block us", "worst block us", "budget us");

    const Reference reference = makeReference (impulse, input);
    struct Goals
    {
        Spread worst32, periodWorst32, p999At32, zitaRatioAt64;
    } goals {};
    for (const int block : { 32, 64, 128 })
    {
        const double budget = 1e6 * block / sampleRate;
        Channels ours (2, std::vector<float> (input[0].size())), theirs = ours, juceOut = ours;
        std::vector<Result> engine, zita, juce;
        std::vector<double> zitaRatios;
        double errors[3] = { 0.0, 0.0, 0.0 };
        for (int round = 0; round < rounds; ++round)
        {
            engine.push_back (runEngine (impulse, input, ours, block));
            zita.push_back (runZita (impulse, input, theirs, block));
            juce.push_back (runJuce (impulse, input, juceOut, block));
            zitaRatios.push_back (engine.back().cpuShare / zita.back().cpuShare);
            errors[0] = std::max (errors[0], referenceError (reference, ours));
            errors[1] = std::max (errors[1], referenceError (reference, theirs));
            errors[2] = std::max (errors[2], referenceError (reference, juceOut));
        }
        auto column = [] (const std::vector<Result>& results, double Result::*field) {
            std::vector<double> v;
            for (const auto& r : results)
                v.push_back (r.*field);
            return spread (v);
        };
        auto row = [&] (const char* name, const std::vector<Result>& r, const char* note) {
            const Spread cpu = column (r, &Result::cpuShare), p999 = column (r, &Result::p999Us), worst = column (r, &Result::worstUs);
            std::printf ("%6d %-7s %7.2f %7.2f %9.1f %9.1f %9.1f %9.1f %9.1f %s\n", block, name, cpu.median, cpu.worst, p999.median,
                         p999.worst, worst.median, worst.worst, budget, note);
        };
        row ("engine", engine, "");
        long late = 0;
        for (const auto& r : zita)
            late += r.lateCycles;
        char note[96];
        std::snprintf (note, sizeof note, "(its threads included; %ld late cycles%s)", late,
                       zitaZeroLatency (block) ? "" : "; not zero-latency at this block");
        row ("zita", zita, note);
        row ("juce", juce, "");
        const Spread ratio = spread (zitaRatios);
        char zitaError[16] = "-";
        if (zitaZeroLatency (block))
            std::snprintf (zitaError, sizeof zitaError, "%.1e", errors[1]);
        std::printf ("%6s engine/zita CPU %.2f (worst %.2f); worst error against exact convolution (of its peak): engine %.1e, "
                     "zita %s, juce %.1e\n",
                     "", ratio.median, ratio.worst, errors[0], zitaError, errors[2]);
        if (block == 32)
        {
            goals.worst32 = column (engine, &Result::worstUs);
            goals.periodWorst32 = column (engine, &Result::periodWorstUs);
            goals.p999At32 = column (engine, &Result::p999Us);
        }
        if (block == 64)
            goals.zitaRatioAt64 = ratio;
    }

    const double budget32 = 1e6 * 32 / sampleRate;
    auto verdict = [] (bool met) { return met ? "met" : "NOT met"; };
    std::printf ("\nGoals (median / worst of %d rounds), load average at end %s\n", rounds, loadAverage().c_str());
    std::printf ("  worst block at 32: %.1f / %.1f us = %.0f %% / %.0f %% of the budget (goal 50 %%): %s\n", goals.worst32.median,
                 goals.worst32.worst, 100.0 * goals.worst32.median / budget32, 100.0 * goals.worst32.worst / budget32,
                 verdict (goals.worst32.worst <= 0.5 * budget32));
    std::printf ("  worst block at 32 per 16384 samples, median over the periods: %.1f / %.1f us = %.0f %% / %.0f %%\n",
                 goals.periodWorst32.median, goals.periodWorst32.worst, 100.0 * goals.periodWorst32.median / budget32,
                 100.0 * goals.periodWorst32.worst / budget32);
    std::printf ("  p99.9 block at 32: %.1f / %.1f us = %.0f %% / %.0f %% of the budget (goal 40 %%): %s\n", goals.p999At32.median,
                 goals.p999At32.worst, 100.0 * goals.p999At32.median / budget32, 100.0 * goals.p999At32.worst / budget32,
                 verdict (goals.p999At32.worst <= 0.4 * budget32));
    std::printf ("  CPU at 64 against zita-convolver: %.2f / %.2f (goal 0.35): %s\n", goals.zitaRatioAt64.median,
                 goals.zitaRatioAt64.worst, verdict (goals.zitaRatioAt64.worst <= 0.35));
    std::printf ("  FFT against FFTW, worst N from 128 to 32768: %.2f (goal 1.5): %s\n", worstFftRatio, verdict (worstFftRatio <= 1.5));
    return 0;
}
