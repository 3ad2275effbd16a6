// The single-channel element the encoder writes, read back by the decoder's
// SBR parsers: grid, directions, invf, envelopes, noise floors, sinusoids
// and the PS extension must come back exactly as coded.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "aacdec/sbr_frame.h"
#include "dsp/sbr_grid.h"
#include "sbrenc/sbr_bitstream_writer.h"
#include "sbrenc/sbr_envelope_coder.h"
#include "sbrenc/sbr_patch_map.h"

namespace aurivane {
// Encoder band tables and header for a bs_start_freq / bs_stop_freq pair at fs.
bool MakeEncoderTables(int startFreq, int stopFreq, int fs, SbrHeaderValues* header, SbrEncoderBandTables* tables);
}  // namespace aurivane

namespace aurivane {
namespace {

struct RandomGrid {
    SbrGridFields fields{};
    SbrFrameInfo info{};
};

// Random grid fields until the shared derivation accepts them.
RandomGrid MakeGrid(std::mt19937& rng) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    RandomGrid g;
    SbrGridFields& f = g.fields;
    do {
        f = SbrGridFields{};
        f.frameClass = pick(0, 3);
        f.numEnvelopes = 1 << pick(0, 2);
        f.freqResFixed = pick(0, 1);
        f.varBorder0 = f.frameClass == 1 ? pick(16, 19) : pick(0, 3);
        f.varBorder1 = pick(16, 19);
        f.numRel0 = pick(0, 3);
        f.numRel1 = f.frameClass == 3 ? pick(0, 3) : 0;
        for (int i = 0; i < 4; ++i) f.rel0[i] = 2 * pick(1, 4), f.rel1[i] = 2 * pick(1, 4);
        f.pointer = pick(0, f.numRel0 + f.numRel1 + 1);
        for (int& r : f.freqRes) r = pick(0, 1);
    } while (!SbrDeriveFrameInfo(f, &g.info));
    return g;
}

// Delta decoding as ISO/IEC 14496-3 defines it (independent of the coder's
// high-resolution history axis).
struct DeltaDecoder {
    std::vector<int> prev = std::vector<int>(kSbrMaxHighBands, 0);
    int prevRes = 1;
    std::vector<int> prevNoise = std::vector<int>(kSbrMaxNoiseBands, 0);

    void Decode(const SbrFreqTables& t, const SbrFrameData& f, int env[5][kSbrMaxHighBands], int noise[2][5]) {
        for (int l = 0; l < f.grid.numEnv; ++l) {
            const int r = f.grid.freqRes[l];
            for (int k = 0; k < t.n[r]; ++k) {
                if (!f.dfEnv[l]) {
                    env[l][k] = k == 0 ? f.env[l][0] : env[l][k - 1] + f.env[l][k];
                    continue;
                }
                int ref = 0;
                if (r == prevRes) {
                    ref = prev[k];
                } else if (r == 0) {
                    for (int i = 0; i < t.n[1]; ++i)
                        if (t.fHigh[i] == t.fLow[k]) ref = prev[i];
                } else {
                    for (int i = 0; i < t.n[0]; ++i)
                        if (t.fLow[i] <= t.fHigh[k] && t.fHigh[k] < t.fLow[i + 1]) ref = prev[i];
                }
                env[l][k] = ref + f.env[l][k];
            }
            prev.assign(env[l], env[l] + kSbrMaxHighBands);
            prevRes = r;
        }
        for (int q = 0; q < f.grid.numNoise; ++q) {
            for (int k = 0; k < t.nQ; ++k)
                noise[q][k] = f.dfNoise[q] ? prevNoise[k] + f.noise[q][k] : (k ? noise[q][k - 1] : 0) + f.noise[q][k];
            prevNoise.assign(noise[q], noise[q] + t.nQ);
        }
    }
};

// Reads one element with the decoder's parsers; returns the PS extension
// bits (empty when none) and checks that the element ends where it should.
std::vector<int> Parse(const uint8_t* storage, int bits, const SbrHeaderValues& h, const SbrFreqTables& dec,
                       SbrFrameData* f) {
    SbrBitReader br;
    br.Init(storage, bits);
    if (br.Read(1)) {
        EXPECT_EQ(br.Read(1), static_cast<uint32_t>(h.ampResolution));
        EXPECT_EQ(br.Read(4 + 4 + 3 + 2), static_cast<uint32_t>((h.startFrequency << 9) | (h.stopFrequency << 5) |
                                                                (h.xoverBand << 2)));
        const uint32_t extra = br.Read(2);
        EXPECT_EQ(extra, static_cast<uint32_t>(h.headerExtra1 * 2 + h.headerExtra2));
        br.Skip((extra >> 1) * 5 + (extra & 1) * 6);
    }
    EXPECT_EQ(br.Read(1), 0u);  // bs_data_extra
    EXPECT_TRUE(SbrReadGrid(br, &f->grid));
    f->ampRes = (f->grid.frameClass == kFixFix && f->grid.numEnv == 1) ? 0 : h.ampResolution;
    SbrReadDtdf(br, f);
    SbrReadInvf(br, dec.nQ, f);
    EXPECT_TRUE(SbrReadEnvelope(br, dec, false, f));
    SbrReadNoise(br, dec, false, f);
    SbrReadSinusoidal(br, dec, f);
    std::vector<int> ps;
    if (br.Read(1)) {
        int cnt = static_cast<int>(br.Read(4));
        if (cnt == 15) cnt += static_cast<int>(br.Read(8));
        EXPECT_EQ(bits - br.position, cnt * 8);
        EXPECT_EQ(br.Read(2), 2u);  // EXTENSION_ID_PS
        while (br.position < bits) ps.push_back(static_cast<int>(br.Bit()));
    }
    EXPECT_EQ(br.position, bits);
    EXPECT_FALSE(br.overrun);
    return ps;
}

struct Coding {
    SbrHeaderValues header;
    SbrEncoderBandTables tables;
    SbrFreqTables dec;
    SbrEnvelopeCoder coder;
    explicit Coding(int ampRes) {
        EXPECT_TRUE(MakeEncoderTables(11, 9, 44100, &header, &tables));
        header.ampResolution = ampRes;
        header.headerExtra1 = ampRes;
        header.headerExtra2 = 1 - ampRes;
        const SbrHeader h = {ampRes, 11, 9, header.xoverBand, header.freqScale, header.alterScale, header.noiseBands, 2, 2, 1, 0};
        EXPECT_TRUE(SbrBuildFreqTables(h, 44100, &dec));
        SbrEncoderSettings settings{};
        settings.ampResolution = ampRes;
        settings.deltaTAcrossFrames = 1;
        settings.edgeFirstEnvelope = settings.edgeIncrement = 0.3f;
        coder.Init(tables, settings);
    }
};

TEST(SbrBitstream, DecoderParsesExactlyWhatWasCoded) {
    for (int ampRes = 0; ampRes < 2; ++ampRes) {
        Coding s(ampRes);
        const SbrEncoderBandTables& t = s.tables;
        DeltaDecoder deltas;
        std::mt19937 rng(7 + ampRes);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        int directions[2] = {0, 0};
        int classes[4] = {0, 0, 0, 0};
        int level[kSbrMaxHighBands];
        for (int& v : level) v = 20;
        for (int frame = 0; frame < 60; ++frame) {
            const RandomGrid g = MakeGrid(rng);
            ++classes[g.fields.frameClass];
            const bool withHeader = frame % 10 == 0;
            const int scale = ampRes && SbrEffectiveAmpResolution(g.fields.frameClass, g.fields.numEnvelopes, ampRes) == 0 ? 2 : 1;
            SbrFrameValues values{};
            for (int e = 0; e < g.info.numEnvelopes; ++e)
                for (int b = 0; b < t.nHigh; ++b)  // a slow walk, so time differences are chosen too
                    values.envelope[e][b] = level[b] = std::clamp(level[b] + pick(-2, 2), 0, 30);
            for (int b = 0; b < t.nNoise; ++b) {
                values.noise[0][b] = pick(0, 30);
                values.noise[1][b] = pick(0, 30);
                values.invfMode[b] = pick(0, 3);
            }
            values.addHarmonicFlag = frame % 3 == 0;
            for (int b = 0; b < t.nHigh; ++b) values.addHarmonic[b] = values.addHarmonicFlag && pick(0, 1);
            SbrCodedChannel coded;
            s.coder.Code(g.info, g.fields, withHeader, values, &coded);
            if (withHeader) {
                EXPECT_EQ(coded.dfEnv[0], 0);
            }
            // PS bits around the size escape: up to 110 bits the 4-bit size
            // (cnt 14), from 111 on cnt 15 and more through the escape.
            const int psSizes[] = {0, 1, 110, 111, 118, 300, pick(1, 500)};
            const int psBits = psSizes[frame % 7];
            std::vector<uint8_t> ps(64);
            for (auto& b : ps) b = static_cast<uint8_t>(rng());
            uint8_t storage[kSbrMaxPayloadBytes] = {};
            BitBuffer bb;
            BitBufferCreate(&bb, storage, sizeof(storage));
            const int bits = SbrWriteSingleChannelElement(&bb, withHeader ? &s.header : nullptr, t, g.fields, coded,
                                                          values, ps.data(), psBits);
            ASSERT_EQ(bits, BitBufferCount(&bb));
            SbrFrameData f{};
            const std::vector<int> read = Parse(storage, bits, s.header, s.dec, &f);
            ASSERT_EQ(read.size(), psBits ? static_cast<size_t>((psBits + 2 + 7) / 8 * 8 - 2) : 0u) << psBits;
            for (size_t i = 0; i < read.size(); ++i)
                ASSERT_EQ(read[i], static_cast<int>(i) < psBits ? (ps[i / 8] >> (7 - i % 8)) & 1 : 0) << psBits << " " << i;
            ASSERT_EQ(f.grid.numEnv, g.info.numEnvelopes) << "frame " << frame;
            EXPECT_EQ(f.grid.frameClass, g.fields.frameClass);
            EXPECT_EQ(f.grid.pointer, g.fields.frameClass ? g.fields.pointer : 0);
            int env[5][kSbrMaxHighBands];
            int noise[2][5];
            deltas.Decode(s.dec, f, env, noise);
            for (int e = 0; e < g.info.numEnvelopes; ++e) {
                EXPECT_EQ(f.grid.freqRes[e], g.info.freqRes[e]);
                ++directions[f.dfEnv[e]];
                for (int b = 0; b < (g.info.freqRes[e] ? t.nHigh : t.nLow); ++b)
                    ASSERT_EQ(env[e][b], values.envelope[e][b] * scale) << "frame " << frame << " env " << e << " band " << b;
            }
            for (int b = 0; b < t.nNoise; ++b) {
                for (int q = 0; q < g.info.numNoiseEnvelopes; ++q) ASSERT_EQ(noise[q][b], values.noise[q][b]);
                EXPECT_EQ(f.invfMode[b], values.invfMode[b]);
            }
            EXPECT_EQ(f.addHarmonicFlag, values.addHarmonicFlag);
            for (int b = 0; b < t.nHigh; ++b) EXPECT_EQ(f.addHarmonic[b], values.addHarmonic[b]);
        }
        EXPECT_GT(directions[0], 0);
        EXPECT_GT(directions[1], 0);
        for (int c : classes) EXPECT_GT(c, 0);
    }
}

TEST(SbrBitstream, NoiseQuantisationRoundsHalfUpWithinRange) {
    const float in[2][kSbrMaxNoiseBands] = {{30.7f, -0.7f, 12.49f, 12.5f, 31.0f}, {0.0f, 29.6f, 4.4f, 0.5f, 100.0f}};
    SbrFrameValues v{};
    SbrQuantiseNoise(in, 2, 5, &v);
    const int expected[2][kSbrMaxNoiseBands] = {{30, 0, 12, 13, 30}, {0, 30, 4, 1, 30}};
    for (int n = 0; n < 2; ++n)
        for (int q = 0; q < 5; ++q) EXPECT_EQ(v.noise[n][q], expected[n][q]);
}

}  // namespace
}  // namespace aurivane
