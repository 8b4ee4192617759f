#include "ConvolutionStage.h"

#include "Fft.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace
{
constexpr int maxFftSize = 32768;
constexpr int minFftSize = 4;
constexpr double silenceFloor = 1e-12;
constexpr double impulseFloor = 1e-15;

// Values that are not finite or below 2^-54 in magnitude become +0 before any transform.
inline float flush (float value)
{
    std::uint32_t bits;
    std::memcpy (&bits, &value, sizeof bits);
    const std::uint32_t exponent = (bits >> 23) & 0xffu;
    return (exponent >= 73 && exponent <= 254) ? value : 0.0f;
}

inline bool loud (float value)
{
    return std::fabs (static_cast<double> (value)) > silenceFloor;
}

// Largest power of two within 4..32768 not above size.
int holdFftSize (std::int64_t size)
{
    size = std::clamp<std::int64_t> (size, minFftSize, maxFftSize);
    int result = minFftSize;
    while (result * 2 <= size)
        result *= 2;
    return result;
}

bool resizeChecked (HeapBuffer& buffer, std::int64_t bytes, bool allowShrink)
{
    if (bytes < 0 || bytes > std::numeric_limits<std::int32_t>::max())
        return false;
    buffer.resize (static_cast<std::int32_t> (bytes), allowShrink);
    return buffer.size == bytes;
}

void zeroBuffer (HeapBuffer& buffer)
{
    if (buffer.size > 0)
        std::memset (buffer.data, 0, static_cast<std::size_t> (buffer.size));
}

// acc (+)= a * b over count floats of interleaved complex values, 16-byte aligned; count is a
// multiple of 4. The first product is stored rather than added.
void complexMultiplyAccumulate (float* acc, const float* a, const float* b, int count, bool store)
{
#if defined(__SSE2__)
    const __m128 signs = _mm_castsi128_ps (_mm_set_epi32 (0, static_cast<int> (0x80000000u), 0, static_cast<int> (0x80000000u)));
    for (int k = 0; k < count; k += 4)
    {
        const __m128 pa = _mm_load_ps (a + k);
        const __m128 pb = _mm_load_ps (b + k);
        const __m128 re = _mm_shuffle_ps (pa, pa, _MM_SHUFFLE (2, 2, 0, 0));
        const __m128 im = _mm_shuffle_ps (pa, pa, _MM_SHUFFLE (3, 3, 1, 1));
        const __m128 swapped = _mm_shuffle_ps (pb, pb, _MM_SHUFFLE (2, 3, 0, 1));
        const __m128 product = _mm_add_ps (_mm_mul_ps (re, pb), _mm_xor_ps (_mm_mul_ps (im, swapped), signs));
        if (store)
            _mm_store_ps (acc + k, product);
        else
            _mm_store_ps (acc + k, _mm_add_ps (_mm_load_ps (acc + k), product));
    }
#else
    for (int k = 0; k < count; k += 2)
    {
        const float re = a[k] * b[k] - a[k + 1] * b[k + 1];
        const float im = a[k] * b[k + 1] + a[k + 1] * b[k];
        if (store)
        {
            acc[k] = re;
            acc[k + 1] = im;
        }
        else
        {
            acc[k] += re;
            acc[k + 1] += im;
        }
    }
#endif
}

// Output j = sum over m of taps[m] * window[j + m], taps reversed; pairs of outputs share one
// pass over the taps, products and sums in double.
void directForm (const float* taps, int numTaps, const float* window, float* out, int numSamples)
{
    int j = 0;
    for (; j + 1 < numSamples; j += 2)
    {
        const float* w = window + j;
        int m = 0;
#if defined(__SSE2__)
        __m128d a0 = _mm_setzero_pd(), b0 = _mm_setzero_pd(), a1 = _mm_setzero_pd(), b1 = _mm_setzero_pd();
        for (; m + 4 <= numTaps; m += 4)
        {
            const __m128 t = _mm_load_ps (taps + m);
            const __m128d tLow = _mm_cvtps_pd (t);
            const __m128d tHigh = _mm_cvtps_pd (_mm_movehl_ps (t, t));
            const __m128 x0 = _mm_loadu_ps (w + m);
            const __m128 x1 = _mm_loadu_ps (w + m + 1);
            a0 = _mm_add_pd (a0, _mm_mul_pd (tLow, _mm_cvtps_pd (x0)));
            b0 = _mm_add_pd (b0, _mm_mul_pd (tHigh, _mm_cvtps_pd (_mm_movehl_ps (x0, x0))));
            a1 = _mm_add_pd (a1, _mm_mul_pd (tLow, _mm_cvtps_pd (x1)));
            b1 = _mm_add_pd (b1, _mm_mul_pd (tHigh, _mm_cvtps_pd (_mm_movehl_ps (x1, x1))));
        }
        double lanes0[2], lanes1[2];
        _mm_storeu_pd (lanes0, _mm_add_pd (a0, b0));
        _mm_storeu_pd (lanes1, _mm_add_pd (a1, b1));
        double sum0 = lanes0[0] + lanes0[1];
        double sum1 = lanes1[0] + lanes1[1];
#else
        double sum0 = 0.0, sum1 = 0.0;
        for (; m + 4 <= numTaps; m += 4)
            for (int q = 0; q < 4; ++q)
            {
                sum0 += static_cast<double> (taps[m + q]) * w[m + q];
                sum1 += static_cast<double> (taps[m + q]) * w[m + q + 1];
            }
#endif
        for (; m < numTaps; ++m)
        {
            sum0 += static_cast<double> (taps[m]) * w[m];
            sum1 += static_cast<double> (taps[m]) * w[m + 1];
        }
        out[j] = static_cast<float> (sum0);
        out[j + 1] = static_cast<float> (sum1);
    }
    if (j < numSamples)
    {
        const float* w = window + j;
        double sum = 0.0;
        int m = 0;
        for (; m + 4 <= numTaps; m += 4)
            sum += static_cast<double> (taps[m] * w[m] + taps[m + 1] * w[m + 1] + taps[m + 2] * w[m + 2] + taps[m + 3] * w[m + 3]);
        for (; m < numTaps; ++m)
            sum += static_cast<double> (taps[m] * w[m]);
        out[j] = static_cast<float> (sum);
    }
}
} // namespace

ConvolutionStage::ConvolutionStage()
{
    fftInitTables();
}

ConvolutionStage::~ConvolutionStage()
{
    for (int c = 0; c < 2; ++c)
    {
        inputSpectra[c].release();
        inputFlags[c].release();
        overlap[c].release();
    }
    scratch.release();
    for (int c = 0; c < 2; ++c)
    {
        input[c].destroy();
        history[c].release();
        output[c].release();
        impulseFlags[c].release();
        impulseSpectra[c].release();
    }
}

int ConvolutionStage::nParts() const
{
    const int p = partLen();
    return (p > 0 && impulseLen > 0) ? (impulseLen + p - 1) / p : 0;
}

void ConvolutionStage::markFailed()
{
    failed = true;
    for (int c = 0; c < 2; ++c)
    {
        input[c].clear (-1);
        history[c].clear();
        output[c].clear();
    }
}

int ConvolutionStage::setImpulse (const ImpulseBuffer* impulse, int fftSizeWanted, int offset, int maxLength, bool forceDirect)
{
    failed = false;
    const int sourceChannels = impulse != nullptr ? std::clamp (impulse->numChannels, 0, 2) : 0;
    std::int64_t chLen[2] = { 0, 0 };
    std::int64_t longest = 0;
    for (int c = 0; c < sourceChannels; ++c)
    {
        chLen[c] = static_cast<std::int64_t> (impulse->channels[c].size / 4) - offset;
        if (maxLength != 0)
            chLen[c] = std::min<std::int64_t> (chLen[c], maxLength);
        longest = c == 0 ? chLen[c] : std::max (longest, chLen[c]);
    }
    impulseLen = static_cast<int> (std::max<std::int64_t> (longest, 0));

    impulseChannels = sourceChannels;
    if (impulseChannels == 2 && impulse->channels[1].size == impulse->channels[0].size
        && (impulse->channels[0].size == 0
            || std::memcmp (impulse->channels[0].data, impulse->channels[1].data, static_cast<std::size_t> (impulse->channels[0].size)) == 0))
        impulseChannels = 1;

    procChannels = -1;

    if (forceDirect)
    {
        fftSize = 0;
        for (int i = 0; i < impulseChannels; ++i)
        {
            const std::int64_t n = chLen[i];
            if (! resizeChecked (impulseSpectra[i], n > 0 ? n * 4 + 60 : 0, true))
            {
                markFailed();
                return 0;
            }
            if (n > 0)
            {
                float* taps = impulseSpectra[i].alignedView();
                const float* source = impulse->channel (i) + offset;
                for (std::int64_t k = 0; k < n; ++k)
                    taps[n - 1 - k] = source[k];
            }
        }
        for (int c = 0; c < 2; ++c)
        {
            input[c].clear (-1);
            history[c].clear();
            output[c].clear();
        }
        return 0;
    }

    if (fftSizeWanted > 0)
        fftSize = holdFftSize (fftSizeWanted);
    else
    {
        const std::int64_t cap = fftSizeWanted <= -16 ? -2 * static_cast<std::int64_t> (fftSizeWanted) : maxFftSize;
        std::int64_t size = 32;
        while (size < 2 * static_cast<std::int64_t> (impulseLen) && size < cap)
            size *= 2;
        fftSize = holdFftSize (size);
    }

    const int p = partLen();
    const int parts = nParts();
    const auto scale = static_cast<float> (1.0 / fftSize);
    const std::int64_t spectrumFloats = 2 * static_cast<std::int64_t> (fftSize);

    for (int x = 0; x < impulseChannels; ++x)
    {
        const std::int64_t bytes = parts > 0 ? static_cast<std::int64_t> (parts) * fftSize * 8 + 60 : 0;
        if (! resizeChecked (impulseSpectra[x], bytes, true) || ! resizeChecked (impulseFlags[x], parts, true))
        {
            markFailed();
            return p;
        }
        float* spectra = impulseSpectra[x].alignedView();
        auto* flags = static_cast<unsigned char*> (impulseFlags[x].data);
        const float* source = impulse->channel (x) + offset;
        const float* partner = x < impulseChannels - 1 ? impulse->channel (x + 1) + offset : nullptr;
        std::int64_t left = chLen[x];
        for (int j = 0; j < parts; ++j)
        {
            float* spectrum = spectra + j * spectrumFloats;
            const int m = static_cast<int> (std::clamp<std::int64_t> (left, 0, p));
            const float* s = source + static_cast<std::int64_t> (j) * p;
            const float* t = partner != nullptr ? partner + static_cast<std::int64_t> (j) * p : nullptr;
            double peakX = 0.0, peakY = 0.0;
            for (int k = 0; k < m; ++k)
            {
                const double ax = std::fabs (static_cast<double> (s[k]));
                if (ax > peakX)
                    peakX = ax;
                spectrum[2 * k] = flush (scale * s[k]);
                if (t != nullptr)
                {
                    const double ay = std::fabs (static_cast<double> (t[k]));
                    if (ay > peakY)
                        peakY = ay;
                    spectrum[2 * k + 1] = flush (scale * t[k]);
                }
                else
                    spectrum[2 * k + 1] = 0.0f;
            }
            std::memset (spectrum + 2 * m, 0, static_cast<std::size_t> (fftSize - m) * 8);
            left -= m;
            flags[j] = peakX > impulseFloor ? 2 : (peakY > impulseFloor ? 1 : 0);
            if (flags[j] != 0)
                fftTransform (spectrum, fftSize, 0);
        }
    }
    return p;
}

void ConvolutionStage::reset()
{
    ringPos[0] = ringPos[1] = 0;
    for (int c = 0; c < 2; ++c)
    {
        input[c].clear (-1);
        history[c].clear();
        output[c].clear();
        zeroBuffer (inputFlags[c]);
        zeroBuffer (inputSpectra[c]);
        zeroBuffer (overlap[c]);
    }
}

bool ConvolutionStage::hopExists (int channel) const
{
    return inputSpectra[channel].size > 0 && overlap[channel].size >= 4 && inputFlags[channel].size == nParts();
}

bool ConvolutionStage::rebuildRings (int numChannels)
{
    procChannels = numChannels;
    ringPos[0] = ringPos[1] = 0;
    const int parts = nParts();
    const bool haveImpulse = impulseLen > 0 && parts > 0;
    std::int64_t largest = 0;
    bool ok = true;
    for (int c = 0; c < 2; ++c)
    {
        const std::int64_t pending = static_cast<std::int64_t> (output[c].unread()) * 4 + input[c].availableBytes;
        largest = std::max (largest, pending);
        std::int64_t values = 0;
        if (c < numChannels)
        {
            if (! haveImpulse && input[c].availableBytes > 0)
            {
                const std::int32_t queued = input[c].availableBytes / 4;
                if (output[c].append (nullptr, queued))
                    input[c].peek (output[c].readPointer() + (output[c].unread() - queued), queued * 4);
                else
                    ok = false;
                input[c].clear (-1);
            }
            if (pending < largest && ! output[c].append (nullptr, static_cast<std::int32_t> ((largest - pending) / 4)))
                ok = false;
            values = static_cast<std::int64_t> (parts) * fftSize;
        }
        else
        {
            input[c].clear (-1);
            output[c].clear();
        }
        ok = resizeChecked (inputFlags[c], parts, true) && ok;
        ok = resizeChecked (inputSpectra[c], values > 0 ? values * 8 + 60 : 0, true) && ok;
        ok = resizeChecked (overlap[c], c < numChannels ? static_cast<std::int64_t> (partLen()) * 4 : 0, true) && ok;
        zeroBuffer (inputFlags[c]);
        zeroBuffer (inputSpectra[c]);
        zeroBuffer (overlap[c]);
    }
    return ok;
}

void ConvolutionStage::add (const float* const* block, int numSamples, int numChannels)
{
    if (failed)
        return;
    numChannels = std::clamp (numChannels, 0, 2);
    if (fftSize == 0)
    {
        addDirect (block, numSamples, numChannels);
        return;
    }
    if (numChannels != procChannels && ! rebuildRings (numChannels))
    {
        markFailed();
        return;
    }
    if (numSamples <= 0)
        return;
    if (numSamples > std::numeric_limits<std::int32_t>::max() / 4)
    {
        markFailed();
        return;
    }
    const bool haveImpulse = impulseLen > 0 && nParts() > 0;
    for (int c = 0; c < numChannels; ++c)
    {
        const float* source = block != nullptr ? block[c] : nullptr;
        bool ok = true;
        if (haveImpulse)
        {
            if (hopExists (c))
                ok = input[c].add (source, numSamples * 4) != nullptr;
        }
        else
            ok = output[c].append (source, numSamples);
        if (! ok)
        {
            markFailed();
            return;
        }
    }
}

void ConvolutionStage::addDirect (const float* const* block, int numSamples, int numChannels)
{
    procChannels = numChannels;
    if (numSamples <= 0)
        return;
    for (int i = 0; i < numChannels; ++i)
    {
        const float* source = block != nullptr ? block[i] : nullptr;
        const int v = impulseChannels <= 0 ? -1 : (i < impulseChannels ? i : i - impulseChannels);
        const int taps = (v >= 0 && impulseSpectra[v].size > 0) ? (impulseSpectra[v].size - 60) / 4 : 0;
        bool ok = true;
        if (taps == 0)
            ok = output[i].append (source, numSamples);
        else
        {
            SampleFifo& h = history[i];
            if (h.unread() < taps)
                ok = h.append (nullptr, taps - h.unread());
            ok = ok && h.append (source, numSamples) && output[i].append (nullptr, numSamples);
            if (ok)
            {
                float* out = output[i].readPointer() + (output[i].unread() - numSamples);
                const float* window = h.readPointer() + (h.unread() - taps - numSamples) + 1;
                directForm (impulseSpectra[v].alignedView(), taps, window, out, numSamples);
                h.consume (numSamples);
            }
        }
        if (! ok)
        {
            markFailed();
            return;
        }
    }
}

bool ConvolutionStage::shareWindowClear (int d) const
{
    const int parts = nParts();
    const int position = ringPos[d];
    // Both rings must hold their hops at the same positions...
    if ((ringPos[d + 1] + 1) % parts != position)
        return false;
    // ...and every older slot must be common to both: silent in both, or written by one shared
    // hop. An own slot in either ring means the other channel's convolution lacks it.
    const auto* mine = static_cast<const unsigned char*> (inputFlags[d].data);
    const auto* theirs = static_cast<const unsigned char*> (inputFlags[d + 1].data);
    for (int i = 1; i < parts; ++i)
    {
        const int s = (position - i + parts) % parts;
        if (mine[s] == 2 || theirs[s] == 2 || mine[s] != theirs[s])
            return false;
    }
    return true;
}

void ConvolutionStage::processHop (int d, int v, bool paired, bool& shareEnabled)
{
    const int f = fftSize;
    const int p = f / 2;
    const int parts = nParts();
    const std::int64_t spectrumFloats = 2 * static_cast<std::int64_t> (f);
    float* acc = scratch.alignedView();
    float* work = acc + spectrumFloats;

    ringPos[d] = (ringPos[d] + 1) % parts;
    float* slot = inputSpectra[d].alignedView() + ringPos[d] * spectrumFloats;
    auto* flagsD = static_cast<unsigned char*> (inputFlags[d].data);

    input[d].peek (work, p * 4);
    input[d].advance (p * 4);

    bool notSilent = false;
    bool shared = false;
    if (paired)
    {
        ringPos[d + 1] = (ringPos[d + 1] + 1) % parts;
        input[d + 1].peek (work + p, p * 4);
        input[d + 1].advance (p * 4);
        for (int i = 0; i < p; ++i)
        {
            const float a = flush (work[i]);
            const float b = flush (work[p + i]);
            slot[2 * i] = a;
            slot[2 * i + 1] = b;
            notSilent = notSilent || loud (a) || loud (b);
        }
    }
    else
    {
        bool candidate = false;
        if (shareEnabled && d + 1 < procChannels && v < impulseChannels - 1 && hopExists (d + 1)
            && input[d + 1].availableBytes >= p * 4)
        {
            input[d + 1].peek (work + p, p * 4);
            candidate = true;
            for (int i = 0; i < p; ++i)
            {
                const float difference = work[i] - work[p + i];
                if (std::fabs (static_cast<double> (difference)) > silenceFloor)
                {
                    candidate = false;
                    break;
                }
            }
        }
        if (! candidate)
            shareEnabled = false;
        for (int i = 0; i < p; ++i)
        {
            const float a = flush (work[i]);
            slot[2 * i] = a;
            slot[2 * i + 1] = 0.0f;
            notSilent = notSilent || loud (a);
        }
        if (candidate)
            shared = shareWindowClear (d);
    }

    if (notSilent)
    {
        std::memset (slot + 2 * p, 0, static_cast<std::size_t> (f - p) * 8);
        fftTransform (slot, f, 0);
    }
    flagsD[ringPos[d]] = notSilent ? (shared ? 1 : 2) : 0;

    unsigned char smallestFlag = 2;
    if (shared)
    {
        input[d + 1].advance (p * 4);
        ringPos[d + 1] = (ringPos[d + 1] + 1) % parts;
        if (notSilent)
            std::memcpy (inputSpectra[d + 1].alignedView() + ringPos[d + 1] * spectrumFloats, slot,
                         static_cast<std::size_t> (spectrumFloats) * 4);
        static_cast<unsigned char*> (inputFlags[d + 1].data)[ringPos[d + 1]] = flagsD[ringPos[d]];
        smallestFlag = 1;
    }

    // Multiply-accumulate in cache-sized runs of bins: per bin the partitions are still summed
    // in order, so the result equals one full pass per partition.
    const float* partitions = impulseSpectra[v].alignedView();
    const auto* partitionFlags = static_cast<const unsigned char*> (impulseFlags[v].data);
    const float* ring = inputSpectra[d].alignedView();
    const int run = static_cast<int> (std::min<std::int64_t> (spectrumFloats, 2048));
    bool anyProduct = false;
    for (std::int64_t start = 0; start < spectrumFloats; start += run)
    {
        bool first = true;
        for (int i = 0; i < parts; ++i)
        {
            if (partitionFlags[i] < smallestFlag)
                continue;
            int s = ringPos[d] - i;
            if (s < 0)
                s += parts;
            if (flagsD[s] == 0)
                continue;
            complexMultiplyAccumulate (acc + start, partitions + i * spectrumFloats + start, ring + s * spectrumFloats + start,
                                       run, first);
            first = false;
        }
        if (first)
            break;
        anyProduct = true;
    }
    if (anyProduct)
        fftTransform (acc, f, 1);
    else
        std::memset (acc, 0, static_cast<std::size_t> (spectrumFloats) * 4);

    float* outD = work;
    float* outPartner = work + p;
    auto* overlapD = static_cast<float*> (overlap[d].data);
    for (int i = 0; i < p; ++i)
    {
        outD[i] = acc[2 * i] + overlapD[i];
        overlapD[i] = acc[2 * (p + i)];
    }
    bool ok = output[d].append (outD, p);
    if (paired || shared)
    {
        auto* overlapPartner = static_cast<float*> (overlap[d + 1].data);
        for (int i = 0; i < p; ++i)
        {
            outPartner[i] = acc[2 * i + 1] + overlapPartner[i];
            overlapPartner[i] = acc[2 * (p + i) + 1];
        }
        ok = output[d + 1].append (outPartner, p) && ok;
    }
    if (! ok)
        markFailed();
}

int ConvolutionStage::avail (int wanted)
{
    if (failed)
        return wanted;
    if (fftSize == 0)
        return output[0].unread();
    if (! resizeChecked (scratch, static_cast<std::int64_t> (fftSize) * 16 + 60, true))
    {
        markFailed();
        return wanted;
    }
    if (procChannels <= 0)
        return wanted;

    const int p = partLen();
    const int parts = nParts();
    for (int d = 0; d < procChannels;)
    {
        const int v = d < impulseChannels ? d : impulseChannels - 1;
        if (parts <= 0 || v < 0 || ! hopExists (d))
        {
            ++d;
            continue;
        }
        bool paired = impulseChannels == 1 && d + 1 < procChannels && hopExists (d + 1)
                      && input[d].availableBytes == input[d + 1].availableBytes
                      && output[d].unread() == output[d + 1].unread();
        if (paired)
        {
            // A paired hop keeps the partner's part in this ring only: the partner's own ring
            // must hold nothing that would be missed, at the same positions.
            paired = ringPos[d] == ringPos[d + 1];
            const auto* theirs = static_cast<const unsigned char*> (inputFlags[d + 1].data);
            for (int s = 0; paired && s < parts; ++s)
                paired = theirs[s] == 0;
        }
        bool shareEnabled = true;
        while (input[d].availableBytes >= p * 4 && output[d].unread() < wanted)
        {
            processHop (d, v, paired, shareEnabled);
            if (failed)
                return wanted;
        }
        d += paired ? 2 : 1;
    }

    int smallest = std::numeric_limits<int>::max();
    for (int c = 0; c < procChannels; ++c)
        smallest = std::min (smallest, output[c].unread());
    return smallest;
}
