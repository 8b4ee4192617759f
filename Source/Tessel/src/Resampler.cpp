#include "Resampler.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "Simd.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define KTO_POISON(address, bytes) ASAN_POISON_MEMORY_REGION (address, bytes)
#define KTO_UNPOISON(address, bytes) ASAN_UNPOISON_MEMORY_REGION (address, bytes)
#else
#define KTO_POISON(address, bytes) ((void) (address), (void) (bytes))
#define KTO_UNPOISON(address, bytes) ((void) (address), (void) (bytes))
#endif

namespace
{
constexpr int maxChannels = 64;
constexpr double pi = 3.14159265358979323846;
constexpr std::int64_t maxBytes = std::numeric_limits<std::int32_t>::max();

bool channelCountOk (int numChannels) noexcept
{
    return numChannels >= 1 && numChannels <= maxChannels;
}

// Two dot products of one stretch of input with two table rows: products in single precision,
// sums in double precision.
void dotTwoRows (const float* rowA, const float* rowB, const float* x, int taps, int stride, double& sumA,
                 double& sumB) noexcept
{
    int k = 0;
    double a = 0.0;
    double b = 0.0;
    if (stride == 1)
    {
        using namespace simd::sse2;
        D2 a0 = D2::zero(), a1 = D2::zero(), b0 = D2::zero(), b1 = D2::zero();
        for (; k + 4 <= taps; k += 4)
        {
            const F4 v = F4::load (x + k);
            const F4 pa = F4::load (rowA + k) * v;
            const F4 pb = F4::load (rowB + k) * v;
            a0 = a0 + widenLow (pa);
            a1 = a1 + widenHigh (pa);
            b0 = b0 + widenLow (pb);
            b1 = b1 + widenHigh (pb);
        }
        const D2 sa = a0 + a1, sb = b0 + b1;
        a = sa.first() + sa.second();
        b = sb.first() + sb.second();
    }
    double a2 = 0.0, b2 = 0.0;
    for (; k + 2 <= taps; k += 2)
    {
        const float x0 = x[k * stride];
        const float x1 = x[(k + 1) * stride];
        a += static_cast<double> (rowA[k] * x0);
        a2 += static_cast<double> (rowA[k + 1] * x1);
        b += static_cast<double> (rowB[k] * x0);
        b2 += static_cast<double> (rowB[k + 1] * x1);
    }
    for (; k < taps; ++k)
    {
        a += static_cast<double> (rowA[k] * x[k * stride]);
        b += static_cast<double> (rowB[k] * x[k * stride]);
    }
    sumA = a + a2;
    sumB = b + b2;
}
} // namespace

Resampler::~Resampler()
{
    KTO_UNPOISON (input.data, static_cast<size_t> (input.allocated));
    input.release();
    table.release();
    std::free (lowpassState);
}

void Resampler::setMode (bool interpolate_, int iirCount_, bool sinc, int sincSize_, int phases_)
{
    if (sinc && sincSize_ >= 4)
    {
        sincSize = sincSize_ > 8192 ? 8192 : (sincSize_ & ~1);
        phases = phases_ < 2 ? 1 : std::min (phases_, 8192);
    }
    else
    {
        sincSize = 0;
        phases = 1;
    }
    iirCount = (sincSize == 0 && iirCount_ > 0) ? std::min (iirCount_, 4) : 0;
    interpolate = interpolate_ && sincSize == 0;
    if (sincSize == 0)
    {
        table.resize (0, true);
        tableSincSize = 0;
    }
    if (iirCount == 0)
    {
        std::free (lowpassState);
        lowpassState = nullptr;
    }
}

void Resampler::setRates (double inRate_, double outRate_)
{
    // Non-finite rates are as unusable as those below 1.
    const auto usable = [] (double r) { return std::isfinite (r) && r >= 1.0 ? r : 1.0; };
    inRate_ = usable (inRate_);
    outRate_ = usable (outRate_);
    if (inRate_ == inRate && outRate_ == outRate)
        return;
    inRate = inRate_;
    outRate = outRate_;
    ratio = inRate / outRate;
}

bool Resampler::growInput (int numFrames, int numChannels)
{
    const std::int64_t bytes = static_cast<std::int64_t> (numFrames) * numChannels * 4;
    // Under AddressSanitizer the spare bytes beyond the store's size are off limits, so a write
    // past the room handed out is caught even though the allocation has slack.
    KTO_UNPOISON (input.data, static_cast<size_t> (input.allocated));
    const bool grown = input.resizeTo (bytes, false);
    if (input.data != nullptr)
        KTO_POISON (static_cast<char*> (input.data) + input.size, static_cast<size_t> (input.allocated - input.size));
    return grown;
}

int Resampler::prepare (int outFrames, int numChannels, float** inputPointer)
{
    if (! channelCountOk (numChannels))
        return 0;

    const int d = sincSize;
    bool historyOk = true;
    if (d >= 4)
    {
        const int h = d / 2 - 1;
        if (held < h)
        {
            historyOk = growInput (h, numChannels);
            if (historyOk)
            {
                std::memset (frames(), 0, static_cast<size_t> (h) * numChannels * sizeof (float));
                held = h;
            }
        }
    }

    int got = 0;
    if (historyOk)
    {
        // Capped so that byte counts stay within 32 bits: a larger demand is met in several rounds.
        const double need = std::min (std::trunc (std::max (outFrames, 0) * ratio), 4.0e9);
        const std::int64_t maxFrames = maxBytes / (numChannels * 4);
        std::int64_t wanted = static_cast<std::int64_t> (need) + d + 4 - held;
        wanted = std::clamp<std::int64_t> (wanted, 0, std::max<std::int64_t> (maxFrames - held, 0));
        for (;;)
        {
            if (growInput (held + static_cast<int> (wanted), numChannels))
            {
                got = static_cast<int> (wanted);
                break;
            }
            if (wanted >= 5)
            {
                wanted /= 2;
                continue;
            }
            got = std::max (static_cast<int> (input.size / (numChannels * 4)) - held, 0);
            break;
        }
    }

    inputPointer[0] = frames() != nullptr ? frames() + static_cast<size_t> (held) * numChannels : nullptr;
    room = got;
    return got;
}

void Resampler::buildSincTable (double cutoff)
{
    if (cutoff == tableCutoff && tableSincSize == sincSize && tablePhases == phases)
        return;
    const int P = phases;
    const int d = sincSize;
    tablePhases = P;
    tableCutoff = cutoff;
    const int half = d / 2;

    const std::int64_t count = static_cast<std::int64_t> (d) * (P + 1);
    if (! table.resizeTo (count * 4, true) || d <= 0)
    {
        tableSincSize = 0;
        return;
    }
    tableSincSize = d;

    float* taps = reinterpret_cast<float*> (table.data);
    for (int i = 0; i <= P; ++i)
    {
        for (int k = 0; k < d; ++k)
        {
            const double u = k + static_cast<double> (i) / P;
            double tap = 1.0;
            if (u - half != 0.0)
            {
                const double a = (2.0 * pi / d) * u;
                const double s = (u - half) * (pi * cutoff);
                const double w = ((-0.48829 * std::cos (a) + 0.35875) + 0.14128 * std::cos (2.0 * a))
                                 + (-0.01168) * std::cos (3.0 * a);
                tap = std::sin (s) * w / s;
            }
            taps[static_cast<std::int64_t> (i) * d + k] = static_cast<float> (tap);
        }
    }

    // Row 0's exact centre is left out of the sum and added back as the 1.
    double sum = 0.0;
    for (std::int64_t n = 0; n < static_cast<std::int64_t> (P) * d; ++n)
        if (n != half)
            sum += static_cast<double> (taps[n]);
    const double factor = P / (sum + 1.0);
    for (std::int64_t n = 0; n < count; ++n)
        taps[n] = static_cast<float> (static_cast<double> (taps[n]) * factor);
}

Resampler::LowpassState* Resampler::lowpass()
{
    if (lowpassState == nullptr)
    {
        auto* state = static_cast<LowpassState*> (std::malloc (sizeof (LowpassState)));
        if (state != nullptr)
        {
            std::memset (state, 0, sizeof (LowpassState));
            state->corner = -1.0;
            lowpassState = state;
        }
    }
    return lowpassState;
}

void Resampler::runLowpass (float* samples, int numFrames, int numChannels, double corner)
{
    LowpassState* st = lowpass();
    if (st == nullptr)
        return;
    if (std::abs (corner - st->corner) >= 1e-6)
    {
        const double w0 = pi * corner;
        const double alpha = std::sin (w0) / (2.0 * static_cast<double> (lowpassQ));
        const double inv = 1.0 / (1.0 + alpha);
        const double c = std::cos (w0);
        st->b1 = (1.0 - c) * inv;
        st->b0 = st->b1 * 0.5;
        st->b2 = st->b0;
        st->a1 = -2.0 * c * inv;
        st->a2 = (1.0 - alpha) * inv;
        st->corner = corner;
    }
    for (int ch = 0; ch < numChannels; ++ch)
    {
        for (int s = 0; s < iirCount; ++s)
        {
            double* m = st->memory[ch * iirCount + s];
            double x1 = m[0], x2 = m[1], y1 = m[2], y2 = m[3];
            for (int i = 0; i < numFrames; ++i)
            {
                float& sample = samples[static_cast<size_t> (i) * numChannels + ch];
                const double x = sample;
                double y = st->b0 * x + st->b1 * x1 + st->b2 * x2 - st->a1 * y1 - st->a2 * y2;
                if (std::fpclassify (y) == FP_ZERO || std::fpclassify (y) == FP_SUBNORMAL)
                    y = 0.0;
                x2 = x1;
                x1 = x;
                y2 = y1;
                y1 = y;
                sample = static_cast<float> (y);
            }
            m[0] = x1;
            m[1] = x2;
            m[2] = y1;
            m[3] = y2;
        }
    }
}

int Resampler::resampleOut (float* out, int inFrames, int outFrames, int numChannels)
{
    if (! channelCountOk (numChannels))
        return 0;
    const int nc = numChannels;
    inFrames = std::max (inFrames, 0);
    const int fresh = std::min (room, inFrames);

    if (iirCount > 0 && ratio > 1.0 && fresh > 0)
        runLowpass (frames() + static_cast<size_t> (held) * nc, fresh, nc, lowpassFreq / ratio);

    held += fresh;
    std::int64_t total = held;

    bool padded = false;
    if (inFrames < room)
    {
        const std::int64_t z = 2 * (static_cast<std::int64_t> (room) - inFrames + sincSize);
        if (held + z <= std::numeric_limits<int>::max() && growInput (held + static_cast<int> (z), nc))
        {
            std::memset (frames() + static_cast<size_t> (held) * nc, 0, static_cast<size_t> (z) * nc * sizeof (float));
            total = held + z;
            padded = true;
        }
    }

    const float* in = frames();
    int produced = 0;
    int m = 0;
    if (sincSize > 0)
    {
        buildSincTable (ratio > 1.0 ? 1.0 / (1.03 * ratio) : 1.0);
        m = tableSincSize;
        const int P = tablePhases;
        const float* taps = reinterpret_cast<const float*> (table.data);
        while (produced < outFrames)
        {
            const auto idx = static_cast<std::int64_t> (position);
            if (idx >= total - m - 1)
                break;
            const double f = position - static_cast<double> (idx);
            const double y = P * f;
            const int r = std::min (static_cast<int> (y), P - 1);
            const double t = y - r;
            float* o = out + static_cast<size_t> (produced) * nc;
            if (m > 0)
            {
                const float* rowA = taps + static_cast<size_t> (P - r) * m;
                const float* rowB = rowA - m;
                for (int c = 0; c < nc; ++c)
                {
                    double a, b;
                    dotTwoRows (rowA, rowB, in + idx * nc + c, m, nc, a, b);
                    o[c] = static_cast<float> ((1.0 - t) * a + t * b);
                }
            }
            else
            {
                std::fill (o, o + nc, 0.0f);
            }
            ++produced;
            position += ratio;
        }
    }
    else
    {
        const std::int64_t stop = interpolate ? total - 1 : total;
        while (produced < outFrames)
        {
            const auto idx = static_cast<std::int64_t> (position);
            if (idx >= stop)
                break;
            const double f = position - static_cast<double> (idx);
            float* o = out + static_cast<size_t> (produced) * nc;
            const float* x = in + idx * nc;
            for (int c = 0; c < nc; ++c)
                o[c] = interpolate ? static_cast<float> (static_cast<double> (x[nc + c]) * f
                                                         + static_cast<double> (x[c]) * (1.0 - f))
                                   : x[c];
            ++produced;
            position += ratio;
        }
    }

    if (iirCount > 0 && ratio < 1.0 && produced > 0)
        runLowpass (out, produced, nc, static_cast<double> (lowpassFreq) * ratio);

    if (produced > 0 && padded)
    {
        const double g = sincSize > 0 ? m / 2 - 1 : 0;
        const double e = (position - held + g) / ratio;
        if (e > 0.0)
            produced = std::max (produced - static_cast<int> (std::trunc (e + 0.5)), 0);
    }

    const auto n = static_cast<std::int64_t> (position);
    position -= static_cast<double> (n);
    const std::int64_t left = held - n;
    if (left > 0)
    {
        std::memmove (frames(), frames() + n * nc, static_cast<size_t> (left) * nc * sizeof (float));
        held = static_cast<int> (left);
    }
    else
    {
        held = 0;
    }
    // The room was used up: frames written without a new prepare are not taken (they could lie
    // beyond the store).
    room = 0;
    return produced;
}

void Resampler::reset (double newPosition)
{
    room = 0;
    held = 0;
    // A read position before the history (or not a number) would index outside the store.
    position = newPosition > 0.0 ? std::min (newPosition, 2147483647.0) : 0.0;
    if (lowpassState != nullptr)
        std::memset (lowpassState->memory, 0, sizeof (lowpassState->memory));
}
