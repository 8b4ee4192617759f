#include "ConvolutionStage.h"

#include "Fft.h"
#include "Kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace
{
constexpr int minFftSize = 4;
constexpr double silenceFloor = 1e-12;
constexpr double impulseFloor = 1e-15;
// Bins per run of the multiply-accumulate: the accumulator run (32 KB) stays in the first-level cache.
constexpr int macRunFloats = 8192;

// The largest float not above the silence floor: for a float x, |x| > it exactly when |x| as a
// double exceeds 1e-12.
float floatSilenceFloor()
{
    float f = static_cast<float> (silenceFloor);
    if (static_cast<double> (f) > silenceFloor)
        f = std::nextafter (f, 0.0f);
    return f;
}
const float silenceFloorFloat = floatSilenceFloor();

// Largest power of two within 4..32768 not above size.
int holdFftSize (std::int64_t size)
{
    size = std::clamp<std::int64_t> (size, minFftSize, fftLargestSize);
    int result = minFftSize;
    while (result * 2 <= size)
        result *= 2;
    return result;
}

void zeroBuffer (HeapBuffer& buffer)
{
    if (buffer.size > 0)
        std::memset (buffer.data, 0, static_cast<std::size_t> (buffer.size));
}

// Bytes of an array of count complex values that the vector code walks from its aligned view.
std::int64_t alignedComplexBytes (std::int64_t count) { return count > 0 ? count * 8 + 60 : 0; }
} // namespace

int ConvolutionStage::WorkAhead::budget (int parts, int wanted, int partLen)
{
    // A host keeps its block size, so the division is done once per size.
    if (parts != budgetKey[0] || wanted != budgetKey[1] || partLen != budgetKey[2])
    {
        std::int64_t n = ((parts - 1) * 2 * static_cast<std::int64_t> (std::max (wanted, 1)) + partLen - 1) / partLen;
        n = (n + 3) / 4 * 4;
        budgetKey[0] = parts;
        budgetKey[1] = wanted;
        budgetKey[2] = partLen;
        lastBudget = static_cast<int> (std::clamp<std::int64_t> (n, 1, parts - 1));
    }
    return lastBudget;
}

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
        ahead.sum[c].release();
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

void ConvolutionStage::countParts()
{
    const int p = partLen();
    partCount = (p > 0 && impulseLen > 0) ? (impulseLen + p - 1) / p : 0;
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
        countParts();
        for (int i = 0; i < impulseChannels; ++i)
        {
            const std::int64_t n = chLen[i];
            if (! impulseSpectra[i].resizeTo (n > 0 ? n * 4 + 60 : 0, true))
            {
                markFailed();
                return 0;
            }
            soundingTaps[i] = 0;
            if (n > 0)
            {
                float* taps = impulseSpectra[i].alignedView();
                const float* source = impulse->channel (i) + offset;
                for (std::int64_t k = 0; k < n; ++k)
                {
                    taps[n - 1 - k] = source[k];
                    if (source[k] != 0.0f && soundingTaps[i] == 0)
                        soundingTaps[i] = static_cast<int> (n - k);
                }
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
        const std::int64_t cap = fftSizeWanted <= -16 ? -2 * static_cast<std::int64_t> (fftSizeWanted) : fftLargestSize;
        std::int64_t size = 32;
        while (size < 2 * static_cast<std::int64_t> (impulseLen) && size < cap)
            size *= 2;
        fftSize = holdFftSize (size);
    }
    countParts();

    const int p = partLen();
    const int parts = nParts();
    const auto scale = static_cast<float> (1.0 / fftSize);
    const std::int64_t spectrumFloats = 2 * static_cast<std::int64_t> (fftSize);

    sounds = false;
    for (int x = 0; x < impulseChannels; ++x)
    {
        if (! impulseSpectra[x].resizeTo (alignedComplexBytes (static_cast<std::int64_t> (parts) * fftSize), true)
            || ! impulseFlags[x].resizeTo (parts, true))
        {
            markFailed();
            return p;
        }
        float* spectra = impulseSpectra[x].alignedView();
        auto* flags = static_cast<unsigned char*> (impulseFlags[x].data);
        // Pointers into a channel only where it holds samples: an empty channel has no block.
        const bool hasPartner = x < impulseChannels - 1;
        std::int64_t left = chLen[x];
        for (int j = 0; j < parts; ++j)
        {
            float* spectrum = spectra + j * spectrumFloats;
            const int m = static_cast<int> (std::clamp<std::int64_t> (left, 0, p));
            const std::int64_t start = offset + static_cast<std::int64_t> (j) * p;
            const float* s = m > 0 ? impulse->channel (x) + start : nullptr;
            const float* t = m > 0 && hasPartner ? impulse->channel (x + 1) + start : nullptr;
            double peakX = 0.0, peakY = 0.0; // a NaN raises neither
            for (int k = 0; k < m; ++k)
            {
                peakX = std::max (peakX, std::fabs (static_cast<double> (s[k])));
                if (t != nullptr)
                    peakY = std::max (peakY, std::fabs (static_cast<double> (t[k])));
            }
            vectorKernels().pack (spectrum, s, t, m, scale, silenceFloorFloat);
            std::memset (spectrum + 2 * m, 0, static_cast<std::size_t> (fftSize - m) * 8);
            left -= m;
            flags[j] = peakX > impulseFloor ? 2 : (peakY > impulseFloor ? 1 : 0);
            if (flags[j] != 0)
            {
                fftTransform (spectrum, fftSize, 0);
                sounds = true;
            }
        }
    }
    return p;
}

void ConvolutionStage::reset()
{
    ringPos[0] = ringPos[1] = 0;
    ahead.sumHop[0] = ahead.sumHop[1] = -1;
    ahead.spectrumReady[0] = ahead.spectrumReady[1] = false;
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

bool ConvolutionStage::reserve (int maxBlock, int numChannels)
{
    if (failed)
        return false;
    numChannels = std::clamp (numChannels, 1, 2);
    // The engine adds a block of at most B samples, then takes out as many; priming puts the
    // stagger s (at most fftSize / 8) as zeros ahead of the input and the offset o as zeros ahead
    // of the output. Every sample in becomes one sample out, so the unread samples of input and
    // output together never exceed o + s + B. A FIFO uses at most twice its largest unread count
    // (it compacts once more than half is read). Adds never straddle chunks, so U unread bytes
    // keep at most 2 + U / (C - 4B) chunks of C bytes in the queue. Margins: one hop and one
    // block more in every FIFO, one chunk more in every queue.
    const std::int64_t block = std::clamp (maxBlock, 1, maxReservedBlock);
    const std::int64_t held = static_cast<std::int64_t> (offsetInImpulse) + fftSize / 8 + block;
    const std::int64_t fifoSamples = 2 * (held + partLen() + block);
    if (fifoSamples > std::numeric_limits<std::int32_t>::max() / 4)
    {
        markFailed();
        return false;
    }
    bool ok = true;
    if (fftSize == 0)
    {
        // The history holds the taps ahead of each block.
        for (int c = 0; c < numChannels; ++c)
        {
            ok = output[c].reserve (static_cast<std::int32_t> (fifoSamples)) && ok;
            ok = history[c].reserve (static_cast<std::int32_t> (2 * (impulseLen + 2 * block))) && ok;
        }
    }
    else
    {
        if (procChannels != numChannels)
            ok = rebuildRings (numChannels);
        ok = ok && scratch.resizeTo (alignedComplexBytes (2 * static_cast<std::int64_t> (fftSize)), true);
        const std::int64_t room = input[0].minChunkBytes - 4 * block;
        const auto chunks = static_cast<std::int32_t> (3 + (4 * held + room - 1) / room);
        for (int c = 0; ok && c < numChannels; ++c)
            ok = output[c].reserve (static_cast<std::int32_t> (fifoSamples)) && input[c].reserve (chunks);
    }
    if (! ok)
        markFailed();
    return ok;
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
        ok = inputFlags[c].resizeTo (parts, false) && ok;
        ok = inputSpectra[c].resizeTo (alignedComplexBytes (values), false) && ok;
        ok = overlap[c].resizeTo (c < numChannels ? static_cast<std::int64_t> (partLen()) * 4 : 0, false) && ok;
        // Only an aid to even out the work: without its memory the hops do all of it themselves.
        ahead.sum[c].resizeTo ((c < numChannels && parts >= 2) ? alignedComplexBytes (fftSize) : 0, false);
        ahead.sumHop[c] = -1;
        ahead.spectrumReady[c] = false;
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
                vectorKernels().directForm (impulseSpectra[v].alignedView(), taps, soundingTaps[v], window, out, numSamples);
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
    if (nextRingPos (ringPos[d + 1]) != position)
        return false;
    // ...and every older slot must be common to both: silent in both, or written by one shared
    // hop. An own slot in either ring means the other channel's convolution lacks it.
    const auto* mine = static_cast<const unsigned char*> (inputFlags[d].data);
    const auto* theirs = static_cast<const unsigned char*> (inputFlags[d + 1].data);
    for (int i = 1; i < parts; ++i)
    {
        const int s = position >= i ? position - i : position - i + parts;
        if (mine[s] == 2 || theirs[s] == 2 || mine[s] != theirs[s])
            return false;
    }
    return true;
}

// Whether the next hops queued for channels d and d + 1 are equal within the silence floor, so
// that one transform can serve both.
bool ConvolutionStage::isShareCandidate (int d, int v, float* spare, float* partnerSpare) const
{
    const int p = partLen();
    if (! (d + 1 < procChannels && v < impulseChannels - 1 && hopExists (d + 1) && input[d + 1].availableBytes >= p * 4))
        return false;
    const float* hop = nextHop (d, spare);
    const float* partnerHop = nextHop (d + 1, partnerSpare);
    for (int i = 0; i < p; ++i)
    {
        const float difference = hop[i] - partnerHop[i];
        if (std::fabs (static_cast<double> (difference)) > silenceFloor)
            return false;
    }
    return true;
}

// A hop in three steps: take it into the ring, sum its products with the impulse, emit its output.
void ConvolutionStage::processHop (int d, int v, bool paired, bool& shareEnabled)
{
    const Hop hop = takeHop (d, v, paired, shareEnabled);
    bool anyProduct = false;
    float* sum = sumProducts (d, v, hop, anyProduct);
    emit (d, sum, anyProduct, hop.paired || hop.shared);
}

// The next partLen samples of channel d (and of its partner when paired or shared) leave the
// queue for the newest ring slot, whose spectrum was made ahead or is made now.
ConvolutionStage::Hop ConvolutionStage::takeHop (int d, int v, bool paired, bool& shareEnabled)
{
    const int f = fftSize;
    const int p = f / 2;
    const std::int64_t spectrumFloats = 2 * static_cast<std::int64_t> (f);
    float* work = scratch.alignedView() + spectrumFloats;

    Hop hop { paired, false, ahead.sumHop[d] == ahead.hopCount[d] && ahead.sum[d].size == alignedComplexBytes (f) };
    ahead.sumHop[d] = -1;
    ++ahead.hopCount[d];
    const bool ready = ahead.spectrumReady[d] && ahead.spectrumPaired[d] == paired;
    if (! ready)
        prepareSpectrum (d, paired);
    ahead.spectrumReady[d] = false;
    const bool notSilent = ahead.spectrumLoud[d];
    float* slot = nextSlot (d);
    ringPos[d] = nextRingPos (ringPos[d]);
    auto* flagsD = static_cast<unsigned char*> (inputFlags[d].data);

    if (paired)
    {
        ++ahead.hopCount[d + 1];
        ringPos[d + 1] = nextRingPos (ringPos[d + 1]);
        input[d + 1].advance (p * 4);
        ahead.spectrumReady[d + 1] = false;
    }
    else
    {
        const bool candidate = shareEnabled && isShareCandidate (d, v, work, work + p);
        if (! candidate)
            shareEnabled = false;
        hop.shared = candidate && shareWindowClear (d);
    }
    input[d].advance (p * 4);
    flagsD[ringPos[d]] = notSilent ? (hop.shared ? 1 : 2) : 0;

    if (hop.shared)
    {
        ahead.spectrumReady[d + 1] = false;
        input[d + 1].advance (p * 4);
        ++ahead.hopCount[d + 1];
        ringPos[d + 1] = nextRingPos (ringPos[d + 1]);
        if (notSilent)
            std::memcpy (inputSpectra[d + 1].alignedView() + ringPos[d + 1] * spectrumFloats, slot,
                         static_cast<std::size_t> (spectrumFloats) * 4);
        static_cast<unsigned char*> (inputFlags[d + 1].data)[ringPos[d + 1]] = flagsD[ringPos[d]];
    }
    return hop;
}

// The samples of channel c's next hop: in the queue when they lie in one chunk, else copied to spare.
const float* ConvolutionStage::nextHop (int c, float* spare) const
{
    const int bytes = partLen() * 4;
    if (const void* inPlace = input[c].front (bytes))
        return static_cast<const float*> (inPlace);
    input[c].peek (spare, bytes);
    return spare;
}

float* ConvolutionStage::nextSlot (int d) const
{
    return inputSpectra[d].alignedView() + nextRingPos (ringPos[d]) * 2 * static_cast<std::int64_t> (fftSize);
}

// The complete hop queued for channel d (with its partner's when paired), flushed and packed into
// the slot it will take, and transformed unless silent. Its input stays queued until the hop.
void ConvolutionStage::prepareSpectrum (int d, bool paired)
{
    const int p = partLen();
    float* work = scratch.alignedView() + 2 * static_cast<std::int64_t> (fftSize);
    float* slot = nextSlot (d);
    const float* own = nextHop (d, work);
    const float* partner = paired ? nextHop (d + 1, work + p) : nullptr;
    const bool loud = vectorKernels().pack (slot, own, partner, p, 1.0f, silenceFloorFloat);
    // A slot is only ever multiplied by sounding partitions: without any, it needs no transform.
    if (loud && sounds)
        fftForwardPadded (slot, fftSize); // values p .. fftSize - 1 of the slot are zero
    ahead.spectrumReady[d] = true;
    ahead.spectrumPaired[d] = paired;
    ahead.spectrumLoud[d] = loud;
}

// Products of partition i with the slot i hops old, summed. When the products with the older
// slots were summed ahead (between hops), only the rest and the newest slot's are added now.
// Shared hops also use the partitions in which only the partner's impulse channel sounds.
float* ConvolutionStage::sumProducts (int d, int v, const Hop& hop, bool& anyProduct)
{
    const int parts = nParts();
    const unsigned char smallestFlag = hop.shared ? 1 : 2;
    if (hop.aheadValid && ! hop.shared)
    {
        float* sum = ahead.sum[d].alignedView();
        anyProduct = ahead.any[d];
        if (ahead.part[d] < parts)
            anyProduct = accumulate (sum, d, v, ahead.part[d], parts, ringPos[d], smallestFlag, ! anyProduct) || anyProduct;
        anyProduct = accumulate (sum, d, v, 0, 1, ringPos[d], smallestFlag, ! anyProduct) || anyProduct;
        return sum;
    }
    float* sum = scratch.alignedView();
    anyProduct = accumulate (sum, d, v, 0, parts, ringPos[d], smallestFlag, true);
    return sum;
}

// The inverse transform of the sum, overlap-added into channel d's output (the real part) and,
// for a paired or shared hop, its partner's (the imaginary part).
void ConvolutionStage::emit (int d, float* sum, bool anyProduct, bool withPartner)
{
    const int f = fftSize;
    const int p = f / 2;
    if (anyProduct)
        fftTransform (sum, f, 1);
    else
        std::memset (sum, 0, static_cast<std::size_t> (f) * 8);

    float* work = scratch.alignedView() + 2 * static_cast<std::int64_t> (f);
    vectorKernels().overlapAdd (sum, 0, static_cast<float*> (overlap[d].data), work, p);
    bool ok = output[d].append (work, p);
    if (withPartner)
    {
        vectorKernels().overlapAdd (sum, 1, static_cast<float*> (overlap[d + 1].data), work + p, p);
        ok = output[d + 1].append (work + p, p) && ok;
    }
    if (! ok)
        markFailed();
}

bool ConvolutionStage::accumulate (float* sum, int d, int v, int fromPart, int toPart, int newestSlot, unsigned char smallestFlag,
                                   bool store) const
{
    // In runs of bins, four partitions at a time: per bin the products are still added in
    // partition order, as one full pass per partition would add them.
    const int parts = nParts();
    const std::int64_t spectrumFloats = 2 * static_cast<std::int64_t> (fftSize);
    const float* partitions = impulseSpectra[v].alignedView();
    const auto* partitionFlags = static_cast<const unsigned char*> (impulseFlags[v].data);
    const auto* slotFlags = static_cast<const unsigned char*> (inputFlags[d].data);
    const float* ring = inputSpectra[d].alignedView();
    const int run = static_cast<int> (std::min<std::int64_t> (spectrumFloats, macRunFloats));
    bool anyProduct = false;
    for (std::int64_t start = 0; start < spectrumFloats; start += run)
    {
        const float* a[4];
        const float* b[4];
        int pending = 0;
        bool first = store;
        bool found = false;
        for (int i = fromPart; i < toPart; ++i)
        {
            if (partitionFlags[i] < smallestFlag)
                continue;
            int s = newestSlot - i;
            if (s < 0)
                s += parts;
            if (slotFlags[s] == 0)
                continue;
            a[pending] = partitions + i * spectrumFloats + start;
            b[pending] = ring + s * spectrumFloats + start;
            if (++pending == 4)
            {
                vectorKernels().multiplyAccumulate (sum + start, a, b, pending, run, first);
                pending = 0;
                first = false;
                found = true;
            }
        }
        if (pending > 0)
        {
            vectorKernels().multiplyAccumulate (sum + start, a, b, pending, run, first);
            found = true;
        }
        if (! found)
            break;
        anyProduct = true;
    }
    return anyProduct;
}

void ConvolutionStage::sumAhead (int d, int v, int budget)
{
    const int parts = nParts();
    if (parts < 2 || ahead.sum[d].size != alignedComplexBytes (fftSize))
        return;
    if (ahead.sumHop[d] != ahead.hopCount[d])
    {
        ahead.sumHop[d] = ahead.hopCount[d];
        ahead.part[d] = 1;
        ahead.any[d] = false;
    }
    if (ahead.part[d] >= parts)
        return;
    const int end = std::min (parts, ahead.part[d] + budget);
    const int newest = nextRingPos (ringPos[d]);
    if (accumulate (ahead.sum[d].alignedView(), d, v, ahead.part[d], end, newest, 2, ! ahead.any[d]))
        ahead.any[d] = true;
    ahead.part[d] = end;
}

// Once the sum ahead is complete, the last calls before the hop bring into the cache what the hop
// will touch, a slice per call: the slot it fills, the sum and the newest partition. Only large
// stages, whose hop memory has left the cache since it was last used.
void ConvolutionStage::warmNextHop (int d, int v, int wanted)
{
    constexpr int slices = 16;
    const int p = partLen();
    if (fftSize < 8192 || ahead.sumHop[d] != ahead.hopCount[d] || ahead.part[d] < nParts())
        return;
    const int callsLeft = (p - input[d].availableBytes / 4 + wanted - 1) / std::max (wanted, 1);
    if (callsLeft < 1 || callsLeft > slices)
        return;
    const std::int64_t spectrumFloats = 2 * static_cast<std::int64_t> (fftSize);
    const std::int64_t from = (slices - callsLeft) * spectrumFloats / slices, to = from + spectrumFloats / slices;
    const float* slot = nextSlot (d);
    const float* sum = ahead.sum[d].alignedView();
    const float* partition = impulseSpectra[v].alignedView();
    for (std::int64_t i = from; i < to; i += 16)
    {
        __builtin_prefetch (slot + i, 1);
        __builtin_prefetch (sum + i, 1);
        __builtin_prefetch (partition + i, 0);
    }
}

int ConvolutionStage::avail (int wanted)
{
    if (failed)
        return wanted;
    if (fftSize == 0)
        return output[0].unread();
    const std::int64_t scratchBytes = alignedComplexBytes (2 * static_cast<std::int64_t> (fftSize));
    if (scratch.size != scratchBytes && ! scratch.resizeTo (scratchBytes, true))
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
        bool hopped = false;
        while (input[d].availableBytes >= p * 4 && output[d].unread() < wanted)
        {
            processHop (d, v, paired, shareEnabled);
            hopped = true;
            if (failed)
                return wanted;
        }
        // A call without a hop sums some of the next hop's products ahead; a hop whose input is
        // complete but whose output is not due yet is transformed now.
        if (! hopped && parts >= 2)
        {
            sumAhead (d, v, ahead.budget (parts, wanted, p));
            warmNextHop (d, v, wanted);
        }
        if (input[d].availableBytes >= p * 4 && ! ahead.spectrumReady[d])
            prepareSpectrum (d, paired);
        d += paired ? 2 : 1;
    }

    int smallest = std::numeric_limits<int>::max();
    for (int c = 0; c < procChannels; ++c)
        smallest = std::min (smallest, output[c].unread());
    return smallest;
}
