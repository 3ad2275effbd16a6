// sbr_grid of all four frame classes: borders, noise borders, transient
// envelope and the rejection of grids the decoder cannot use.
#include <gtest/gtest.h>

#include <vector>

#include "aacdec/sbr_frame.h"
#include "sbr/sbr_test_util.h"

namespace aurivane {
namespace {

using sbrtest::BitWriter;

bool Parse(const BitWriter& w, SbrGrid* g) {
    const std::vector<uint8_t> bytes = w.Bytes();
    SbrBitReader br;
    br.Init(bytes.data(), w.Bits());
    const bool ok = SbrReadGrid(br, g);
    if (ok) {
        EXPECT_EQ(br.position, w.Bits()) << "grid bits consumed";
    }
    return ok;
}

std::vector<int> Borders(const SbrGrid& g) { return std::vector<int>(g.tE, g.tE + g.numEnv + 1); }
std::vector<int> NoiseBorders(const SbrGrid& g) { return std::vector<int>(g.tQ, g.tQ + g.numNoise + 1); }

TEST(SbrGrid, FixFixSplitsTheFrameEvenly) {
    const std::vector<std::vector<int>> expected = {{0, 16}, {0, 8, 16}, {0, 4, 8, 12, 16}};
    for (int e = 0; e < 3; ++e) {
        BitWriter w;
        w.Put(0, 2);
        w.Put(static_cast<uint32_t>(e), 2);
        w.Put(1, 1);
        SbrGrid g;
        ASSERT_TRUE(Parse(w, &g));
        EXPECT_EQ(Borders(g), expected[e]);
        EXPECT_EQ(NoiseBorders(g), e == 0 ? std::vector<int>({0, 16}) : std::vector<int>({0, 8, 16}));
        for (int l = 0; l < g.numEnv; ++l) EXPECT_EQ(g.freqRes[l], 1);
        EXPECT_EQ(g.transientEnv, -1);
    }
}

TEST(SbrGrid, FixFixWithEightEnvelopesIsRejected) {
    BitWriter w;
    w.Put(0, 2);
    w.Put(3, 2);
    w.Put(0, 1);
    SbrGrid g;
    EXPECT_FALSE(Parse(w, &g));
}

TEST(SbrGrid, FixVarCountsBordersBackFromTheEnd) {
    BitWriter w;
    w.Put(1, 2);
    w.Put(2, 2);  // bs_var_bord_1: last border 18
    w.Put(2, 2);  // two relative borders
    w.Put(0, 2);  // 2 slots
    w.Put(1, 2);  // 4 slots
    w.Put(2, 2);  // bs_pointer (2 bits for 3 envelopes)
    w.Put(1, 1), w.Put(0, 1), w.Put(0, 1);  // freq res, last envelope first
    SbrGrid g;
    ASSERT_TRUE(Parse(w, &g));
    EXPECT_EQ(Borders(g), (std::vector<int>{0, 12, 16, 18}));
    // Pointer 2: noise border at envelope L_E + 1 - 2 = 2, transient there.
    EXPECT_EQ(NoiseBorders(g), (std::vector<int>{0, 16, 18}));
    EXPECT_EQ(g.transientEnv, 2);
    EXPECT_EQ(g.freqRes[2], 1);
    EXPECT_EQ(g.freqRes[0], 0);
}

TEST(SbrGrid, VarFixCountsBordersFromTheStart) {
    BitWriter w;
    w.Put(2, 2);
    w.Put(3, 2);  // bs_var_bord_0: first border 3
    w.Put(1, 2);  // one relative border
    w.Put(1, 2);  // 4 slots
    w.Put(2, 2);  // bs_pointer
    w.Put(0, 1), w.Put(1, 1);
    SbrGrid g;
    ASSERT_TRUE(Parse(w, &g));
    EXPECT_EQ(Borders(g), (std::vector<int>{3, 7, 16}));
    EXPECT_EQ(NoiseBorders(g), (std::vector<int>{3, 7, 16}));
    EXPECT_EQ(g.transientEnv, 1);
}

TEST(SbrGrid, VarVarCombinesBoth) {
    BitWriter w;
    w.Put(3, 2);
    w.Put(1, 2);  // first border 1
    w.Put(1, 2);  // last border 17
    w.Put(1, 2);  // one leading relative border
    w.Put(1, 2);  // one trailing relative border
    w.Put(2, 2);  // leading: 6 slots
    w.Put(0, 2);  // trailing: 2 slots
    w.Put(0, 2);  // bs_pointer 0
    w.Put(0, 1), w.Put(0, 1), w.Put(1, 1);
    SbrGrid g;
    ASSERT_TRUE(Parse(w, &g));
    EXPECT_EQ(Borders(g), (std::vector<int>{1, 7, 15, 17}));
    EXPECT_EQ(NoiseBorders(g), (std::vector<int>{1, 15, 17}));
    EXPECT_EQ(g.transientEnv, -1);
}

TEST(SbrGrid, InvalidGridsAreRejected) {
    SbrGrid g;
    {
        // Pointer 3 for two envelopes.
        BitWriter w;
        w.Put(2, 2), w.Put(0, 2), w.Put(1, 2), w.Put(0, 2), w.Put(3, 2), w.Put(0, 2);
        EXPECT_FALSE(Parse(w, &g));
    }
    {
        // VARVAR with 7 envelopes.
        BitWriter w;
        w.Put(3, 2), w.Put(0, 2), w.Put(0, 2), w.Put(3, 2), w.Put(3, 2);
        for (int i = 0; i < 6; ++i) w.Put(0, 2);
        w.Put(0, 3);
        for (int i = 0; i < 7; ++i) w.Put(0, 1);
        EXPECT_FALSE(Parse(w, &g));
    }
    {
        // Relative borders running backwards past the start: 16 - 8 - 8 - 8.
        BitWriter w;
        w.Put(1, 2), w.Put(0, 2), w.Put(3, 2), w.Put(3, 2), w.Put(3, 2), w.Put(3, 2), w.Put(0, 3);
        for (int i = 0; i < 4; ++i) w.Put(0, 1);
        EXPECT_FALSE(Parse(w, &g));
    }
    // Direct checks of the consistency rules.
    SbrGrid ok = {};
    ok.numEnv = 2, ok.numNoise = 2;
    ok.tE[0] = 0, ok.tE[1] = 8, ok.tE[2] = 16;
    ok.tQ[0] = 0, ok.tQ[1] = 8, ok.tQ[2] = 16;
    EXPECT_TRUE(SbrGridValid(ok));
    SbrGrid bad = ok;
    bad.tQ[1] = 9;  // not an envelope border
    EXPECT_FALSE(SbrGridValid(bad));
    bad = ok;
    bad.tE[2] = 20;  // beyond 19
    bad.tQ[2] = 20;
    EXPECT_FALSE(SbrGridValid(bad));
    bad = ok;
    bad.numNoise = 1;  // one noise floor needs a single envelope
    bad.tQ[1] = 16;
    EXPECT_FALSE(SbrGridValid(bad));
}

}  // namespace
}  // namespace aurivane
