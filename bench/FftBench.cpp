#include "FftBench.h"

#include "Fft.h"

#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>

namespace
{
// Eight forward-inverse pairs per batch grow the data by N^8 at most (2^120 for 32768); starting
// near 2^-60 the values stay clear of both overflow and denormals, and an exact power-of-two
// rescale between batches (untimed) brings them back.
constexpr int kPairsPerBatch = 8;

template <typename Batch>
double medianNsPerTransform (float* data, int n, Batch&& batch)
{
    const float start = std::ldexp (1.0f, -60);
    std::mt19937 rng (1);
    std::uniform_real_distribution<float> dist (-1.0f, 1.0f);
    for (int i = 0; i < 2 * n; ++i)
        data[i] = start * dist (rng);
    const float rescale = std::ldexp (1.0f, -kPairsPerBatch * static_cast<int> (std::lround (std::log2 (n))));

    using Clock = std::chrono::steady_clock;
    std::vector<double> samples;
    double spent = 0.0;
    for (int warm = 0; warm < 3; ++warm)
    {
        batch();
        for (int i = 0; i < 2 * n; ++i)
            data[i] *= rescale;
    }
    while ((samples.size() < 31 || spent < 0.25) && samples.size() < 200000)
    {
        const auto t0 = Clock::now();
        batch();
        const auto t1 = Clock::now();
        const double seconds = std::chrono::duration<double> (t1 - t0).count();
        spent += seconds;
        samples.push_back (seconds * 1e9 / (2 * kPairsPerBatch));
        for (int i = 0; i < 2 * n; ++i)
            data[i] *= rescale;
    }
    std::nth_element (samples.begin(), samples.begin() + static_cast<long> (samples.size() / 2), samples.end());
    return samples[samples.size() / 2];
}
} // namespace

std::vector<FftBenchRow> measureFft()
{
    fftInitTables();
    std::vector<FftBenchRow> rows;
    for (int n = 16; n <= 32768; n *= 2)
    {
        auto* buffer = static_cast<float*> (fftwf_malloc (sizeof (float) * 2 * static_cast<size_t> (n)));
        auto* complexBuffer = reinterpret_cast<fftwf_complex*> (buffer);
        fftwf_plan forward = fftwf_plan_dft_1d (n, complexBuffer, complexBuffer, FFTW_FORWARD, FFTW_MEASURE);
        fftwf_plan backward = fftwf_plan_dft_1d (n, complexBuffer, complexBuffer, FFTW_BACKWARD, FFTW_MEASURE);

        FftBenchRow row {};
        row.size = n;
        row.ourNs = medianNsPerTransform (buffer, n, [&] {
            for (int i = 0; i < kPairsPerBatch; ++i)
            {
                fftTransform (buffer, n, 0);
                fftTransform (buffer, n, 1);
            }
        });
        row.fftwNs = medianNsPerTransform (buffer, n, [&] {
            for (int i = 0; i < kPairsPerBatch; ++i)
            {
                fftwf_execute (forward);
                fftwf_execute (backward);
            }
        });
        row.ratio = row.ourNs / row.fftwNs;
        rows.push_back (row);

        fftwf_destroy_plan (forward);
        fftwf_destroy_plan (backward);
        fftwf_free (buffer);
    }
    return rows;
}
