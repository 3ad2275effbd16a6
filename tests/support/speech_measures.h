// Objective speech measures for codec tests: delay alignment, SNR,
// segmental SNR, log-spectral distance and level, on 16-bit PCM.
#ifndef AURIVANE_TEST_SUPPORT_SPEECH_MEASURES_H
#define AURIVANE_TEST_SUPPORT_SPEECH_MEASURES_H

#include <cstddef>
#include <cstdint>
#include <span>

namespace aurivane::test {

using Pcm = std::span<const int16_t>;

// Lag in [-maxLag, maxLag] that maximises the normalised cross-correlation
// of test[n + lag] with ref[n]; a codec's delay shows as a positive lag.
int BestLag(Pcm ref, Pcm test, int maxLag, double* correlation = nullptr);

// The overlapping parts of ref and test once test is shifted back by lag.
struct Aligned {
    Pcm ref;
    Pcm test;
};
Aligned AlignByLag(Pcm ref, Pcm test, int lag);

// Plain SNR of test against ref over the whole span, in dB (capped at 100).
double SnrDb(Pcm ref, Pcm test);
// The same on float samples (decoders' float output, at any scale), capped
// at 200 dB, which is also the figure for identical signals; -200 when ref
// is silent and test is not.
double SnrDb(std::span<const float> ref, std::span<const float> test);

// Mean of per-frame SNRs, each clamped to [-10, 35] dB, over the frames
// whose reference is above a silence floor (mean square 1.0 = -90 dBFS).
// Returns 0 when no frame qualifies.
double SegmentalSnrDb(Pcm ref, Pcm test, std::size_t frame = 80);

// Mean RMS difference of the 256-point log power spectra (Hann window,
// hop 128), in dB, over the frames of the reference within 40 dB of its
// loudest frame. Returns 0 when no frame qualifies.
double LogSpectralDistanceDb(Pcm ref, Pcm test);

// RMS level in dB relative to full scale (32768); -200 for digital silence.
double LevelDbfs(Pcm x);

// Level of test minus level of ref, in dB.
double LevelDifferenceDb(Pcm ref, Pcm test);

// Everything a codec test usually wants, after aligning test to ref.
struct SpeechComparison {
    int lag = 0;
    double correlation = 0;
    double snr = 0;
    double segSnr = 0;
    double lsd = 0;
    double levelDiff = 0;
};
SpeechComparison CompareSpeech(Pcm ref, Pcm test, int maxLag);

}  // namespace aurivane::test

#endif
