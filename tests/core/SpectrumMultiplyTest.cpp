#include "SpectrumMultiply.h"

#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <random>
#include <vector>

namespace
{
struct Block
{
    explicit Block (int count, unsigned seed) : values (static_cast<size_t> (2 * count + 4))
    {
        std::mt19937 rng (seed);
        std::uniform_real_distribution<float> dist (-2.0f, 2.0f);
        for (auto& v : values)
            v = dist (rng);
    }
    // std::vector's storage from the default allocator is 16-byte aligned on x86-64.
    float* data() { return values.data(); }
    std::vector<float> values;
};
} // namespace

// Against the double-precision product (within single rounding) and bit for bit against the
// single-precision formula, for counts that exercise the vector body and the scalar tail.
TEST (SpectrumMultiply, MatchesComplexProductValueByValue)
{
    for (int count : { 0, 1, 2, 3, 4, 5, 7, 8, 64, 1025 })
    {
        Block p (count, 1), s (count, 2), acc (count, 3);
        ASSERT_EQ (reinterpret_cast<std::uintptr_t> (p.data()) % 16, 0u);
        const auto accBefore = acc.values;

        std::vector<float> product (static_cast<size_t> (2 * count + 4), 99.0f);
        spectrumMultiply (product.data(), p.data(), s.data(), count);
        spectrumMultiplyAdd (acc.data(), p.data(), s.data(), count);

        for (int k = 0; k < count; ++k)
        {
            const auto i = static_cast<size_t> (2 * k);
            const float a = p.values[i], b = p.values[i + 1], c = s.values[i], d = s.values[i + 1];
            const float re = a * c - b * d, im = a * d + b * c;
            ASSERT_EQ (product[i], re) << count << " " << k;
            ASSERT_EQ (product[i + 1], im) << count << " " << k;
            ASSERT_EQ (acc.values[i], accBefore[i] + re);
            ASSERT_EQ (acc.values[i + 1], accBefore[i + 1] + im);
            const std::complex<double> exact = std::complex<double> (a, b) * std::complex<double> (c, d);
            EXPECT_NEAR (product[i], exact.real(), 8.0 * 4.0 / 16777216.0);
            EXPECT_NEAR (product[i + 1], exact.imag(), 8.0 * 4.0 / 16777216.0);
        }
        // Nothing past count is touched.
        for (size_t i = static_cast<size_t> (2 * count); i < product.size(); ++i)
        {
            EXPECT_EQ (product[i], 99.0f);
            EXPECT_EQ (acc.values[i], accBefore[i]);
        }
    }
}

TEST (SpectrumMultiply, MayWriteOverASource)
{
    Block p (16, 4), s (16, 5);
    std::vector<float> expected (32);
    spectrumMultiply (expected.data(), p.data(), s.data(), 16);
    spectrumMultiply (s.data(), p.data(), s.data(), 16);
    EXPECT_EQ (std::vector<float> (s.values.begin(), s.values.begin() + 32), expected);
}
