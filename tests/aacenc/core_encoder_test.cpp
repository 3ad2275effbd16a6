// AAC-LC core encoder, judged by our own core decoder: every access unit
// parses with status 0 and consumes exactly its bytes, the decoded signal is
// close to the input, the rate meets the target, no frame passes the
// ceiling, and the writer's and the reservoir's checks never flag a frame.
#include "aacenc/aac_core_encoder.h"

#include "aac_judge.h"
#include "support/speech_measures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace aurivane {
namespace {

using Signal = std::function<float(int n, int rate)>;
constexpr int kCodecDelay = 1600;  // encoder look-ahead and both filterbank halves

struct Coded {
    std::vector<int16_t> input, output;  // output shifted back by the codec delay
    int badFrames = 0;                   // status != 0 or inexact parse
    int maxScfSpan = 0;                  // over bands that carry values
    int scfOutOfRange = 0;               // scalefactors outside 0..255
    std::vector<int> globalGain, maxSfb, windowSequence;
    AacCoreStats stats{};
};

int16_t Clamp16(float v) { return std::isfinite(v) ? static_cast<int16_t>(std::clamp(v, -32768.0f, 32767.0f)) : 0; }

AacCoreConfig Config(int rate, int bitRate, int ceiling = 0, int bandwidth = 0) {
    AacCoreConfig c;
    c.sampleRate = rate;
    c.bitRate = bitRate;
    c.inputChannels = 1;
    c.outputChannels = 1;
    c.bandwidth = bandwidth;
    c.maxFrameBytes = ceiling;
    return c;
}

// Encodes `frames` frames of `signal`, with a random SBR payload of
// sbrBytes(frame) bytes, and decodes every access unit at once.
Coded Encode(const AacCoreConfig& config, int frames, const Signal& signal,
             const std::function<int(int)>& sbrBytes = nullptr) {
    Coded c;
    AacCoreEncoder* enc = nullptr;
    EXPECT_EQ(AacCoreOpen(&enc, config), 0);
    if (enc == nullptr) return c;
    enctest::Judge judge(config.sampleRate);
    std::mt19937 rng(7);
    float pcm[1024];
    uint8_t payload[256], au[768];
    std::vector<int16_t> decoded;
    for (int f = 0; f < frames + 3; ++f) {
        for (int i = 0; i < 1024; ++i) {
            pcm[i] = f < frames ? signal(f * 1024 + i, config.sampleRate) : 0.0f;
            if (f < frames) c.input.push_back(Clamp16(pcm[i]));
        }
        const int n = sbrBytes ? sbrBytes(f) : 0;
        for (int i = 0; i < n; ++i) payload[i] = static_cast<uint8_t>(rng());
        int bytes = -1;
        EXPECT_EQ(AacCoreEncodeFrame(enc, pcm, 1, payload, n, au, &bytes), 0);
        bool exact = false;
        if (judge.Decode(au, bytes, &exact) != 0 || !exact) ++c.badFrames;
        const ChannelStream& ch = judge.dec.channel[0];
        c.globalGain.push_back(ch.globalGain);
        c.maxSfb.push_back(ch.ics.maxSfb);
        c.windowSequence.push_back(ch.ics.windowSequence);
        int lo = 1000, hi = -1000;
        for (int g = 0; g < ch.ics.numGroups; ++g)
            for (int b = 0; b < ch.ics.maxSfb; ++b) {
                if (ch.sectionCodebook[g * 16 + b] == 0) continue;
                const int sf = ch.scalefactor[g * 16 + b];
                if (sf < -100 || sf > 155) ++c.scfOutOfRange;
                lo = std::min(lo, sf);
                hi = std::max(hi, sf);
            }
        if (hi >= lo) c.maxScfSpan = std::max(c.maxScfSpan, hi - lo);
        // The decoder's output trails by one call.
        if (f >= 1)
            for (int i = 0; i < 1024; ++i) decoded.push_back(Clamp16(judge.time[i]));
    }
    c.output.assign(decoded.begin() + kCodecDelay, decoded.begin() + kCodecDelay + c.input.size());
    c.stats = *AacCoreGetStats(enc);
    AacCoreClose(enc);
    return c;
}

void ExpectSoundStream(const Coded& c, int ceilingBytes) {
    EXPECT_EQ(c.badFrames, 0);
    EXPECT_EQ(c.stats.writerMismatches, 0);
    EXPECT_EQ(c.stats.reservoirErrors, 0);
    EXPECT_EQ(c.stats.overMaxBits, 0);
    EXPECT_LE(c.stats.largestFrameBytes, ceilingBytes);
    EXPECT_LE(c.maxScfSpan, 60);
    EXPECT_EQ(c.scfOutOfRange, 0);
}

// SNR away from the first and last two frames, where the signal switches on
// and off.
double Snr(const Coded& c) {
    const std::size_t n = c.input.size() - 4096;
    return test::SnrDb(test::Pcm(c.input.data() + 2048, n), test::Pcm(c.output.data() + 2048, n));
}

float WhiteNoise(int n, int) {
    // Stateless so that every run sees the same signal.
    uint32_t x = static_cast<uint32_t>(n) * 2654435761u;
    x ^= x >> 15;
    x *= 2246822519u;
    x ^= x >> 13;
    return (static_cast<float>(x & 0xFFFF) - 32768.0f) * 0.15f;
}
float Tone(int n, int rate) { return 8000.0f * std::sin(2.0f * 3.14159265f * 1000.0f * n / rate); }
float Clicks(int n, int rate) { return n % (rate / 4) == 100 ? 30000.0f : 0.0f; }
float Silence(int, int) { return 0.0f; }
float Square(int n, int rate) { return (n * 2 * 220 / rate) % 2 ? 32767.0f : -32768.0f; }
float Nyquist(int n, int) { return n % 2 ? 32767.0f : -32767.0f; }
float Dc(int, int) { return 12000.0f; }

struct Item {
    const char* name;
    Signal signal;
    double minSnr;  // at the middle bitrate; -100: judged by level only
};

// Every signal at every core rate and at the lowest, a middle and the highest
// accepted bitrate: syntax, checks and ceiling; SNR where the signal is coded.
TEST(AacCoreEncoder, EverySignalRateAndBitrateDecodes) {
    const Item items[] = {{"noise", WhiteNoise, -100}, {"tone", Tone, 40},    {"clicks", Clicks, 15},
                          {"silence", Silence, -100},  {"square", Square, 18}, {"nyquist", Nyquist, 60},
                          {"dc", Dc, 40}};
    for (int rate : {16000, 22050, 24000}) {
        const int highest = std::min(44001, static_cast<int>(rate * 5.2734375));
        for (int bitRate : {8000, 24000, highest}) {
            for (const Item& item : items) {
                SCOPED_TRACE(testing::Message() << item.name << " " << rate << " Hz " << bitRate << " bit/s");
                const Coded c = Encode(Config(rate, bitRate), 24, item.signal);
                ExpectSoundStream(c, 768);
                if (bitRate == 24000 && item.minSnr > -100) {
                    EXPECT_GT(Snr(c), item.minSnr);
                }
                if (std::string(item.name) == "silence") {
                    // Silence codes as max_sfb 0 with global_gain 104 and decodes to silence.
                    EXPECT_EQ(std::count(c.maxSfb.begin(), c.maxSfb.end(), 0), static_cast<long>(c.maxSfb.size()));
                    EXPECT_EQ(std::count(c.globalGain.begin(), c.globalGain.end(), 104),
                              static_cast<long>(c.globalGain.size()));
                    EXPECT_EQ(test::LevelDbfs(test::Pcm(c.output)), -200);
                } else {
                    // The level a listener hears survives; at the lowest rate the
                    // full band loses part of its top.
                    EXPECT_NEAR(test::LevelDifferenceDb(test::Pcm(c.input), test::Pcm(c.output)), 0.0,
                                bitRate == 8000 ? 4.0 : 1.5);
                }
            }
        }
    }
}



float Music(int n, int rate) {
    static const double kNotes[] = {220.0, 277.2, 329.6, 440.0, 369.9, 293.7};
    const double t = static_cast<double>(n) / rate;
    const double age = t - std::floor(t * 4) / 4;
    const double f0 = kNotes[static_cast<int>(t * 4) % 6];
    double v = 0.5 * std::sin(2 * M_PI * 55.0 * t);
    for (int h = 1; h <= 8; ++h) v += std::sin(2 * M_PI * f0 * h * t) * std::exp(-age * 6 * h) / h;
    return static_cast<float>(6000 * v);
}

// The payload rate meets the target. The reservoir (6144 bits less a frame)
// may legitimately end emptier than it started, so the run is long enough
// for it to weigh under 0.7 % (and at least 10 s).
TEST(AacCoreEncoder, MeanRateMeetsTarget) {
    for (int rate : {16000, 22050}) {
        for (int bitRate : {8000, 16000, 32000, 44001}) {
            for (const Signal& signal : {Signal(WhiteNoise), Signal(Music)}) {
                SCOPED_TRACE(testing::Message() << rate << " Hz " << bitRate << " bit/s");
                const double seconds = std::max(10.0, 6144.0 / (0.007 * bitRate));
                const int frames = static_cast<int>(seconds * rate / 1024);
                const Coded c = Encode(Config(rate, bitRate, 0, rate / 4), frames, signal);
                ExpectSoundStream(c, 768);
                const double mean = 8.0 * static_cast<double>(c.stats.bytes) * rate / (1024.0 * c.stats.frames);
                EXPECT_NEAR(mean, bitRate, 0.01 * bitRate);
            }
        }
    }
}

// 44000 bit/s at 22050 Hz averages 255.4 bytes a frame: with a 255-byte
// ceiling no access unit may pass it, SBR payloads included, and the rate
// may only lose what the ceiling takes.
TEST(AacCoreEncoder, CeilingHoldsEveryFrame) {
    const int frames = 15 * 22050 / 1024;
    const Coded plain = Encode(Config(22050, 44000, 255, 8000), frames, WhiteNoise);
    ExpectSoundStream(plain, 255);
    EXPECT_GT(plain.stats.ceilingHits, 0);
    EXPECT_NEAR(8.0 * plain.stats.bytes * 22050 / (1024.0 * plain.stats.frames), 44000, 440);
    // Payloads of every size up to 256 bytes: the frame keeps the ceiling and
    // only payloads that cannot fit are left out.
    const Coded sbr = Encode(Config(22050, 44000, 255, 8000), frames, Music, [](int f) { return (f * 37) % 257; });
    ExpectSoundStream(sbr, 255);
    EXPECT_GT(sbr.stats.sbrDropped, 0);
    EXPECT_LT(sbr.stats.sbrDropped, sbr.stats.frames / 2);
    printf("ceiling hits %lld of %lld frames, %lld overflow bits; sbr dropped %lld, hits %lld\n",
           (long long)plain.stats.ceilingHits, (long long)plain.stats.frames, (long long)plain.stats.overflowBits,
           (long long)sbr.stats.sbrDropped, (long long)sbr.stats.ceilingHits);
}

TEST(AacCoreEncoder, OpenRefusesWhatCannotBeCoded) {
    AacCoreEncoder* enc = reinterpret_cast<AacCoreEncoder*>(1);
    EXPECT_EQ(AacCoreOpen(&enc, Config(32000, 32000)), 1);  // no core band table
    EXPECT_EQ(enc, nullptr);
    EXPECT_EQ(AacCoreOpen(&enc, Config(22050, 7999)), 1);
    EXPECT_EQ(AacCoreOpen(&enc, Config(22050, 44002)), 1);  // no TNS parameters
    EXPECT_EQ(AacCoreOpen(&enc, Config(11025, 58141)), 1);  // above 5.2734375 x rate
    EXPECT_EQ(AacCoreOpen(&enc, Config(22050, 32000, 63)), 1);
    AacCoreConfig pair = Config(22050, 64000);
    pair.inputChannels = pair.outputChannels = 2;
    EXPECT_EQ(AacCoreOpen(&enc, pair), 1);
    EXPECT_EQ(enc, nullptr);
    AacCoreClose(nullptr);
    ASSERT_EQ(AacCoreOpen(&enc, Config(11025, 44001)), 0);
    AacCoreClose(enc);
}

// Samples that cannot be audio (NaN, infinities, 1e30) still give frames
// that parse, and the encoder recovers for the tone that follows.
TEST(AacCoreEncoder, HostileSamplesStillCodeValidFrames) {
    const Coded c = Encode(Config(22050, 32000), 24, [](int n, int rate) {
        if (n >= 8 * 1024) return Tone(n, rate);
        const float hostile[] = {std::nanf(""), INFINITY, -INFINITY, 1e30f, -1e30f, 40000.0f};
        return hostile[(n / 7) % 6];
    });
    ExpectSoundStream(c, 768);
    const std::size_t start = 12 * 1024, n = 8 * 1024;
    EXPECT_GT(test::SnrDb(test::Pcm(c.input.data() + start, n), test::Pcm(c.output.data() + start, n)), 30.0);
}

// Two instances interleaved produce the same bytes as one alone.
TEST(AacCoreEncoder, InstancesAreIndependent) {
    AacCoreEncoder *a = nullptr, *b = nullptr, *solo = nullptr;
    ASSERT_EQ(AacCoreOpen(&a, Config(22050, 32000)), 0);
    ASSERT_EQ(AacCoreOpen(&b, Config(16000, 12000)), 0);
    ASSERT_EQ(AacCoreOpen(&solo, Config(22050, 32000)), 0);
    float pcm[1024], other[1024];
    uint8_t outA[768], outB[768], outSolo[768];
    int differences = 0;
    for (int f = 0; f < 20; ++f) {
        for (int i = 0; i < 1024; ++i) {
            pcm[i] = Music(f * 1024 + i, 22050);
            other[i] = WhiteNoise(f * 1024 + i, 16000);
        }
        int na = 0, nb = 0, ns = 0;
        AacCoreEncodeFrame(a, pcm, 1, nullptr, 0, outA, &na);
        AacCoreEncodeFrame(b, other, 1, nullptr, 0, outB, &nb);
        AacCoreEncodeFrame(solo, pcm, 1, nullptr, 0, outSolo, &ns);
        if (na != ns || !std::equal(outA, outA + na, outSolo)) ++differences;
    }
    EXPECT_EQ(differences, 0);
    AacCoreClose(a);
    AacCoreClose(b);
    AacCoreClose(solo);
}

}  // namespace
}  // namespace aurivane
