// The SBR/PS payload generator: its own arithmetic (CRC, band tables, fill
// element framing) and, with ffmpeg as an independent judge, the validity
// and coverage of what it writes.
#include "sbrinterop/sbr_harness.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>
#include <string>

namespace aurivane::test {
namespace {

uint32_t ReadBits(const std::vector<uint8_t>& b, std::size_t* pos, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++*pos) v = (v << 1) | ((b[*pos >> 3] >> (7 - (*pos & 7))) & 1u);
    return v;
}

TEST(SbrPayloadGen, Crc10MatchesTheGeneratorPolynomial) {
    // A single 1 bit leaves x^10 mod g(x) = x^9 + x^5 + x^4 + x + 1.
    EXPECT_EQ(SbrCrc10({0x80}, 0, 1), 0x233u);
    // Appending a message's CRC to it leaves a zero remainder.
    std::mt19937 rng(5);
    for (int trial = 0; trial < 20; ++trial) {
        SbrBitWriter w;
        const int bits = 1 + static_cast<int>(rng() % 300);
        for (int i = 0; i < bits; ++i) w.Put(rng() & 1u, 1);
        const uint32_t crc = SbrCrc10(w.Bytes(), 0, w.BitCount());
        w.Put(crc, 10);
        EXPECT_EQ(SbrCrc10(w.Bytes(), 0, w.BitCount()), 0u) << "message of " << bits << " bits";
    }
}

TEST(SbrPayloadGen, DefaultHeaderBandTablesAt44100) {
    // bs_start_freq 5, bs_stop_freq 0, bs_freq_scale 2, bs_alter_scale 1,
    // bs_noise_bands 2 at 44100 Hz: k0 = 12 + 2, k2 = stopMin = 23, one
    // region of 8 bands (worked by hand from 4.6.18.3.2).
    const SbrBandTables t = BuildSbrBandTables(SbrHeaderFields{}, 44100);
    ASSERT_TRUE(t.valid) << t.error;
    EXPECT_EQ(t.master, (std::vector<int>{14, 15, 16, 17, 18, 19, 20, 21, 23}));
    EXPECT_EQ(t.low, (std::vector<int>{14, 16, 18, 20, 23}));
    EXPECT_EQ(t.noise, (std::vector<int>{14, 23}));
    EXPECT_EQ(t.kx, 14);
    EXPECT_EQ(t.m, 9);
    EXPECT_EQ(t.numPatches, 1);
}

TEST(SbrPayloadGen, RejectsHeadersOutsideTheStandardLimits) {
    SbrHeaderFields wide;
    wide.startFreq = 0;  // k0 = 8
    wide.stopFreq = 13;  // k2 = 64: 56 bands, more than 35 at 44100 Hz
    EXPECT_FALSE(BuildSbrBandTables(wide, 44100).valid);
    SbrHeaderFields crossover;
    crossover.xoverBand = 7;  // N_master is 8: one band left
    const SbrBandTables one = BuildSbrBandTables(crossover, 44100);
    ASSERT_TRUE(one.valid) << one.error;
    EXPECT_EQ(one.high, (std::vector<int>{21, 23}));
    crossover.freqScale = 3;  // 8 bands per octave: N_master 6, below the crossover
    EXPECT_FALSE(BuildSbrBandTables(crossover, 44100).valid);
}

TEST(SbrPayloadGen, FillElementCountAndEscape) {
    // A block of three element bits followed by END (111) and zero padding.
    const std::vector<uint8_t> block = {0xBC};
    ASSERT_EQ(BlockBitsBeforeEnd(block), 3);
    EXPECT_EQ(BlockBitsBeforeEnd({0xB0}), -1);  // no END at the end
    for (int size : {1, 14, 15, 16, 200, 264}) {
        std::vector<uint8_t> payload(static_cast<std::size_t>(size));
        for (int i = 0; i < size; ++i) payload[static_cast<std::size_t>(i)] = static_cast<uint8_t>(0xD0 + i * 7);
        const std::vector<uint8_t> out = InsertFillElement(block, payload);
        std::size_t pos = 0;
        EXPECT_EQ(ReadBits(out, &pos, 3), 5u);
        EXPECT_EQ(ReadBits(out, &pos, 3), 6u) << "ID_FIL";
        uint32_t count = ReadBits(out, &pos, 4);
        if (count == 15) count += ReadBits(out, &pos, 8) - 1;
        ASSERT_EQ(count, static_cast<uint32_t>(size));
        for (int i = 0; i < size; ++i) ASSERT_EQ(ReadBits(out, &pos, 8), payload[static_cast<std::size_t>(i)]);
        EXPECT_EQ(ReadBits(out, &pos, 3), 7u) << "ID_END";
        EXPECT_EQ(out.size(), (pos + 7) / 8);
    }
}

// Every generated stream decodes in ffmpeg without a complaint, and the
// streams together cover what the generator is for.
TEST(SbrPayloadGen, StreamsAreValidForAnIndependentDecoderAndCoverTheSyntax) {
    if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    SbrGenStats all;
    int pairFrames = 0;
    for (const StreamCase& item : GeneratedStreams()) {
        AdtsStream s;
        SbrGenStats st;
        std::string error;
        ASSERT_TRUE(BuildStream(item, &s, &st, &error)) << error;
        const std::string path = WorkDir() + "/valid_" + item.name + ".aac";
        ASSERT_TRUE(WriteFileBytes(path, WrapAdts(s)));
        ASSERT_NO_THROW(WrapPacketStream(s)) << "every block fits a packet record";
        EXPECT_EQ(st.frames, static_cast<int>(s.blocks.size())) << item.name << ": a block went without SBR";
        const std::string log = path + ".log";
        const std::string cmd = "ffmpeg -nostdin -hide_banner -v warning -i '" + path + "' -f null - 2> '" + log + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << item.name << ": ffmpeg failed";
        std::vector<uint8_t> text;
        ASSERT_TRUE(ReadFileBytes(log, &text));
        std::string said;
        // The ADTS demuxer's note on how it estimates the duration is no complaint.
        std::istringstream lines(std::string(text.begin(), text.end()));
        for (std::string line; std::getline(lines, line);)
            if (line.find("Estimating duration") == std::string::npos) said += line + "\n";
        if (item.kind == StreamKind::kInvalidGrid) {
            // The deliberately invalid grids, and nothing else, are reported.
            EXPECT_GT(st.invalidFrames, 0);
            EXPECT_NE(said.find("too many SBR envelopes"), std::string::npos) << said;
            EXPECT_EQ(said.find("Invalid", said.find('\n') + 1), std::string::npos) << said;
            continue;
        }
        EXPECT_TRUE(said.empty()) << item.name << ": " << said;
        for (int c = 0; c < 4; ++c) all.frameClass[c] += st.frameClass[c];
        for (int m = 0; m < 4; ++m) all.invfModes[m] += st.invfModes[m];
        for (int r = 0; r < 2; ++r) all.ampRes[r] += st.ampRes[r];
        for (int b = 0; b < 3; ++b) all.psBands[b] += st.psBands[b];
        all.maxEnvelopes = std::max(all.maxEnvelopes, st.maxEnvelopes);
        all.freqDelta += st.freqDelta;
        all.timeDelta += st.timeDelta;
        all.coupled += st.coupled;
        all.independent += st.independent;
        all.sinusoidFrames += st.sinusoidFrames;
        all.headers += st.headers;
        all.resets += st.resets;
        all.psFine += st.psFine;
        all.psCoarse += st.psCoarse;
        all.psVarBorders += st.psVarBorders;
        all.psMaxEnvelopes = std::max(all.psMaxEnvelopes, st.psMaxEnvelopes);
        all.psIpdOpd += st.psIpdOpd;
        all.psHeaders += st.psHeaders;
        if (item.stereo) pairFrames += st.frames;
    }
    for (int c = 0; c < 4; ++c) EXPECT_GT(all.frameClass[c], 0) << "frame class " << c;
    for (int m = 0; m < 4; ++m) EXPECT_GT(all.invfModes[m], 0) << "inverse filtering mode " << m;
    for (int r = 0; r < 2; ++r) EXPECT_GT(all.ampRes[r], 0) << "amplitude resolution " << r;
    for (int b = 0; b < 3; ++b) EXPECT_GT(all.psBands[b], 0) << "PS band configuration " << b;
    EXPECT_EQ(all.maxEnvelopes, 5);
    EXPECT_GT(all.freqDelta, 0);
    EXPECT_GT(all.timeDelta, 0);
    EXPECT_GT(all.coupled, 0);
    EXPECT_GT(all.independent, 0);
    EXPECT_GT(all.sinusoidFrames, 0);
    EXPECT_GT(all.resets, 0) << "header changes mid-stream";
    EXPECT_GT(all.psFine, 0);
    EXPECT_GT(all.psCoarse, 0);
    EXPECT_GT(all.psVarBorders, 0);
    EXPECT_EQ(all.psMaxEnvelopes, 4);
    EXPECT_GT(all.psIpdOpd, 0);
    EXPECT_GT(all.psHeaders, 1);
    EXPECT_GT(pairFrames, 0);
    std::printf("generator coverage: frame classes %d/%d/%d/%d, envelopes up to %d, amp res %d/%d, "
                "df %d dt %d, coupled %d independent %d, sinusoid frames %d, headers %d (resets %d), "
                "PS bands 10/20/34 %d/%d/%d, fine %d coarse %d, PS borders %d, IPD/OPD %d\n",
                all.frameClass[0], all.frameClass[1], all.frameClass[2], all.frameClass[3], all.maxEnvelopes,
                all.ampRes[0], all.ampRes[1], all.freqDelta, all.timeDelta, all.coupled, all.independent,
                all.sinusoidFrames, all.headers, all.resets, all.psBands[0], all.psBands[1], all.psBands[2],
                all.psFine, all.psCoarse, all.psVarBorders, all.psIpdOpd);
}

}  // namespace
}  // namespace aurivane::test
