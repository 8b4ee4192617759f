#pragma once
// TEMPORARY stand-in until the convolver branch lands: direct convolution with the first 256 taps.
#include "Buffer.h"
#include <vector>
class Convolver
{
public:
    explicit Convolver (Buffer* s) : sampleRate (s->sampleRate), source (s) { setImpulse (*s); }
    void setImpulse (Buffer& b)
    {
        taps.assign (2, {});
        const int n = juce::jmin (256, b.audio.getNumSamples());
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < n; ++i)
                taps[c].push_back (b.audio.getSample (juce::jmin (c, b.audio.getNumChannels() - 1), i));
        hist.assign (2, std::vector<float> (256, 0.0f));
    }
    void prepare (double r)
    {
        for (auto& h : hist) std::fill (h.begin(), h.end(), 0.0f);
        sampleRate = r;
    }
    void process (float* const* ch, int nc, int ns)
    {
        for (int c = 0; c < nc; ++c)
            for (int i = 0; i < ns; ++i)
            {
                auto& h = hist[c];
                std::copy_backward (h.begin(), h.end() - 1, h.end());
                h[0] = ch[c][i];
                double acc = 0;
                for (size_t k = 0; k < taps[c].size(); ++k) acc += double (taps[c][k]) * h[k];
                ch[c][i] = float (acc);
            }
    }
    double sampleRate;
    Buffer* source;
private:
    std::vector<std::vector<float>> taps, hist;
};
