// SbrDecoder behaviour on hand-built payloads: header states, invalid
// frames, parametric stereo and the down-mix flag, two payloads per frame,
// the envelope levels, independence of instances, and the AacDecoder's
// handling of SBR failures.
#include <gtest/gtest.h>

#include <aurivane/aurivane.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "aacdec/qmf_bank.h"
#include "aacdec/sbr_decoder.h"
#include "aacdec/sbr_decoder_state.h"
#include "sbr/sbr_test_util.h"
#include "support/sbr_payload_gen.h"

namespace aurivane {
namespace {

using sbrtest::BitWriter;
using sbrtest::MakeEntry;
using sbrtest::OneEntry;

constexpr double kPi = 3.14159265358979323846;
// Default header tables at 44100 Hz: 4 low-resolution bands, 1 noise band.
constexpr int kLowBands = 4;
constexpr int kNoiseBands = 1;

struct DecoderPtr {
    std::unique_ptr<SbrDecoder, void (*)(SbrDecoder*)> p{SbrDecoderCreate(), SbrDecoderDestroy};
    SbrDecoder* Open() { return SbrDecoderOpen(p.get(), 22050, 1024, 0, 0); }
};

// Core frames: a tone, or deterministic white noise.
void FillTone(float* time, int frame, double hz, double amplitude) {
    for (int i = 0; i < 1024; ++i)
        time[i] = static_cast<float>(amplitude * std::sin(2 * kPi * hz / 22050 * (1024.0 * frame + i)));
}

void FillNoise(float* time, uint32_t* seed, float amplitude) {
    for (int i = 0; i < 1024; ++i) {
        *seed = *seed * 1664525u + 1013904223u;
        time[i] = amplitude * (static_cast<float>(*seed >> 8) / 8388608.0f - 1.0f);
    }
}

SbrPayloadEntry HeaderFrame(int level, int noise, const std::vector<int>& ps = {}) {
    BitWriter w;
    sbrtest::WriteHeader(w, {});
    sbrtest::WriteMonoFrame(w, kLowBands, kNoiseBands, level, noise, ps);
    return MakeEntry(w, 0, 13);
}

// Energy of one channel of the 44100 Hz output in the subbands [lo, hi) of
// a 32-band analysis (689 Hz each), skipping the first frames.
double BandEnergy(const std::vector<float>& out, int lo, int hi) {
    QmfAnalysis32 a;
    a.Reset();
    double e = 0;
    for (size_t l = 0; l + 1 < out.size() / 32; ++l) {
        float re[32], im[32];
        a.Process(&out[32 * l], re, im);
        if (l < 256) continue;
        for (int k = lo; k < hi; ++k) e += re[k] * re[k] + im[k] * im[k];
    }
    return e;
}

TEST(SbrDecoder, StartsOnTheDefaultHeaderWithAnEmptyHighBand) {
    DecoderPtr dec;
    SbrDecoder* d = dec.Open();
    ASSERT_NE(d, nullptr);
    BitWriter w;
    w.Put(0, 1);  // no header
    w.Put(0, 15);
    const SbrPayloadList list = OneEntry(MakeEntry(w, 0, 13));
    std::vector<float> out;
    float time[4096];
    for (int f = 0; f < 12; ++f) {
        FillTone(time, f, 1000.0, 10000.0);
        int channels = 1;
        ASSERT_EQ(SbrDecoderApply(d, &list, time, &channels, 1, 0, 0), kSbrStatusOk);
        EXPECT_EQ(channels, 1);
        out.insert(out.end(), time, time + 2048);
    }
    EXPECT_EQ(d->headerState, kSbrDefaultHeaderState);
    // Plain 2:1 upsampling: the tone at half the frequency per output
    // sample, delayed by the QMF banks (578) and the SBR frame offset (384).
    double sig = 0, err = 0;
    for (size_t n = 4096; n < out.size(); ++n) {
        const double ref = 10000.0 * std::sin(2 * kPi * 1000.0 / 44100 * (static_cast<double>(n) - 962));
        sig += ref * ref;
        err += (out[n] - ref) * (out[n] - ref);
    }
    EXPECT_GT(10 * std::log10(sig / err), 50.0);
}

TEST(SbrDecoder, Type14PayloadWithCountOneFailsWithoutAHeader) {
    DecoderPtr dec;
    SbrDecoder* d = dec.Open();
    SbrPayloadEntry e;
    std::memset(&e, 0, sizeof(e));
    e.elementType = 0;
    e.extensionType = 14;
    e.byteCount = 1;  // 8 bits cannot hold the 10 CRC bits
    const SbrPayloadList list = OneEntry(e);
    float time[4096] = {};
    int channels = 1;
    // The first call holds audio from before the payloads.
    EXPECT_EQ(SbrDecoderApply(d, &list, time, &channels, 1, 0, 0), kSbrStatusOk);
    channels = 1;
    EXPECT_EQ(SbrDecoderApply(d, &list, time, &channels, 1, 0, 0), kSbrStatusFailed);
    EXPECT_EQ(d->headerState, kSbrNoHeader);
}

TEST(SbrDecoder, CrcIsChecked) {
    // The same frame with a correct and a wrong bs_sbr_crc_bits.
    BitWriter data;
    sbrtest::WriteHeader(data, {});
    sbrtest::WriteMonoFrame(data, kLowBands, kNoiseBands, 40, 20);
    const std::vector<uint8_t> bytes = data.Bytes();
    // CRC over everything after the CRC field, fill bits included: the
    // stored payload is 4 + 10 + data bits rounded up to bytes.
    const int covered = (4 + 10 + data.Bits() + 7) / 8 * 8 - 14;
    uint32_t crc = 0;
    for (int i = 0; i < covered; ++i) {
        const uint32_t bit = i < data.Bits() ? (bytes[i >> 3] >> (7 - (i & 7))) & 1u : 0u;
        const uint32_t fb = ((crc >> 9) & 1u) ^ bit;
        crc = (crc << 1) & 0x3FF;
        if (fb) crc ^= 0x233;
    }
    for (uint32_t delta : {0u, 1u}) {
        BitWriter w;
        w.Put(crc ^ delta, 10);
        for (int i = 0; i < data.Bits(); ++i) w.Put((bytes[i >> 3] >> (7 - (i & 7))) & 1, 1);
        DecoderPtr dec;
        SbrDecoder* d = dec.Open();
        const SbrPayloadList list = OneEntry(MakeEntry(w, 0, 14));
        float time[4096] = {};
        int channels = 1;
        SbrDecoderApply(d, &list, time, &channels, 1, 0, 0);
        channels = 1;
        const int status = SbrDecoderApply(d, &list, time, &channels, 1, 0, 0);
        if (delta == 0) {
            EXPECT_EQ(status, kSbrStatusOk);
            EXPECT_EQ(d->headerState, kSbrReceivedHeader);
            EXPECT_FALSE(d->headerError);
        } else {
            EXPECT_EQ(status, kSbrStatusFailed);
        }
    }
}

TEST(SbrDecoder, FixFixWithEightEnvelopesSetsTheErrorFlagOnly) {
    DecoderPtr dec;
    SbrDecoder* d = dec.Open();
    BitWriter bad;
    sbrtest::WriteHeader(bad, {});
    bad.Put(0, 1);  // bs_data_extra
    bad.Put(0, 2);  // FIXFIX
    bad.Put(3, 2);  // 8 envelopes
    bad.Put(0, 8);
    const SbrPayloadList good = OneEntry(HeaderFrame(40, 20));
    const SbrPayloadList invalid = OneEntry(MakeEntry(bad, 0, 13));
    float time[4096] = {};
    int channels = 1;
    SbrDecoderApply(d, &good, time, &channels, 1, 0, 0);
    SbrDecoderApply(d, &invalid, time, &channels, 1, 0, 0);
    EXPECT_FALSE(d->headerError);
    // The invalid frame keeps the header and is still synthesised.
    EXPECT_EQ(SbrDecoderApply(d, &good, time, &channels, 1, 0, 0), kSbrStatusOk);
    EXPECT_TRUE(d->headerError);
    EXPECT_EQ(d->headerState, kSbrReceivedHeader);
    EXPECT_EQ(SbrDecoderApply(d, &good, time, &channels, 1, 0, 0), kSbrStatusOk);
    EXPECT_FALSE(d->headerError);
}

// A header reset that raises the crossover: the look-back slots of the
// bands between the old and the new kx held the previous frame's high band,
// so the HF generator and the synthesis see them as zero there, while the
// bands below the old crossover keep their analysis values.
TEST(SbrDecoder, LookBackAboveThePreviousCrossoverIsEmpty) {
    DecoderPtr dec;
    SbrDecoder* d = dec.Open();
    ASSERT_NE(d, nullptr);
    const SbrPayloadList first = OneEntry(HeaderFrame(40, 30));
    sbrtest::HeaderFields raised;
    raised.startFreq = 9;
    SbrHeader h = kSbrDefaultHeader;
    h.startFreq = raised.startFreq;
    SbrFreqTables t;
    ASSERT_TRUE(SbrBuildFreqTables(h, 44100, &t));
    ASSERT_GT(t.kx, 14);
    BitWriter w;
    sbrtest::WriteHeader(w, raised);
    sbrtest::WriteMonoFrame(w, t.n[0], t.nQ, 40, 30);
    const SbrPayloadList second = OneEntry(MakeEntry(w, 0, 13));
    uint32_t seed = 3;
    float time[4096];
    int raisedFrames = 0;
    for (int f = 0; f < 8; ++f) {
        FillNoise(time, &seed, 3000.0f);
        int channels = 1;
        const int kxBefore = d->ch[0].kxPrev;
        ASSERT_EQ(SbrDecoderApply(d, f < 4 ? &first : &second, time, &channels, 1, 0, 0), kSbrStatusOk);
        if (d->ch[0].kxPrev <= kxBefore || kxBefore >= 32) continue;
        ++raisedFrames;
        EXPECT_EQ(kxBefore, 14);
        EXPECT_EQ(d->ch[0].kxPrev, t.kx);
        double below = 0.0, above = 0.0;
        for (int r = 0; r < 8; ++r)
            for (int k = 0; k < 32; ++k) {
                const double e = static_cast<double>(d->ch[0].low.re[r][k]) * d->ch[0].low.re[r][k] +
                                 static_cast<double>(d->ch[0].low.im[r][k]) * d->ch[0].low.im[r][k];
                (k < kxBefore ? below : above) += e;
            }
        EXPECT_GT(below, 0.0);
        EXPECT_EQ(above, 0.0);
    }
    EXPECT_EQ(raisedFrames, 1);
}

TEST(SbrDecoder, EnvelopeLevelSetsTheHighBandEnergy) {
    // Two runs on the same noise core whose envelopes differ by 6 steps of
    // 1.5 dB: the regenerated band differs by 9 dB, the core band not at all.
    double high[2], low[2];
    for (int run = 0; run < 2; ++run) {
        DecoderPtr dec;
        SbrDecoder* d = dec.Open();
        const SbrPayloadList list = OneEntry(HeaderFrame(run ? 46 : 40, 30));
        std::vector<float> out;
        uint32_t seed = 7;
        float time[4096];
        for (int f = 0; f < 20; ++f) {
            FillNoise(time, &seed, 3000.0f);
            int channels = 1;
            ASSERT_EQ(SbrDecoderApply(d, &list, time, &channels, 1, 0, 0), kSbrStatusOk);
            out.insert(out.end(), time, time + 2048);
        }
        // kx = 14, M = 9: QMF64 bands 14..22 are 32-band bands 7..11.
        high[run] = BandEnergy(out, 8, 11);
        low[run] = BandEnergy(out, 1, 6);
    }
    EXPECT_NEAR(10 * std::log10(high[1] / high[0]), 9.0, 0.3);
    EXPECT_NEAR(10 * std::log10(low[1] / low[0]), 0.0, 0.01);
}

TEST(SbrDecoder, ParametricStereoRaisesTheChannelCountUnlessDownmixed) {
    // IID index 5 (14 dB, left louder) with full coherence: both channels
    // carry the tone, 14 dB apart.
    const SbrPayloadList list = OneEntry(HeaderFrame(40, 20, sbrtest::PsBlock(1, 5, 0)));
    for (int downmix = 0; downmix < 2; ++downmix) {
        DecoderPtr dec;
        SbrDecoder* d = dec.Open();
        double e[2] = {0, 0};
        int channels = 1;
        for (int f = 0; f < 10; ++f) {
            float time[4096];
            FillTone(time, f, 700.0, 8000.0);
            channels = 1;
            ASSERT_EQ(SbrDecoderApply(d, &list, time, &channels, 1, 0, downmix), kSbrStatusOk);
            if (f < 4) continue;
            for (int c = 0; c < channels; ++c)
                for (int i = 0; i < 2048; ++i) e[c] += static_cast<double>(time[2048 * c + i]) * time[2048 * c + i];
        }
        if (downmix) {
            EXPECT_EQ(channels, 1);
            EXPECT_NE(d->channelMode, kSbrMonoPs);
        } else {
            ASSERT_EQ(channels, 2);
            EXPECT_EQ(d->channelMode, kSbrMonoPs);
            EXPECT_GT(e[1], 0.0);
            EXPECT_NEAR(10 * std::log10(e[0] / e[1]), 14.0, 0.3);
            EXPECT_EQ(d->ps.IidBands(), 20);
            EXPECT_EQ(d->ps.Iid(0, 0), 5);
        }
    }
}

TEST(SbrDecoder, TwoPayloadsAreOneMonoChannelEach) {
    SbrPayloadList list;
    std::memset(&list, 0, sizeof(list));
    list.count = 2;
    list.entries[0] = HeaderFrame(40, 30);
    list.entries[1] = HeaderFrame(46, 30);
    DecoderPtr dec;
    SbrDecoder* d = dec.Open();
    std::vector<float> out[2];
    uint32_t seed = 11;
    for (int f = 0; f < 20; ++f) {
        float time[4096];
        FillNoise(time, &seed, 3000.0f);
        std::memcpy(time + 1024, time, 1024 * sizeof(float));
        int channels = 2;
        ASSERT_EQ(SbrDecoderApply(d, &list, time, &channels, 1, 0, 0), kSbrStatusOk);
        ASSERT_EQ(channels, 2);
        for (int c = 0; c < 2; ++c) out[c].insert(out[c].end(), time + 2048 * c, time + 2048 * c + 2048);
    }
    EXPECT_EQ(d->channelMode, kSbrStereo);
    EXPECT_FALSE(d->headerError);
    // Same core, envelopes 9 dB apart: each payload drove its own channel.
    EXPECT_NEAR(10 * std::log10(BandEnergy(out[1], 8, 11) / BandEnergy(out[0], 8, 11)), 9.0, 1.0);
    EXPECT_NEAR(10 * std::log10(BandEnergy(out[1], 1, 6) / BandEnergy(out[0], 1, 6)), 0.0, 0.05);
}

TEST(SbrDecoder, InstancesDoNotShareState) {
    const SbrPayloadList list = OneEntry(HeaderFrame(44, 10, sbrtest::PsBlock(0, -3, 2)));
    DecoderPtr a, b;
    SbrDecoder* da = a.Open();
    SbrDecoder* db = b.Open();
    uint32_t seedA = 5, seedB = 5;
    for (int f = 0; f < 8; ++f) {
        float ta[4096], tb[4096];
        FillNoise(ta, &seedA, 2000.0f);
        FillNoise(tb, &seedB, 2000.0f);
        int ca = 1, cb = 1;
        ASSERT_EQ(SbrDecoderApply(da, &list, ta, &ca, 1, 0, 0), kSbrStatusOk);
        // A third decoder running in between must not disturb either.
        DecoderPtr other;
        SbrDecoder* dother = other.Open();
        float noise[4096];
        uint32_t s = 99;
        FillNoise(noise, &s, 30000.0f);
        int co = 1;
        SbrDecoderApply(dother, &list, noise, &co, 1, 0, 0);
        ASSERT_EQ(SbrDecoderApply(db, &list, tb, &cb, 1, 0, 0), kSbrStatusOk);
        ASSERT_EQ(ca, cb);
        ASSERT_EQ(0, std::memcmp(ta, tb, sizeof(float) * 2048 * ca)) << "frame " << f;
    }
}

// The AacDecoder object on real AAC-LC blocks: a failing SBR frame goes out
// at the core rate and the next SBR frame opens a fresh decoder.
struct ByteCounter : AudioSink {
    std::vector<uint32_t> counts;
    int32_t Process(const void*, uint32_t byteCount) override {
        counts.push_back(byteCount);
        return 1;
    }
};

TEST(SbrDecoderFilter, FailureDeliversACoreRateFrameAndReopens) {
    std::vector<uint8_t> file;
    const std::string core = std::string(AURIVANE_TEST_DATA_DIR) + "/sbr/core_mono_22k.aac";
    test::AdtsStream lc;
    std::string error;
    if (!test::ReadFileBytes(core, &file) || !test::ReadAdtsBlocks(file, &lc, &error))
        GTEST_SKIP() << "no AAC-LC core stream at " << core;
    test::DropLargeBlocks(&lc, 180);
    ASSERT_GE(lc.blocks.size(), 6u);
    SbrPayloadEntry bad;
    std::memset(&bad, 0, sizeof(bad));
    bad.extensionType = 14;
    bad.byteCount = 1;
    const SbrPayloadEntry good = HeaderFrame(40, 20);
    auto fill = [](const SbrPayloadEntry& e) {
        std::vector<uint8_t> p(e.bytes, e.bytes + e.byteCount);
        p[0] = static_cast<uint8_t>((e.extensionType << 4) | (p[0] & 0x0F));
        return p;
    };
    test::AdtsStream s = lc;
    s.blocks.resize(6);
    for (int i = 0; i < 6; ++i) s.blocks[i] = test::InsertFillElement(s.blocks[i], fill(i < 2 ? bad : good));
    const std::vector<uint8_t> packets = test::WrapPacketStream(s);

    auto* dec = static_cast<AacDecoderInterface*>(CreateObject(&kAacDecoderId));
    ASSERT_NE(dec, nullptr);
    ByteCounter sink;
    dec->AddSink(&sink);
    ASSERT_EQ(dec->Open(0), 1);
    size_t pos = 0;
    while (pos < packets.size()) {
        const size_t len = 1u + packets[pos];
        EXPECT_EQ(dec->Process(packets.data() + pos, static_cast<uint32_t>(len)), 1);
        pos += len;
    }
    DestroyObject(&kAacDecoderId, dec);
    // Record 0 opens SBR (audio from before it: upsampled); record 1 carries
    // the audio of record 0, whose payload fails: core rate, decoder
    // dropped; record 2 opens a fresh one.
    EXPECT_EQ(sink.counts, (std::vector<uint32_t>{8192, 4096, 8192, 8192, 8192, 8192}));
}

}  // namespace
}  // namespace aurivane
