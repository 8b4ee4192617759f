#include "Fft.h"

#include "Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

using ktotest::noise;

namespace
{
using cd = std::complex<double>;
constexpr double kTwoPi = 6.283185307179586476925;

// The split-radix order from its recursive definition: bin held at each position.
std::vector<int> splitRadixOrder (int n)
{
    std::vector<int> order (n);
    if (n <= 2)
    {
        for (int p = 0; p < n; ++p)
            order[p] = p;
        return order;
    }
    const auto half = splitRadixOrder (n / 2);
    const auto quarter = splitRadixOrder (n / 4);
    for (int p = 0; p < n / 2; ++p)
        order[p] = 2 * half[p];
    for (int p = 0; p < n / 4; ++p)
    {
        order[n / 2 + p] = (4 * quarter[p] - 1 + n) % n;
        order[3 * n / 4 + p] = 4 * quarter[p] + 1;
    }
    return order;
}

cd at (const std::vector<float>& x, int k) { return { x[2 * k], x[2 * k + 1] }; }

// One value of the unscaled DFT (sign -1) or its inverse (sign +1), in double precision.
cd dftValue (const std::vector<cd>& in, int k, int sign, const std::vector<cd>& roots)
{
    const int n = static_cast<int> (in.size());
    cd sum = 0.0;
    for (int j = 0; j < n; ++j)
    {
        const cd w = roots[(static_cast<long long> (j) * k) % n];
        sum += in[j] * (sign < 0 ? std::conj (w) : w);
    }
    return sum;
}

std::vector<cd> unitRoots (int n)
{
    std::vector<cd> roots (n);
    for (int j = 0; j < n; ++j)
        roots[j] = std::polar (1.0, kTwoPi * j / n);
    return roots;
}

double rms (const std::vector<cd>& v)
{
    double s = 0.0;
    for (const auto& z : v)
        s += std::norm (z);
    return std::sqrt (s / static_cast<double> (v.size()));
}

// Positions to check against the direct sum: all of them up to 4096, a spread sample beyond.
std::vector<int> checkedPositions (int n)
{
    std::vector<int> positions;
    const int stride = n <= 4096 ? 1 : n / 1024;
    for (int p = 0; p < n; p += stride)
        positions.push_back (p);
    for (int p : { 1, n / 2, n / 2 + 1, 3 * n / 4, n - 1 })
        if (p < n)
            positions.push_back (p);
    return positions;
}

double log2Of (int n) { return std::max (1.0, std::log2 (static_cast<double> (n))); }
constexpr double kEps = 1.0 / 16777216.0; // 2^-24

// The two first-use tests need a process in which nothing has filled the tables yet (their
// storage is zero until then). ctest gives them one, as it runs every case in a process of its
// own; run together with the others they find the tables filled and skip.
bool tablesUnfilled() { return fftTwiddleTable (16, nullptr)[0] == 0.0f; }
constexpr const char* notFirstUse = "an earlier test in this process filled the FFT tables; ctest runs this case alone";

class FftSizes : public ::testing::TestWithParam<int>
{
protected:
    void SetUp() override { fftInitTables(); }
};
} // namespace

// Forward against the definition read through the split-radix order; inverse against the
// definition taking its input in that order; and the round trip giving N times the input.
TEST_P (FftSizes, MatchesDoublePrecisionDft)
{
    const int n = GetParam();
    const auto order = splitRadixOrder (n);
    const auto roots = unitRoots (n);
    const auto input = noise (2 * n, static_cast<unsigned> (n));

    std::vector<cd> x (n);
    for (int k = 0; k < n; ++k)
        x[k] = at (input, k);
    const double outScale = rms (x) * std::sqrt (static_cast<double> (n));
    const double bound = 2.0 * log2Of (n) * kEps * outScale;

    auto data = input;
    fftTransform (data.data(), n, 0);
    double worst = 0.0;
    for (int p : checkedPositions (n))
        worst = std::max (worst, std::abs (at (data, p) - dftValue (x, order[p], -1, roots)));
    EXPECT_LE (worst, bound) << "forward, size " << n;

    // The inverse reads Y[rho(p)] at position p; feed it the random block as such a spectrum.
    std::vector<cd> y (n);
    for (int p = 0; p < n; ++p)
        y[order[p]] = at (input, p);
    data = input;
    fftTransform (data.data(), n, 1);
    worst = 0.0;
    for (int t : checkedPositions (n))
        worst = std::max (worst, std::abs (at (data, t) - dftValue (y, t, +1, roots)));
    EXPECT_LE (worst, bound) << "inverse, size " << n;

    data = input;
    fftTransform (data.data(), n, 0);
    fftTransform (data.data(), n, 1);
    worst = 0.0;
    for (int k = 0; k < n; ++k)
        worst = std::max (worst, std::abs (at (data, k) - static_cast<double> (n) * x[k]));
    EXPECT_LE (worst, 2.0 * bound * std::sqrt (static_cast<double> (n))) << "round trip, size " << n;
}

// Known spectra: an impulse gives ones, a constant gives N at position 0, and the unit
// exponentials land at 3N/4 (bin 1) and N/2 (bin N - 1).
TEST_P (FftSizes, KnownSpectraLandAtTheirPositions)
{
    const int n = GetParam();
    const double tol = 4.0 * log2Of (n) * kEps * n;
    struct Case
    {
        const char* name;
        std::function<cd (int)> signal;
        int peakPosition;
        double peak;
    };
    const std::vector<Case> cases {
        { "impulse", [] (int k) { return k == 0 ? cd (1.0) : cd (0.0); }, -1, 1.0 },
        { "ones", [] (int) { return cd (1.0); }, 0, static_cast<double> (n) },
        { "exp(+)", [n] (int k) { return std::polar (1.0, kTwoPi * k / n); }, n >= 4 ? 3 * n / 4 : 1, static_cast<double> (n) },
        { "exp(-)", [n] (int k) { return std::polar (1.0, -kTwoPi * k / n); }, n >= 4 ? n / 2 : 1, static_cast<double> (n) },
    };
    for (const auto& c : cases)
    {
        std::vector<float> data (2 * n);
        for (int k = 0; k < n; ++k)
        {
            const cd v = c.signal (k);
            data[2 * k] = static_cast<float> (v.real());
            data[2 * k + 1] = static_cast<float> (v.imag());
        }
        fftTransform (data.data(), n, 0);
        for (int p = 0; p < n; ++p)
        {
            const cd want = c.peakPosition < 0 ? cd (c.peak) : (p == c.peakPosition ? cd (c.peak) : cd (0.0));
            ASSERT_LE (std::abs (at (data, p) - want), tol) << c.name << ", size " << n << ", position " << p;
        }
    }
}

INSTANTIATE_TEST_SUITE_P (AllSizes, FftSizes,
                          ::testing::Values (2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096, 8192, 16384, 32768));

TEST (Fft, SmallSizesFollowTheirFormulas)
{
    float two[] = { 1.0f, 2.0f, 0.5f, -3.0f };
    fftTransform (two, 2, 0);
    EXPECT_EQ (std::vector<float> (two, two + 4), (std::vector<float> { 1.5f, -1.0f, 0.5f, 5.0f }));
    fftTransform (two, 2, 1);
    EXPECT_EQ (std::vector<float> (two, two + 4), (std::vector<float> { 2.0f, 4.0f, 1.0f, -6.0f }));

    // (a, b, c, d) -> (a+b+c+d, (a+c)-(b+d), (a-c)+i(b-d), (a-c)-i(b-d)) with a = 1, b = 2+i,
    // c = 4-2i, d = 8+0.5i: a-c = -3+2i and i(b-d) = -0.5-6i.
    float four[] = { 1.0f, 0.0f, 2.0f, 1.0f, 4.0f, -2.0f, 8.0f, 0.5f };
    fftTransform (four, 4, 0);
    EXPECT_EQ (std::vector<float> (four, four + 8),
               (std::vector<float> { 15.0f, -0.5f, -5.0f, -3.5f, -3.5f, -4.0f, -2.5f, 8.0f }));
}

TEST (Fft, UnsupportedSizesLeaveDataAlone)
{
    fftInitTables();
    const auto input = noise (2 * 65536, 7);
    for (int size : { 0, 1, 3, 6, 100, -8, 65536, 48, 1 << 30 })
        for (int inverse : { 0, 1 })
        {
            auto data = input;
            fftTransform (data.data(), size, inverse);
            ASSERT_EQ (std::memcmp (data.data(), input.data(), input.size() * sizeof (float)), 0) << size;
        }
}

TEST (Fft, AnyNonZeroFlagSelectsInverse)
{
    fftInitTables();
    for (int n : { 4, 64, 2048 })
    {
        const auto input = noise (2 * n, 3);
        auto reference = input;
        fftTransform (reference.data(), n, 1);
        auto forward = input;
        fftTransform (forward.data(), n, 0);
        ASSERT_NE (forward, reference);
        for (int flag : { 2, -1, 1 << 20 })
        {
            auto data = input;
            fftTransform (data.data(), n, flag);
            EXPECT_EQ (data, reference) << "flag " << flag << ", size " << n;
        }
    }
}

TEST (Fft, TwiddleTablesHoldTheirAnglesAndShareHalfSizeEntries)
{
    fftInitTables();
    int total = 0;
    for (int n = 16; n <= 32768; n *= 2)
    {
        int entries = 0;
        const float* t = fftTwiddleTable (n, &entries);
        ASSERT_NE (t, nullptr);
        EXPECT_EQ (entries, n == 16 ? 3 : (n <= 512 ? n / 4 - 1 : n / 8 - 1));
        total += entries;
        for (int k = 0; k < entries; ++k)
        {
            const double theta = kTwoPi * (k + 1) / n;
            EXPECT_NEAR (t[2 * k], std::cos (theta), 6e-8) << n << " " << k;
            EXPECT_NEAR (t[2 * k + 1], std::sin (theta), 6e-8) << n << " " << k;
            if (n >= 32 && k % 2 == 1)
            {
                const float* half = fftTwiddleTable (n / 2, nullptr);
                EXPECT_EQ (std::memcmp (t + 2 * k, half + (k - 1), 2 * sizeof (float)), 0) << n << " " << k;
            }
        }
    }
    EXPECT_EQ (total, 8304);
    const float* t16 = fftTwiddleTable (16, nullptr);
    EXPECT_EQ (std::vector<float> (t16, t16 + 6),
               (std::vector<float> { 0.9238795f, 0.38268343f, 0.70710677f, 0.70710677f, 0.38268343f, 0.9238795f }));
    for (int bad : { 8, 0, 48, 65536 })
        EXPECT_EQ (fftTwiddleTable (bad, nullptr), nullptr);

    // A second call changes nothing.
    const float* all = fftTwiddleTable (16, nullptr);
    const std::vector<float> before (all, all + 2 * 8304);
    fftInitTables();
    EXPECT_EQ (std::memcmp (before.data(), all, before.size() * sizeof (float)), 0);
}

// A transform in a process where nobody has filled the tables still matches the definition
// instead of using empty tables.
TEST (Fft, TransformBeforeAnyInitIsCorrect)
{
    if (! tablesUnfilled())
        GTEST_SKIP() << notFirstUse;
    constexpr int n = 64;
    const auto input = noise (2 * n, 5);
    auto data = input;
    fftTransform (data.data(), n, 0);
    std::vector<cd> x (n);
    for (int k = 0; k < n; ++k)
        x[k] = at (input, k);
    const auto order = splitRadixOrder (n);
    const auto roots = unitRoots (n);
    for (int p = 0; p < n; ++p)
        ASSERT_LE (std::abs (at (data, p) - dftValue (x, order[p], -1, roots)), 1e-4) << p;
}

// Several threads race the first call; every one must see complete tables when it returns. Run
// under ThreadSanitizer this also checks for races.
TEST (Fft, ConcurrentFirstInitIsSound)
{
    if (! tablesUnfilled())
        GTEST_SKIP() << notFirstUse;
    constexpr int kThreads = 8;
    constexpr int n = 1024;
    const auto input = noise (2 * n, 11);
    std::vector<std::vector<float>> results (kThreads, input);
    std::atomic<int> waiting { kThreads };
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back ([&, i] {
            waiting.fetch_sub (1);
            while (waiting.load() > 0)
                std::this_thread::yield();
            fftInitTables();
            fftTransform (results[i].data(), n, 0);
        });
    for (auto& t : threads)
        t.join();

    auto reference = input;
    fftTransform (reference.data(), n, 0);
    for (const auto& r : results)
        EXPECT_EQ (r, reference);
    // Spot check that the reference itself used real tables: bin 0 is the plain sum.
    cd sum = 0.0;
    for (int k = 0; k < n; ++k)
        sum += at (input, k);
    EXPECT_NEAR (std::abs (at (reference, 0) - sum), 0.0, 1e-3);
}

// A block whose second half is zero transforms to the same bits without that half being read.
TEST (Fft, ZeroPaddedForwardEqualsTheFullTransform)
{
    fftInitTables();
    for (int n = 2; n <= 32768; n *= 2)
    {
        auto full = noise (2 * n, 13);
        std::fill (full.begin() + n, full.end(), 0.0f);
        auto padded = full;
        std::fill (padded.begin() + n, padded.end(), std::nanf (""));
        fftTransform (full.data(), n, 0);
        fftForwardPadded (padded.data(), n);
        EXPECT_EQ (std::memcmp (full.data(), padded.data(), full.size() * sizeof (float)), 0) << "size " << n;
    }
    auto data = noise (2 * 64, 14);
    const auto before = data;
    fftForwardPadded (data.data(), 48);
    EXPECT_EQ (data, before);
}
