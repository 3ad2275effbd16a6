// The encoder's MDCT against the direct DCT-IV sum, and perfect
// reconstruction through the decoder's inverse filterbank for a run through
// every window sequence.
#include "aacdec/aac_filterbank.h"
#include "aacenc/aac_mdct.h"
#include "aacenc/aac_psy_output.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace aurivane {
namespace {

TEST(AacMdct, DctIvMatchesDirectSum) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> dist(-30000.0f, 30000.0f);
    for (int count : {1024, 128}) {
        std::vector<float> in(count), out(count), work(count);
        for (float& v : in) v = dist(rng);
        MdctDctIv(in.data(), count, out.data(), work.data());
        double maxError = 0.0, maxValue = 0.0;
        for (int k = 0; k < count; ++k) {
            double sum = 0.0;
            for (int n = 0; n < count; ++n) sum += in[n] * std::cos(M_PI / count * (n + 0.5) * (k + 0.5));
            maxError = std::fmax(maxError, std::fabs(sum - out[k]));
            maxValue = std::fmax(maxValue, std::fabs(sum));
        }
        EXPECT_LT(maxError, 2e-6 * maxValue) << count;
    }
}

TEST(AacMdct, DecoderReconstructsEveryWindowSequence) {
    // long, long, start, short, short, stop, long, start, short, stop, long, long
    const int sequence[] = {0, 0, 1, 2, 2, 3, 0, 1, 2, 3, 0, 0};
    const int frames = sizeof(sequence) / sizeof(sequence[0]);
    std::mt19937 rng(3);
    std::normal_distribution<float> noise(0.0f, 8000.0f);
    std::vector<float> input(frames * kAacFrameLength);
    for (float& v : input) v = noise(rng);

    AacMdct mdct;
    mdct.Reset();
    OverlapState overlap;
    OverlapReset(&overlap);
    std::vector<float> output(frames * kAacFrameLength);
    float spectrum[kAacFrameLength];
    for (int f = 0; f < frames; ++f) {
        const int seq = sequence[f];
        mdct.Transform(input.data() + f * kAacFrameLength, 1, seq, spectrum);
        // The decoder's IMDCT carries 0.5 where the standard has 2/N, and the
        // encoder leaves out the factor 2: 8/N in between.
        const float scale = seq == kAacShortWindow ? 8.0f / 256.0f : 8.0f / 2048.0f;
        for (float& v : spectrum) v *= scale;
        const uint8_t shape = (seq == kAacLongWindow || seq == kAacStopWindow) ? 1 : 0;
        InverseFilterbank(&overlap, spectrum, static_cast<uint8_t>(seq), shape,
                          output.data() + f * kAacFrameLength);
    }
    // Frame f's output is the input 1600 samples earlier; the first frame
    // still overlaps the zero history.
    double err = 0.0, ref = 0.0;
    for (int n = 2 * kAacFrameLength; n < frames * kAacFrameLength; ++n) {
        const double d = output[n] - input[n - 1600];
        err += d * d;
        ref += static_cast<double>(input[n - 1600]) * input[n - 1600];
    }
    EXPECT_GT(10.0 * std::log10(ref / err), 100.0);
}

}  // namespace
}  // namespace aurivane
