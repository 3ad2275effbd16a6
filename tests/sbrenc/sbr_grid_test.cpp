// The frame generator over random transient sequences: every grid is
// expressible in sbr_grid, each frame starts where the previous one ended,
// and a transient always lands on an envelope border (a grid rebuilt because
// the fill rules went outside the syntax would lose it).
#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "sbrenc/sbr_frame_generator.h"

namespace aurivane {
namespace {

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
                SbrFrameInfo derived;
                ASSERT_TRUE(SbrDeriveFrameInfo(fields, &derived)) << "frame " << n << " class " << fields.frameClass;
                const int numEnv = derived.numEnvelopes;
                ASSERT_EQ(numEnv, info.numEnvelopes);
                const int32_t* tE = derived.borders;
                for (int l = 0; l < numEnv; ++l) EXPECT_LT(tE[l], tE[l + 1]);
                EXPECT_EQ(tE[0], prevEnd - kSbrTimeSlots) << "frame " << n;
                if (tr.flag) {
                    // The transient envelope starts at t + 4 (t + 6 when the
                    // kept borders leave no room before it).
                    const int tt = tr.position + 4;
                    bool onBorder = false;
                    for (int l = 0; l <= numEnv; ++l) onBorder |= tE[l] >= tt && tE[l] <= tt + 2;
                    EXPECT_TRUE(onBorder) << "frame " << n << " transient at " << tr.position;
                }
                prevEnd = tE[numEnv];
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
