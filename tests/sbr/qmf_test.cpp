// QMF analysis (32 bands) followed by synthesis (64 bands) with an empty
// high band is a 2:1 upsampler; checked against the ideal upsampled signal.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <vector>

#include "aacdec/qmf_bank.h"
#include "aacdec/sbr_decoder.h"
#include "dsp/sbr_tables.h"
#include "sbr/sbr_test_util.h"

namespace aurivane {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Tone {
    double amplitude, omega, phase;  // omega in radians per core sample
};

double Signal(const std::vector<Tone>& tones, double t) {
    double s = 0.0;
    for (const Tone& x : tones) s += x.amplitude * std::sin(x.omega * t + x.phase);
    return s;
}

// SNR of the bank output against the tones evaluated at half-sample times,
// at the best integer delay.
double UpsamplingSnr(bool complex, int* delayOut) {
    const std::vector<Tone> tones = {{8000, 0.031, 0.3}, {3000, 0.9, 1.1}, {1500, 2.2, 2.0}};
    QmfAnalysis32 analysis;
    QmfSynthesis64 synthesis;
    analysis.Reset();
    synthesis.Reset();
    const int slots = 120;
    std::vector<float> in(32 * slots), out(64 * slots);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<float>(Signal(tones, static_cast<double>(i)));
    for (int l = 0; l < slots; ++l) {
        float re[64] = {}, im[64] = {};
        analysis.Process(&in[32 * l], re, complex ? im : nullptr);
        synthesis.Process(re, complex ? im : nullptr, &out[64 * l]);
    }
    double best = -1e9;
    for (int d = 500; d < 700; ++d) {
        double sig = 0, err = 0;
        for (int n = 1500; n < 64 * slots; ++n) {
            const double ref = Signal(tones, (n - d) / 2.0);
            sig += ref * ref;
            err += (out[n] - ref) * (out[n] - ref);
        }
        const double snr = 10 * std::log10(sig / err);
        if (snr > best) best = snr, *delayOut = d;
    }
    return best;
}

TEST(SbrQmf, ComplexBankUpsamplesWithHighSnr) {
    int delay = 0;
    const double snr = UpsamplingSnr(true, &delay);
    EXPECT_GT(snr, 55.0);
    // Delay of the two banks in output samples; the decoder's alignment with
    // independent decoders depends on it.
    EXPECT_EQ(delay, 578);
}

TEST(SbrQmf, RealBankCancelsItsAliasing) {
    int delay = 0;
    const double snr = UpsamplingSnr(false, &delay);
    EXPECT_GT(snr, 55.0);
    EXPECT_EQ(delay, 578);
}

// Both banks' fast transforms against their modulations evaluated
// directly, with all 64 synthesis bands driven.
TEST(SbrQmf, BanksMatchDirectModulation) {
    for (bool complex : {false, true}) {
        SCOPED_TRACE(complex ? "complex" : "real");
        QmfAnalysis32 analysis;
        QmfSynthesis64 synthesis;
        analysis.Reset();
        synthesis.Reset();
        std::vector<double> x(320, 0.0), v(1280, 0.0);  // newest first
        unsigned seed = 12345;
        auto noise = [&seed]() {
            seed = seed * 1103515245u + 12345u;
            return static_cast<double>((seed >> 8) & 0xffff) - 32768.0;
        };
        double errA = 0, sigA = 0, errS = 0, sigS = 0;
        for (int l = 0; l < 30; ++l) {
            float in[32], re[64], im[64] = {}, out[64];
            for (float& s : in) s = static_cast<float>(noise());
            analysis.Process(in, re, complex ? im : nullptr);
            x.insert(x.begin(), 32, 0.0);
            x.resize(320);
            for (int n = 0; n < 32; ++n) x[n] = in[31 - n];
            for (int k = 0; k < 32; ++k) {
                std::complex<double> ref = 0;
                for (int n = 0; n < 64; ++n) {
                    double u = 0;
                    for (int j = 0; j < 5; ++j) u += x[n + 64 * j] * kSbrQmfWindow[2 * (n + 64 * j)];
                    ref += complex ? 2 * u * std::polar(1.0, kPi * (k + 0.5) * (2 * n - 0.5) / 64)
                                   : 2 * u * std::cos(kPi * (k + 0.5) * (2 * n - 96) / 64);
                }
                sigA += std::norm(ref);
                errA += std::norm(std::complex<double>(re[k], im[k]) - ref);
            }
            float bands[64], bandsIm[64];
            for (float& s : bands) s = static_cast<float>(noise());
            for (float& s : bandsIm) s = static_cast<float>(noise());
            synthesis.Process(bands, complex ? bandsIm : nullptr, out);
            v.insert(v.begin(), 128, 0.0);
            v.resize(1280);
            for (int n = 0; n < 128; ++n) {
                double s = 0;
                for (int k = 0; k < 64; ++k)
                    s += complex ? (std::complex<double>(bands[k], bandsIm[k]) / 64.0 *
                                    std::polar(1.0, kPi * (k + 0.5) * (2 * n - 255) / 128)).real()
                                 : bands[k] * std::cos(kPi * (k + 0.5) * (2 * n - 64) / 128) / 32;
                v[n] = s;
            }
            for (int k = 0; k < 64; ++k) {
                double ref = 0;
                for (int j = 0; j < 5; ++j) {
                    ref += v[256 * j + k] * kSbrQmfWindow[128 * j + k];
                    ref += v[256 * j + 192 + k] * kSbrQmfWindow[128 * j + 64 + k];
                }
                sigS += ref * ref;
                errS += (out[k] - ref) * (out[k] - ref);
            }
        }
        EXPECT_GT(10 * std::log10(sigA / errA), 110.0);
        EXPECT_GT(10 * std::log10(sigS / errS), 110.0);
    }
}

// The decoder runs whole frames through the banks with several transforms
// side by side; each slot must come out exactly as a slot-by-slot run gives
// it, in runs of any length, across the copy-back of the sliding windows.
TEST(SbrQmf, FrameRunsEqualSlotBySlotBitForBit) {
    QmfAnalysis32 a1, a2;
    QmfSynthesis64 s1, s2;
    a1.Reset(), a2.Reset(), s1.Reset(), s2.Reset();
    unsigned seed = 777;
    auto noise = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return static_cast<float>(static_cast<int>((seed >> 8) & 0xffff) - 32768);
    };
    int mismatches = 0;
    for (int run : {32, 3, 5, 32, 1, 2, 32, 7}) {
        std::vector<float> in(32 * run);
        for (float& x : in) x = noise();
        std::vector<float> re(32 * run), im(32 * run);
        a2.ProcessSlots(in.data(), run, reinterpret_cast<float(*)[32]>(re.data()),
                        reinterpret_cast<float(*)[32]>(im.data()));
        std::vector<float> bandRe(64 * run), bandIm(64 * run), out1(64 * run), out2(64 * run);
        for (int l = 0; l < run; ++l) {
            float r[32], i[32];
            a1.Process(&in[32 * l], r, i);
            for (int k = 0; k < 32; ++k) mismatches += r[k] != re[32 * l + k] || i[k] != im[32 * l + k];
            for (int k = 0; k < 64; ++k) bandRe[64 * l + k] = noise(), bandIm[64 * l + k] = noise();
            s1.Process(&bandRe[64 * l], &bandIm[64 * l], &out1[64 * l]);
        }
        s2.ProcessSlots(reinterpret_cast<const float(*)[64]>(bandRe.data()),
                        reinterpret_cast<const float(*)[64]>(bandIm.data()), run, out2.data());
        for (int n = 0; n < 64 * run; ++n) mismatches += out1[n] != out2[n];
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(SbrQmf, ToneLandsInItsBandWithTheExpectedPhaseStep) {
    // A cosine at 0.25 band widths: band 0 rotates by pi/4 per slot and
    // holds nearly all energy.
    QmfAnalysis32 analysis;
    analysis.Reset();
    float re[32], im[32];
    double prevRe = 0, prevIm = 0, step = 0, e0 = 0, eRest = 0;
    for (int l = 0; l < 40; ++l) {
        float in[32];
        for (int i = 0; i < 32; ++i) in[i] = static_cast<float>(1000 * std::cos(0.25 * kPi / 32 * (32 * l + i)));
        analysis.Process(in, re, im);
        if (l >= 20) {
            step += std::atan2(im[0] * prevRe - re[0] * prevIm, re[0] * prevRe + im[0] * prevIm);
            e0 += re[0] * re[0] + im[0] * im[0];
            for (int k = 2; k < 32; ++k) eRest += re[k] * re[k] + im[k] * im[k];
        }
        prevRe = re[0];
        prevIm = im[0];
    }
    EXPECT_NEAR(step / 20, kPi / 4, 1e-3);
    EXPECT_LT(eRest, 1e-6 * e0);
}

// Below the crossover the decoder's output is the core signal upsampled by
// the QMF pair, whichever pair it runs: a stereo stream through the
// low-power option's real-valued bank on the default header must
// reproduce, channel by channel, what a mono stream (complex bank) makes of
// the same core signal, with the same delay (they agree to about 85 dB).
TEST(SbrQmf, RealAndComplexDecoderPathsAgreeWithAnEmptyHighBand) {
    const std::vector<Tone> tones = {{6000, 0.05, 0.1}, {3000, 0.6, 1.3}, {2000, 1.5, 0.4}, {1000, 2.6, 2.2}};
    sbrtest::BitWriter w;
    w.Put(0, 1);  // no header: the default header, high band empty
    w.Put(0, 15);
    const SbrPayloadList mono = sbrtest::OneEntry(sbrtest::MakeEntry(w, 0, 13));
    const SbrPayloadList pair = sbrtest::OneEntry(sbrtest::MakeEntry(w, 1, 13));
    using Ptr = std::unique_ptr<SbrDecoder, void (*)(SbrDecoder*)>;
    Ptr hq(SbrDecoderCreate(), SbrDecoderDestroy), lp(SbrDecoderCreate(), SbrDecoderDestroy);
    SbrDecoder* dh = SbrDecoderOpen(hq.get(), 22050, 1024, 0, 0);
    SbrDecoder* dl = SbrDecoderOpen(lp.get(), 22050, 1024, kSbrOptionLowPower, 0);
    ASSERT_NE(dh, nullptr);
    ASSERT_NE(dl, nullptr);
    double sig = 0, err[2] = {0, 0};
    for (int f = 0; f < 10; ++f) {
        float a[4096], b[4096];
        for (int i = 0; i < 1024; ++i) {
            const float v = static_cast<float>(Signal(tones, 1024.0 * f + i));
            a[i] = v;
            b[i] = v;          // left: as the mono core
            b[1024 + i] = -v;  // right: inverted, to tell the channels apart
        }
        int ch = 1;
        ASSERT_EQ(SbrDecoderApply(dh, &mono, a, &ch, 1, 0, 0), 0);
        ASSERT_EQ(ch, 1);
        ch = 2;
        ASSERT_EQ(SbrDecoderApply(dl, &pair, b, &ch, 1, 0, 0), 0);
        ASSERT_EQ(ch, 2);
        if (f < 3) continue;
        for (int n = 0; n < 2048; ++n) {
            sig += static_cast<double>(a[n]) * a[n];
            err[0] += (b[n] - a[n]) * static_cast<double>(b[n] - a[n]);
            err[1] += (b[2048 + n] + a[n]) * static_cast<double>(b[2048 + n] + a[n]);
        }
    }
    ASSERT_GT(sig, 0.0);
    EXPECT_GT(10 * std::log10(sig / err[0]), 75.0) << "left";
    EXPECT_GT(10 * std::log10(sig / err[1]), 75.0) << "right";
}

}  // namespace
}  // namespace aurivane
