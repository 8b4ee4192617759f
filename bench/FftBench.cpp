#include "FftBench.h"

#include "Fft.h"

#include <fftw3.h>

#include "../tests/support/Signals.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>

namespace
{
// Eight forward-inverse pairs per batch grow the data by N^8 at most (2^120 for 32768); starting
// near 2^-60 the values stay clear of both overflow and denormals, and an exact power-of-two
// rescale between batches (untimed) brings them back.
constexpr int kPairsPerBatch = 8;

struct Contender
{
    float* data;
    std::function<void()> pair; // one forward and one inverse transform in place
    std::vector<double> samples;
};

void fill (float* data, int n)
{
    ktotest::Lcg source { 1 };
    ktotest::fillNoise (data, 2 * n, source, std::ldexp (1.0, -60));
}

double median (std::vector<double>& v)
{
    std::nth_element (v.begin(), v.begin() + static_cast<long> (v.size() / 2), v.end());
    return v[v.size() / 2];
}

// Times batches of both contenders alternately, so that both see the same machine load.
void measure (Contender& ours, Contender& theirs, int n)
{
    using Clock = std::chrono::steady_clock;
    const float rescale = std::ldexp (1.0f, -kPairsPerBatch * static_cast<int> (std::lround (std::log2 (n))));
    auto batch = [&] (Contender& c, bool record) {
        const auto t0 = Clock::now();
        for (int i = 0; i < kPairsPerBatch; ++i)
            c.pair();
        const double seconds = std::chrono::duration<double> (Clock::now() - t0).count();
        if (record)
            c.samples.push_back (seconds * 1e9 / (2 * kPairsPerBatch));
        for (int i = 0; i < 2 * n; ++i)
            c.data[i] *= rescale;
        return seconds;
    };
    for (int warm = 0; warm < 3; ++warm)
    {
        batch (ours, false);
        batch (theirs, false);
    }
    double spent = 0.0;
    while ((ours.samples.size() < 31 || spent < 0.5) && ours.samples.size() < 200000)
    {
        spent += batch (ours, true);
        spent += batch (theirs, true);
    }
}
} // namespace

std::vector<FftBenchRow> measureFft()
{
    fftInitTables();
    std::vector<FftBenchRow> rows;
    for (int n = 16; n <= 32768; n *= 2)
    {
        const size_t bytes = sizeof (float) * 2 * n;
        auto* ourData = static_cast<float*> (fftwf_malloc (bytes));
        auto* fftwData = static_cast<float*> (fftwf_malloc (bytes));
        auto* fftwComplex = reinterpret_cast<fftwf_complex*> (fftwData);
        fftwf_plan forward = fftwf_plan_dft_1d (n, fftwComplex, fftwComplex, FFTW_FORWARD, FFTW_MEASURE);
        fftwf_plan backward = fftwf_plan_dft_1d (n, fftwComplex, fftwComplex, FFTW_BACKWARD, FFTW_MEASURE);
        fill (ourData, n);
        fill (fftwData, n);

        Contender ours { ourData, [&] { fftTransform (ourData, n, 0); fftTransform (ourData, n, 1); }, {} };
        Contender theirs { fftwData, [&] { fftwf_execute (forward); fftwf_execute (backward); }, {} };
        measure (ours, theirs, n);

        FftBenchRow row {};
        row.size = n;
        row.ourNs = median (ours.samples);
        row.fftwNs = median (theirs.samples);
        row.ratio = row.ourNs / row.fftwNs;
        rows.push_back (row);

        fftwf_destroy_plan (forward);
        fftwf_destroy_plan (backward);
        fftwf_free (ourData);
        fftwf_free (fftwData);
    }
    return rows;
}
