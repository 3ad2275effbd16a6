// Envelope adjuster rules at the edges of the limiter table and of the
// sinusoid persistence across frames.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "aacdec/sbr_hf.h"

namespace aurivane {
namespace {

std::vector<int> Table(const int* v, int n) { return std::vector<int>(v, v + n + 1); }

// start 5, stop 7, crossover 3, linear bands at 44.1 kHz: kx 17, M 23; the
// patches [17, 26) and [26, 38) leave a last patch of two bands, which is
// dropped, so bands 38 and 39 are not regenerated.
// The default header with the fields that shape the band tables replaced.
SbrHeader TableHeader(int startFreq, int stopFreq, int xoverBand, int freqScale, int alterScale, int limiterBands) {
    SbrHeader h = kSbrDefaultHeader;
    h.startFreq = startFreq;
    h.stopFreq = stopFreq;
    h.xoverBand = xoverBand;
    h.freqScale = freqScale;
    h.alterScale = alterScale;
    h.limiterBands = limiterBands;
    return h;
}

SbrHeader ShortLastPatchHeader() {
    SbrHeader h = TableHeader(5, 7, 3, 0, 0, 2);
    h.limiterGains = 0;
    return h;
}

SbrGrid OneEnvelope(int transientEnv) {
    SbrGrid g = {};
    g.frameClass = transientEnv < 0 ? kFixFix : kFixVar;
    g.numEnv = 1;
    g.numNoise = 1;
    g.tE[1] = 16;
    g.tQ[1] = 16;
    g.freqRes[0] = 1;
    g.transientEnv = transientEnv;
    return g;
}

// kx + M (40) ends no patch, lies within 0.49 / 2 octaves of 38 and is
// merged away: the limiter table stops at the last patch border.
TEST(SbrLimiterTable, TopBorderWithoutPatchIsMerged) {
    SbrFreqTables t;
    ASSERT_TRUE(SbrBuildFreqTables(ShortLastPatchHeader(), 44100, &t));
    ASSERT_EQ(t.kx, 17);
    ASSERT_EQ(t.m, 23);
    ASSERT_EQ(t.numPatches, 2);
    EXPECT_EQ(t.patchNumSubbands[0] + t.patchNumSubbands[1], 21);
    EXPECT_EQ(Table(t.fLim, t.nLim), (std::vector<int>{17, 26, 32, 38}));
    SbrHeader one = ShortLastPatchHeader();
    one.limiterBands = 0;
    ASSERT_TRUE(SbrBuildFreqTables(one, 44100, &t));
    EXPECT_EQ(Table(t.fLim, t.nLim), (std::vector<int>{17, 40}));
}

struct AdjustRun {
    SbrFreqTables t;
    SbrHeader h;
    float env[5][48];
    float noise[2][5];
    int harmonic[48] = {};
    int harmonicPrev[48] = {};
    SbrAdjusterState st = {};
    std::unique_ptr<SbrSubbands> high = std::make_unique<SbrSubbands>();
    int emptyBand = -1;  // a patched band left without source signal

    explicit AdjustRun(const SbrHeader& header) : h(header) {
        EXPECT_TRUE(SbrBuildFreqTables(h, 44100, &t));
        for (auto& e : env)
            for (float& v : e) v = 1.0e8f;
        for (auto& n : noise)
            for (float& v : n) v = 1.0f;
        st.reset = true;
    }
    // One frame over a high band that holds a constant signal in the
    // patched bands only, as the HF generator leaves it.
    void Frame(const SbrGrid& g) {
        std::memset(high.get(), 0, sizeof(SbrSubbands));
        int patchEnd = t.kx;
        for (int p = 0; p < t.numPatches; ++p) patchEnd += t.patchNumSubbands[p];
        for (int i = 0; i < kSbrHighSlots; ++i)
            for (int k = t.kx; k < patchEnd; ++k) high->re[i][k] = k == emptyBand ? 0.0f : 100.0f;
        SbrAdjustInput in = {};
        in.tables = &t;
        in.header = &h;
        in.grid = &g;
        in.envOrig = env;
        in.noiseOrig = noise;
        in.addHarmonic = harmonic;
        in.addHarmonicPrev = harmonicPrev;
        in.complex = true;
        SbrHfAdjust(in, &st, high.get());
    }
    double BandEnergy(int k, int slotBegin, int slotEnd) const {
        double e = 0.0;
        for (int i = slotBegin; i < slotEnd; ++i) {
            const double r = high->re[i + 2][k], im = high->im[i + 2][k];
            e += r * r + im * im;
        }
        return e;
    }
};

// Bands above the last limiter border have no limited gain: neither noise
// floor nor a sinusoid coded for them is added, while the patched bands
// below are filled.
TEST(SbrAdjuster, BandsAboveTheLimiterTableStayEmpty) {
    AdjustRun run(ShortLastPatchHeader());
    for (int i = 0; i < run.t.n[1]; ++i) run.harmonic[i] = run.harmonicPrev[i] = 1;
    run.Frame(OneEnvelope(-1));
    EXPECT_GT(run.BandEnergy(30, 0, 32), 1.0e6);
    EXPECT_GT(run.BandEnergy(37, 0, 32), 1.0e6);
    EXPECT_EQ(run.BandEnergy(38, 0, 32), 0.0);
    EXPECT_EQ(run.BandEnergy(39, 0, 32), 0.0);
}

// start 2, stop 14 (k2 = 2 k0 = 22), crossover 1, 1.2 limiter bands per
// octave: the one patch [12, 20) is followed by a dropped two-band patch.
// Merging removes 19 and then kx + M, which ends no patch, so the table is
// {12, 17}: the patched bands 17..19 lie above every limiter band and get no
// gain, as independent decoders leave them.
TEST(SbrAdjuster, PatchedBandsAboveAMergedTopBorderStayEmpty) {
    SbrHeader h = TableHeader(2, 14, 1, 2, 0, 1);
    h.noiseBands = 0;
    AdjustRun run(h);
    ASSERT_EQ(run.t.kx, 12);
    ASSERT_EQ(run.t.m, 10);
    ASSERT_EQ(run.t.numPatches, 1);
    ASSERT_EQ(run.t.patchNumSubbands[0], 8);
    EXPECT_EQ(Table(run.t.fLim, run.t.nLim), (std::vector<int>{12, 17}));
    run.Frame(OneEnvelope(-1));
    for (int k = 12; k < 17; ++k) EXPECT_GT(run.BandEnergy(k, 0, 32), 1.0e6) << "band " << k;
    for (int k = 17; k < 22; ++k) EXPECT_EQ(run.BandEnergy(k, 0, 32), 0.0) << "band " << k;
}

// A sinusoid whose frame points l_A at L_E starts in none of its envelopes,
// so the next frame must not treat it as running: with l_A = 1 there, its
// first envelope carries only sinusoids that were present before.
TEST(SbrAdjuster, SinusoidStartingAfterTheFrameDoesNotCarryOver) {
    SbrHeader h = kSbrDefaultHeader;
    AdjustRun run(h);
    for (auto& n : run.noise)
        for (float& v : n) v = 1.0e-6f;  // a sinusoid at nearly E, noise 60 dB below
    const int band = 3;                 // high-resolution band [17, 18): sine at 17
    const int k = (run.t.fHigh[band] + run.t.fHigh[band + 1]) >> 1;
    run.harmonic[band] = 1;
    run.emptyBand = k;  // only noise or the sinusoid can fill it

    // Frame 1: l_A = L_E = 1, the flag is set but the sine is not yet on.
    const SbrGrid late = OneEnvelope(1);
    run.Frame(late);
    const double quiet = run.BandEnergy(k, 0, 32);
    SbrCarrySinusoids(late, run.t.n[1], run.harmonic, run.harmonicPrev);
    EXPECT_EQ(run.harmonicPrev[band], 0);

    // Frame 2: two envelopes with l_A = 1; the sine belongs to envelope 1 only.
    SbrGrid two = OneEnvelope(1);
    two.numEnv = 2;
    two.tE[1] = 8;
    two.tE[2] = 16;
    two.freqRes[1] = 1;
    run.Frame(two);
    const double before = run.BandEnergy(k, 0, 16), after = run.BandEnergy(k, 16, 32);
    EXPECT_LT(before, quiet) << "sinusoid started before l_A";
    EXPECT_GT(after, 1.0e4 * before);
    SbrCarrySinusoids(two, run.t.n[1], run.harmonic, run.harmonicPrev);
    EXPECT_EQ(run.harmonicPrev[band], 1);

    // Frame 3: the running sine continues from its first envelope, and a
    // cleared flag ends it.
    run.Frame(two);
    EXPECT_GT(run.BandEnergy(k, 0, 16), 1.0e4 * before);
    run.harmonic[band] = 0;
    SbrCarrySinusoids(two, run.t.n[1], run.harmonic, run.harmonicPrev);
    EXPECT_EQ(run.harmonicPrev[band], 0);
}

}  // namespace
}  // namespace aurivane
