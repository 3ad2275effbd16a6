#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "g729/g729_codec.h"
#include "g729/g729_frame.h"
#include "support/speech_measures.h"

namespace aurivane {
namespace {

constexpr double kPi = std::numbers::pi;

// Speech-like test signal: a glottal pulse train with a gliding pitch
// through two formant resonators, with syllable-like amplitude changes.
std::vector<int16_t> VoicedSignal(int frames, double rms = 3000.0, unsigned seed = 1) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 0.02);
    std::vector<double> v(static_cast<size_t>(frames) * 80);
    double phase = 0.0, y1 = 0, y2 = 0, z1 = 0, z2 = 0;
    const double r1 = 0.96, f1 = 2 * kPi * 600 / 8000.0;
    const double r2 = 0.93, f2 = 2 * kPi * 1700 / 8000.0;
    double energy = 0.0;
    for (size_t n = 0; n < v.size(); ++n) {
        const double t = n / 8000.0;
        const double f0 = 120.0 + 40.0 * std::sin(2 * kPi * 0.7 * t);
        phase += f0 / 8000.0;
        double e = noise(rng);
        if (phase >= 1.0) {
            phase -= 1.0;
            e += 1.0;
        }
        const double y = e + 2 * r1 * std::cos(f1) * y1 - r1 * r1 * y2;
        y2 = y1;
        y1 = y;
        const double z = y + 2 * r2 * std::cos(f2) * z1 - r2 * r2 * z2;
        z2 = z1;
        z1 = z;
        v[n] = (0.55 + 0.45 * std::sin(2 * kPi * 2.0 * t)) * z;
        energy += v[n] * v[n];
    }
    const double g = rms / std::sqrt(energy / v.size());
    std::vector<int16_t> out(v.size());
    for (size_t n = 0; n < v.size(); ++n)
        out[n] = static_cast<int16_t>(std::lround(std::clamp(g * v[n], -32768.0, 32767.0)));
    return out;
}

std::vector<uint8_t> Encode(G729EncoderState& enc, const std::vector<int16_t>& pcm) {
    std::vector<uint8_t> bits(pcm.size() / 80 * 10);
    for (size_t k = 0; k < pcm.size() / 80; ++k) enc.EncodeFrame(&pcm[k * 80], &bits[k * 10]);
    return bits;
}

std::vector<int16_t> Decode(G729DecoderState& dec, const std::vector<uint8_t>& bits) {
    std::vector<int16_t> pcm(bits.size() / 10 * 80);
    for (size_t k = 0; k < bits.size() / 10; ++k) dec.DecodeFrame(&bits[k * 10], &pcm[k * 80]);
    return pcm;
}

TEST(G729Codec, SilentFirstFrameIsAValidFrame) {
    G729EncoderState enc;
    const int16_t zeros[80] = {};
    uint8_t frame[10];
    enc.EncodeFrame(zeros, frame);
    const G729Parameters p = UnpackG729Frame(frame);
    EXPECT_EQ(p.parity, G729PitchParity(p.pitch1));
    G729DecoderState dec;
    int16_t out[80];
    dec.DecodeFrame(frame, out);
    for (int16_t v : out) EXPECT_LE(std::abs(v), 2);
}

TEST(G729Codec, EveryEncodedFrameCarriesTheRightParity) {
    G729EncoderState enc;
    const auto bits = Encode(enc, VoicedSignal(200));
    for (size_t k = 0; k < bits.size(); k += 10) {
        const G729Parameters p = UnpackG729Frame(&bits[k]);
        ASSERT_EQ(p.parity, G729PitchParity(p.pitch1)) << k / 10;
    }
}

TEST(G729Codec, IdenticalInputFramesCodeDifferently) {
    const auto sig = VoicedSignal(20);
    G729EncoderState enc;
    std::vector<int16_t> twice(sig.begin() + 800, sig.begin() + 880);
    twice.insert(twice.end(), twice.begin(), twice.end());
    Encode(enc, std::vector<int16_t>(sig.begin(), sig.begin() + 800));
    const auto bits = Encode(enc, twice);
    EXPECT_FALSE(std::equal(bits.begin(), bits.begin() + 10, bits.begin() + 10));
}

TEST(G729Codec, RoundTripKeepsLevelAndWaveform) {
    const auto sig = VoicedSignal(400);
    G729EncoderState enc;
    G729DecoderState dec;
    const auto out = Decode(dec, Encode(enc, sig));
    // Skip the start-up; the codec delay is 40 samples (5 ms look-ahead).
    const test::Pcm ref(sig.data() + 800, sig.size() - 1600);
    const test::Pcm got(out.data() + 800, out.size() - 1600);
    const auto c = test::CompareSpeech(ref, got, 80);
    EXPECT_EQ(c.lag, 40);
    EXPECT_NEAR(c.levelDiff, 0.0, 1.0);
    EXPECT_GT(c.correlation, 0.8);
    EXPECT_GT(c.segSnr, 4.0);
}

TEST(G729Codec, LowLevelAndLoudSignalsKeepTheirLevel) {
    for (double level : {100.0, 12000.0}) {
        const auto sig = VoicedSignal(200, level, 4);
        G729EncoderState enc;
        G729DecoderState dec;
        const auto out = Decode(dec, Encode(enc, sig));
        const test::Pcm ref(sig.data() + 800, sig.size() - 1600);
        const test::Pcm got(out.data() + 840, out.size() - 1640);
        EXPECT_NEAR(test::LevelDifferenceDb(ref, got), 0.0, 1.5)
            << level << ": input at " << test::LevelDbfs(ref) << " dBFS";
    }
}

TEST(G729Codec, MainsHumIsRemovedBeforeAnalysis) {
    auto tone = [](double f) {
        std::vector<int16_t> s(80 * 200);
        for (size_t n = 0; n < s.size(); ++n)
            s[n] = static_cast<int16_t>(8000.0 * std::sin(2 * kPi * f * n / 8000.0));
        return s;
    };
    auto codedLevel = [&](double f) {
        G729EncoderState enc;
        G729DecoderState dec;
        const auto out = Decode(dec, Encode(enc, tone(f)));
        return test::LevelDbfs(test::Pcm(out.data() + 4000, out.size() - 4000));
    };
    EXPECT_LT(codedLevel(50.0), codedLevel(500.0) - 10.0);
}

TEST(G729Codec, InstancesDoNotShareState) {
    const auto a = VoicedSignal(60, 6000.0, 1);
    const auto b = VoicedSignal(60, 2000.0, 2);
    G729EncoderState ea, eb, alone;
    const auto ref = Encode(alone, a);
    std::vector<uint8_t> bitsA(ref.size()), bitsB(ref.size());
    for (size_t k = 0; k < a.size() / 80; ++k) {
        ea.EncodeFrame(&a[k * 80], &bitsA[k * 10]);
        eb.EncodeFrame(&b[k * 80], &bitsB[k * 10]);
    }
    EXPECT_EQ(bitsA, ref);

    G729DecoderState da, db, dalone;
    const auto pcmRef = Decode(dalone, ref);
    std::vector<int16_t> pa(pcmRef.size()), pb(pcmRef.size());
    for (size_t k = 0; k < ref.size() / 10; ++k) {
        da.DecodeFrame(&ref[k * 10], &pa[k * 80]);
        db.DecodeFrame(&bitsB[k * 10], &pb[k * 80]);
    }
    EXPECT_EQ(pa, pcmRef);
}

// A frame with the given first delay code and a correct parity bit.
std::array<uint8_t, 10> WithPitch1(const uint8_t* frame, int code, bool flipParity) {
    G729Parameters p = UnpackG729Frame(frame);
    p.pitch1 = static_cast<uint16_t>(code);
    p.parity = static_cast<uint16_t>(G729PitchParity(code) ^ (flipParity ? 1 : 0));
    std::array<uint8_t, 10> out;
    PackG729Frame(p, out.data());
    return out;
}

TEST(G729Codec, ParityErrorReusesThePreviousIntegerDelay) {
    G729EncoderState enc;
    const auto bits = Encode(enc, VoicedSignal(12));
    const uint8_t* f0 = &bits[80];  // a voiced frame
    const uint8_t* f1 = &bits[90];

    // First frame after initialisation: delay 60, fraction 0 (code 122).
    G729DecoderState bad, good;
    int16_t outBad[80], outGood[80];
    const auto broken = WithPitch1(f0, UnpackG729Frame(f0).pitch1, true);
    const auto as60 = WithPitch1(f0, 3 * 60 - 58, false);
    bad.DecodeFrame(broken.data(), outBad);
    good.DecodeFrame(as60.data(), outGood);
    EXPECT_TRUE(std::equal(outBad, outBad + 80, outGood));

    // Next frame: the previous delay is subframe 2's integer delay, decoded
    // in the window 55..64 around 60.
    const G729PitchDelay d2 = DecodeG729PitchDelay2(UnpackG729Frame(f0).pitch2, 60);
    ASSERT_GE(d2.integer, 55);
    ASSERT_LE(d2.integer, 64);
    const auto broken1 = WithPitch1(f1, UnpackG729Frame(f1).pitch1, true);
    const auto asPrev = WithPitch1(f1, EncodeG729PitchDelay1({d2.integer, 0}), false);
    bad.DecodeFrame(broken1.data(), outBad);
    good.DecodeFrame(asPrev.data(), outGood);
    EXPECT_TRUE(std::equal(outBad, outBad + 80, outGood));
}

TEST(G729Codec, ExtremeInputsKeepTheEncoderSane) {
    std::mt19937 rng(77);
    std::uniform_int_distribution<int> full(-32768, 32767), moderate(-6000, 6000);
    std::vector<int16_t> sig;
    for (int n = 0; n < 8000; ++n) sig.push_back((n / 20) % 2 ? 32767 : -32768);  // square wave
    for (int n = 0; n < 8000; ++n) sig.push_back(n % 400 == 0 ? 32767 : 0);      // clicks
    for (int n = 0; n < 8000; ++n) sig.push_back(static_cast<int16_t>(moderate(rng)));
    for (int n = 0; n < 8000; ++n) sig.push_back(static_cast<int16_t>(full(rng)));
    for (int n = 0; n < 8000; ++n) sig.push_back(n % 2 ? 32767 : -32768);          // Nyquist
    const auto speech = VoicedSignal(200);
    sig.insert(sig.end(), speech.begin(), speech.end());
    G729EncoderState enc;
    G729DecoderState dec;
    const auto bits = Encode(enc, sig);
    for (size_t k = 0; k < bits.size(); k += 10)
        ASSERT_EQ(UnpackG729Frame(&bits[k]).parity, G729PitchParity(UnpackG729Frame(&bits[k]).pitch1));
    const auto out = Decode(dec, bits);
    // White noise at speech level comes out a few dB low (four pulses match
    // noise poorly, and analysis by synthesis scales a poor match down), but
    // not silenced or blown up; full-scale noise lies beyond the range of the
    // gain codebooks. The speech after all of it is coded as well as by a
    // fresh coder.
    const size_t noise = 16000;
    const double noiseLevel = test::LevelDifferenceDb(test::Pcm(sig.data() + noise + 800, 6000),
                                                      test::Pcm(out.data() + noise + 840, 6000));
    EXPECT_GT(noiseLevel, -8.0);
    EXPECT_LT(noiseLevel, 1.0);
    const size_t sp = 40000;
    G729EncoderState freshEnc;
    G729DecoderState freshDec;
    const auto ref = Decode(freshDec, Encode(freshEnc, speech));
    const test::Pcm in(speech.data() + 4000, 11000);
    const double segAfter = test::SegmentalSnrDb(in, test::Pcm(out.data() + sp + 4040, 11000));
    const double segFresh = test::SegmentalSnrDb(in, test::Pcm(ref.data() + 4040, 11000));
    EXPECT_GT(segAfter, segFresh - 1.0);
}

TEST(G729Codec, HostileFramesNeitherCrashNorLockTheDecoder) {
    G729DecoderState dec;
    std::mt19937 rng(1234);
    int16_t out[80];
    uint8_t frame[10];
    for (int n = 0; n < 3000; ++n) {
        for (auto& b : frame) b = static_cast<uint8_t>(rng());
        if (n % 7 == 0)
            for (auto& b : frame) b = 0xFF;
        dec.DecodeFrame(frame, out);
    }
    // Maximal pitch gains with the longest delays, over and over.
    G729Parameters p;
    p.pitch1 = 255;
    p.pitch2 = 31;
    p.gains1 = p.gains2 = 5;  // pitch gain 1.356, the largest
    p.lsp1 = 0x80 | 127;
    p.lsp2 = 1023;
    PackG729Frame(p, frame);
    // Unbounded, the excitation would reach infinity within these frames.
    for (int n = 0; n < 2000; ++n) dec.DecodeFrame(frame, out);
    // Then a real, quiet stream must come out quiet again.
    G729EncoderState enc;
    const auto quiet = Encode(enc, VoicedSignal(300, 1000.0));
    const auto pcm = Decode(dec, quiet);
    const test::Pcm tail(pcm.data() + pcm.size() - 8000, 8000);
    G729DecoderState fresh;
    const auto clean = Decode(fresh, quiet);
    EXPECT_NEAR(test::LevelDbfs(tail), test::LevelDbfs(test::Pcm(clean.data() + clean.size() - 8000, 8000)),
                1.0);
}

}  // namespace
}  // namespace aurivane
