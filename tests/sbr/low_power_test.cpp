// The real-valued (low-power) path against the complex one: the levels its
// envelope adjuster produces after synthesis, its detection of sinusoids
// straddling a subband border, and decoder state across a re-open and a
// changed limiter setting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <complex>
#include <memory>
#include <type_traits>
#include <vector>

#include "aacdec/qmf_bank.h"
#include "aacdec/sbr_decoder.h"
#include "aacdec/sbr_decoder_state.h"
#include "aacdec/sbr_hf.h"
#include "sbr/sbr_test_util.h"
#include "support/reference_fft.h"

namespace aurivane {
namespace {

constexpr double kPi = 3.14159265358979323846;

SbrFreqTables DefaultTables() {
    SbrFreqTables t;
    EXPECT_TRUE(SbrBuildFreqTables(kSbrDefaultHeader, 44100, &t));
    return t;
}

// Output of 40 frames of the high band the adjuster makes, from frame 2 on,
// with one FIXFIX envelope `env` (high resolution): from an empty source
// (only noise at noise-floor ratio 1, or with `sine` a sinusoid in every
// high-resolution band), or from the patched analysis of `source`, a
// function of the core sample index.
template <typename Source>
std::vector<float> AdjustedOutput(bool complex, bool sine, const float* env, Source source) {
    const SbrFreqTables t = DefaultTables();
    SbrGrid g = {};
    g.frameClass = kFixFix;
    g.numEnv = 1;
    g.numNoise = 1;
    g.tE[1] = 16;
    g.tQ[1] = 16;
    g.freqRes[0] = 1;
    g.transientEnv = -1;
    float envOrig[5][48], noise[2][5];
    for (int k = 0; k < 48; ++k) envOrig[0][k] = env[k];
    constexpr bool kPatched = !std::is_same_v<Source, std::nullptr_t>;
    for (int k = 0; k < 5; ++k) noise[0][k] = (sine || kPatched) ? 1.0e-3f : 1.0f;
    int harmonic[48] = {}, harmonicPrev[48] = {};
    if (sine)
        for (int i = 0; i < t.n[1]; ++i) harmonic[i] = harmonicPrev[i] = 1;
    SbrAdjustInput in = {};
    in.tables = &t;
    in.header = &kSbrDefaultHeader;
    in.grid = &g;
    in.envOrig = envOrig;
    in.noiseOrig = noise;
    in.addHarmonic = harmonic;
    in.addHarmonicPrev = harmonicPrev;
    in.complex = complex;
    float degree[64] = {};
    in.degreeAlias = complex ? nullptr : degree;
    SbrAdjusterState st = {};
    st.reset = true;
    QmfSynthesis64 synthesis;
    synthesis.Reset();
    auto high = std::make_unique<SbrSubbands>();
    auto low = std::make_unique<SbrLowBands>();
    std::memset(low.get(), 0, sizeof(SbrLowBands));
    QmfAnalysis32 analysis;
    analysis.Reset();
    const float bw[5] = {};
    std::vector<float> output;
    long n = 0;
    for (int frame = 0; frame < 40; ++frame) {
        std::memset(high.get(), 0, sizeof(SbrSubbands));
        if constexpr (kPatched) {
            std::memmove(low->re[0], low->re[32], sizeof(float) * 32 * 8);
            std::memmove(low->im[0], low->im[32], sizeof(float) * 32 * 8);
            for (int l = 0; l < 32; ++l) {
                float in32[32];
                for (float& v : in32) v = source(n++);
                analysis.Process(in32, low->re[8 + l], complex ? low->im[8 + l] : nullptr);
            }
            SbrHfGenerate(t, *low, complex, bw, 0, 32, high.get(), complex ? nullptr : degree);
        }
        SbrHfAdjust(in, &st, high.get());
        for (int l = 0; l < 32; ++l) {
            float out[64];
            synthesis.Process(high->re[l + 2], complex ? high->im[l + 2] : nullptr, out);
            if (frame >= 2) output.insert(output.end(), out, out + 64);
        }
    }
    return output;
}

double EnergyOf(const std::vector<float>& x) {
    double e = 0.0;
    for (float v : x) e += static_cast<double>(v) * v;
    return e;
}

double AdjustedOutputEnergy(bool complex, bool sine, bool source = false) {
    std::vector<float> env(48, 1.0e8f);
    if (!source) return EnergyOf(AdjustedOutput(complex, sine, env.data(), nullptr));
    uint32_t seed = 1;
    return EnergyOf(AdjustedOutput(complex, sine, env.data(), [&seed](long) {
        seed = seed * 1664525u + 1013904223u;
        return 1000.0f * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
    }));
}

// Complex noise loses half its energy in the oversampled synthesis, real
// noise none in the critically sampled one: the real path must not come
// out 3 dB louder than the complex path it stands in for. A patch of a
// populated (white) source reaches the same level in both.
TEST(SbrLowPower, AddedNoiseAndSinusoidsReachTheOutputAtTheComplexLevel) {
    for (bool sine : {false, true}) {
        const double hq = AdjustedOutputEnergy(true, sine);
        const double lp = AdjustedOutputEnergy(false, sine);
        ASSERT_GT(hq, 0.0);
        EXPECT_NEAR(10 * std::log10(lp / hq), 0.0, 0.5) << (sine ? "sinusoids" : "noise floor");
    }
    const double hq = AdjustedOutputEnergy(true, false, true);
    const double lp = AdjustedOutputEnergy(false, false, true);
    EXPECT_NEAR(10 * std::log10(lp / hq), 0.0, 0.5) << "patched white noise";
}

// Low band of one frame: real 32-band analysis of a cosine at `bands` band
// widths (11025 / 32 Hz each), after 20 frames of run-in.
void AnalyseTone(double bands, SbrLowBands* low) {
    QmfAnalysis32 analysis;
    analysis.Reset();
    std::memset(low, 0, sizeof(*low));
    for (int l = 0; l < 20 * 32 + kSbrLowSlots; ++l) {
        float in[32];
        for (int i = 0; i < 32; ++i) in[i] = static_cast<float>(8000 * std::cos(kPi * bands / 32 * (32.0 * l + i)));
        float re[32];
        analysis.Process(in, re, nullptr);
        const int row = l - 20 * 32;
        if (row >= 0) std::memcpy(low->re[row], re, sizeof(re));
    }
}

TEST(SbrLowPower, SinusoidOnASubbandBorderIsFlaggedForAliasingReduction) {
    const SbrFreqTables t = DefaultTables();
    ASSERT_GE(t.patchNumSubbands[0], 4);
    const int x = 2;  // within the first patch: bands kx+x-1 and kx+x share a source pair
    const int p = t.patchStartSubband[0] + x;
    const int k = t.kx + x;
    float bw[5] = {};
    auto high = std::make_unique<SbrSubbands>();
    auto low = std::make_unique<SbrLowBands>();
    float degree[64];

    AnalyseTone(p + 0.02, low.get());  // just above the border of p-1 and p
    SbrHfGenerate(t, *low, false, bw, 0, 32, high.get(), degree);
    EXPECT_GT(degree[k], 0.8f);
    EXPECT_EQ(degree[t.kx], 0.0f) << "the first band of a patch has no source neighbour";

    AnalyseTone(p + 0.5, low.get());  // mid-band: no aliasing into p-1 or p+1
    SbrHfGenerate(t, *low, false, bw, 0, 32, high.get(), degree);
    EXPECT_LT(degree[k], 0.2f);
    EXPECT_LT(degree[k + 1], 0.2f);
}

// A sinusoid just above the border of source bands p-1 and p lands in two
// adjacent high bands. Given different envelope levels, their gains differ
// and the real-valued synthesis leaves an alias image 2 x 0.02 bands below
// the tone; the aliasing reduction evens the two gains out (keeping their
// energy), so the image stays far below the tone.
TEST(SbrLowPower, AliasingReductionSuppressesTheImageOfABorderSinusoid) {
    const SbrFreqTables t = DefaultTables();
    // A border of the high-resolution table inside the first patch and
    // inside a limiter band.
    int x = 1;
    for (; x < t.patchNumSubbands[0]; ++x) {
        const int k = t.kx + x;
        const bool envelopeBorder = std::find(t.fHigh, t.fHigh + t.n[1] + 1, k) != t.fHigh + t.n[1] + 1;
        const bool limiterBorder = std::find(t.fLim, t.fLim + t.nLim + 1, k) != t.fLim + t.nLim + 1;
        if (envelopeBorder && !limiterBorder) break;
    }
    ASSERT_LT(x, t.patchNumSubbands[0]);
    const int k = t.kx + x;
    const double source = t.patchStartSubband[0] + x + 0.02;  // in core QMF bands
    std::vector<float> env(48, 1.0e8f);
    for (int b = 0; b < t.n[1]; ++b)
        if (t.fHigh[b] >= k) env[b] = 1.0e9f;  // 10 dB up from band k on
    const std::vector<float> out = AdjustedOutput(false, false, env.data(), [source](long n) {
        return static_cast<float>(8000 * std::cos(kPi * source / 32 * static_cast<double>(n)));
    });
    constexpr std::size_t kN = 32768;  // 1.35 Hz bins at 44.1 kHz
    ASSERT_GE(out.size(), kN);
    std::vector<std::complex<double>> spectrum(kN);
    for (std::size_t i = 0; i < kN; ++i) spectrum[i] = out[i] * (0.5 - 0.5 * std::cos(2 * kPi * i / kN));
    test::ReferenceFft(spectrum);
    // Output band width 44100 / 128 Hz = kN / 128 bins; the tone sits
    // 0.02 bands above the border k, the image as far below it.
    auto energyAt = [&spectrum](double bin) {
        double e = 0;
        for (long i = std::lround(bin) - 4; i <= std::lround(bin) + 4; ++i) e += std::norm(spectrum[i]);
        return e;
    };
    const double tone = energyAt((k + 0.02) * kN / 128), image = energyAt((k - 0.02) * kN / 128);
    ASSERT_GT(tone, 0.0);
    EXPECT_LT(10 * std::log10(image / tone), -20.0);
}

// A header like sbrtest::WriteHeader's, with bs_header_extra_2 carrying
// bs_limiter_bands.
sbrtest::BitWriter HeaderWithLimiter(int limiterBands) {
    sbrtest::BitWriter w;
    w.Put(1, 1);  // bs_header_flag
    w.Put(1, 1);  // bs_amp_res
    w.Put(5, 4);
    w.Put(0, 4);
    w.Put(0, 3);
    w.Put(0, 2);
    w.Put(0, 1);  // bs_header_extra_1
    w.Put(1, 1);  // bs_header_extra_2
    w.Put(static_cast<uint32_t>(limiterBands), 2);
    w.Put(2, 2);  // bs_limiter_gains
    w.Put(1, 1);  // bs_interpol_freq
    w.Put(1, 1);  // bs_smoothing_mode
    sbrtest::WriteMonoFrame(w, 4, 1, 40, 20);
    return w;
}

void Feed(SbrDecoder* d, const SbrPayloadList& list, uint32_t* seed, float* out) {
    float time[4096];
    for (int i = 0; i < 1024; ++i) {
        *seed = *seed * 1664525u + 1013904223u;
        time[i] = 3000.0f * (static_cast<float>(*seed >> 8) / 8388608.0f - 1.0f);
    }
    int channels = 1;
    ASSERT_EQ(SbrDecoderApply(d, &list, time, &channels, 1, 0, 0), kSbrStatusOk);
    if (out) std::memcpy(out, time, sizeof(float) * 2048);
}

// bs_limiter_bands does not reset the decoder, but the limiter band table
// is derived from it and must follow a new value.
TEST(SbrLowPower, LimiterBandsFollowAHeaderWithoutReset) {
    std::unique_ptr<SbrDecoder, void (*)(SbrDecoder*)> dec(SbrDecoderCreate(), SbrDecoderDestroy);
    SbrDecoder* d = SbrDecoderOpen(dec.get(), 22050, 1024, 0, 0);
    ASSERT_NE(d, nullptr);
    uint32_t seed = 3;
    const SbrPayloadList one = sbrtest::OneEntry(sbrtest::MakeEntry(HeaderWithLimiter(0), 0, 13));
    const SbrPayloadList three = sbrtest::OneEntry(sbrtest::MakeEntry(HeaderWithLimiter(3), 0, 13));
    for (int f = 0; f < 3; ++f) Feed(d, one, &seed, nullptr);
    EXPECT_EQ(d->tables.nLim, 1);
    for (int f = 0; f < 3; ++f) Feed(d, three, &seed, nullptr);
    EXPECT_EQ(d->header.limiterBands, 3);
    EXPECT_GT(d->tables.nLim, 1);
}

// The filter keeps one instance and re-opens it in place after a failure:
// a re-opened instance must decode exactly like a new one.
TEST(SbrLowPower, ReopenedInstanceDecodesLikeANewOne) {
    const SbrPayloadList list = sbrtest::OneEntry(sbrtest::MakeEntry(HeaderWithLimiter(2), 0, 13));
    std::unique_ptr<SbrDecoder, void (*)(SbrDecoder*)> used(SbrDecoderCreate(), SbrDecoderDestroy);
    std::unique_ptr<SbrDecoder, void (*)(SbrDecoder*)> fresh(SbrDecoderCreate(), SbrDecoderDestroy);
    SbrDecoder* a = SbrDecoderOpen(used.get(), 22050, 1024, 0, 0);
    uint32_t seed = 11;
    for (int f = 0; f < 7; ++f) Feed(a, list, &seed, nullptr);
    ASSERT_EQ(SbrDecoderOpen(a, 22050, 1024, 0, 0), a);
    SbrDecoder* b = SbrDecoderOpen(fresh.get(), 22050, 1024, 0, 0);
    uint32_t seedA = 21, seedB = 21;
    std::vector<float> outA(2048), outB(2048);
    for (int f = 0; f < 6; ++f) {
        Feed(a, list, &seedA, outA.data());
        Feed(b, list, &seedB, outB.data());
        ASSERT_EQ(outA, outB) << "frame " << f;
    }
}

}  // namespace
}  // namespace aurivane
