// The frame generator over random transient sequences: every grid is
// expressible in sbr_grid (checked by writing it and reading it back with the
// decoder's reader), each frame starts where the previous one ended, and a
// transient always lands on an envelope border.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "aacdec/sbr_frame.h"
#include "dsp/bit_buffer.h"
#include "sbrenc/sbr_frame_generator.h"

namespace aurivane {
namespace {

// sbr_grid bits of the fields, widths as in ISO/IEC 14496-3.
int WriteGrid(const SbrGridFields& g, uint8_t* storage, int bytes) {
    BitBuffer b;
    BitBufferCreate(&b, storage, static_cast<uint32_t>(bytes));
    int bits = BitBufferWrite(&b, static_cast<uint32_t>(g.frameClass), 2);
    const auto put = [&](int v, int w) { bits += BitBufferWrite(&b, static_cast<uint32_t>(v), w); };
    int numEnv = 1;
    switch (g.frameClass) {
        case kFixFix:
            put(g.numEnvelopes == 1 ? 0 : (g.numEnvelopes == 2 ? 1 : 2), 2);
            put(g.freqResFixed, 1);
            return bits;
        case kFixVar:
        case kVarFix:
            put(g.varBorder0 - (g.frameClass == kFixVar ? kSbrTimeSlots : 0), 2);
            put(g.numRel0, 2);
            for (int r = 0; r < g.numRel0; ++r) put((g.rel0[r] - 2) / 2, 2);
            numEnv = g.numRel0 + 1;
            break;
        default:
            put(g.varBorder0, 2);
            put(g.varBorder1 - kSbrTimeSlots, 2);
            put(g.numRel0, 2);
            put(g.numRel1, 2);
            for (int r = 0; r < g.numRel0; ++r) put((g.rel0[r] - 2) / 2, 2);
            for (int r = 0; r < g.numRel1; ++r) put((g.rel1[r] - 2) / 2, 2);
            numEnv = g.numRel0 + g.numRel1 + 1;
            break;
    }
    put(g.pointer, SbrGridPointerBits(numEnv));
    for (int l = 0; l < numEnv; ++l) put(g.freqRes[l], 1);
    return bits;
}

TEST(SbrFrameGenerator, RandomTransientSequencesGiveCodableJoinedGrids) {
    std::mt19937 rng(11);
    int classes[4] = {};
    for (int spread = 0; spread < 2; ++spread) {
        for (int percent : {10, 50, 90}) {
            SbrEncoderSettings s = {};
            s.frameSpread = spread;
            s.maxEnvelopesLog2 = 1;
            SbrFrameGenerator gen;
            gen.Init(s);
            int prevEnd = kSbrTimeSlots, prevClass = kFixFix;
            for (int n = 0; n < 4000; ++n) {
                SbrTransientInfo tr;
                tr.flag = static_cast<int>(rng() % 100) < percent;
                tr.position = static_cast<int>(tr.flag ? rng() % 16 : rng() % 2);
                SbrGridFields fields;
                SbrFrameInfo info;
                gen.Generate(tr, &fields, &info);
                ++classes[fields.frameClass];
                if (prevClass == kFixVar || prevClass == kVarVar) {
                    EXPECT_TRUE(fields.frameClass == kVarFix || fields.frameClass == kVarVar);
                }

                uint8_t bytes[8] = {};
                const int bits = WriteGrid(fields, bytes, sizeof(bytes));
                SbrBitReader br;
                br.Init(bytes, bits);
                SbrGrid g;
                ASSERT_TRUE(SbrReadGrid(br, &g)) << "frame " << n << " class " << fields.frameClass;
                ASSERT_EQ(br.position, bits);
                ASSERT_EQ(g.numEnv, info.numEnvelopes);
                for (int l = 0; l < g.numEnv; ++l) {
                    EXPECT_LT(g.tE[l], g.tE[l + 1]);
                    EXPECT_EQ(g.tE[l], info.borders[l]);
                    EXPECT_EQ(g.freqRes[l], info.freqRes[l]);
                }
                EXPECT_EQ(g.tE[0], prevEnd - kSbrTimeSlots) << "frame " << n;
                if (tr.flag) {
                    // The transient envelope starts at t + 4 (t + 6 when the
                    // kept borders leave no room before it).
                    const int tt = tr.position + 4;
                    bool onBorder = false;
                    for (int l = 0; l <= g.numEnv; ++l) onBorder |= g.tE[l] >= tt && g.tE[l] <= tt + 2;
                    EXPECT_TRUE(onBorder) << "frame " << n << " transient at " << tr.position;
                }
                prevEnd = g.tE[g.numEnv];
                prevClass = fields.frameClass;
            }
        }
    }
    for (int c = 0; c < 4; ++c) EXPECT_GT(classes[c], 100) << "class " << c;
}

TEST(SbrFrameGenerator, StaticFramingAndSplitFlagGiveTheFixedRecords) {
    SbrEncoderSettings s = {};
    s.frameSpread = 1;
    s.staticFraming = 1;
    s.maxEnvelopesLog2 = 2;
    SbrFrameGenerator gen;
    gen.Init(s);
    SbrGridFields f;
    SbrFrameInfo info;
    gen.Generate({5, 1}, &f, &info);  // a transient does not matter with static framing
    EXPECT_EQ(f.frameClass, kFixFix);
    EXPECT_EQ(info.numEnvelopes, 4);
    EXPECT_EQ(info.noiseBorders[1], 8);
    s.staticFraming = 0;
    gen.Init(s);
    gen.Generate({1, 0}, &f, &info);  // split flag
    EXPECT_EQ(info.numEnvelopes, 2);
    EXPECT_EQ(info.borders[1], 8);
    gen.Generate({0, 0}, &f, &info);
    EXPECT_EQ(info.numEnvelopes, 1);
    EXPECT_EQ(info.freqRes[0], 1);
}

}  // namespace
}  // namespace aurivane
