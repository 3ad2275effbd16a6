#include <gtest/gtest.h>

#include <random>

#include "g729/g729_frame.h"

namespace aurivane {
namespace {

G729Parameters FromArray(const uint16_t v[11]) {
    G729Parameters p;
    uint16_t* f[11] = {&p.lsp1,   &p.lsp2,       &p.pitch1, &p.parity, &p.positions1, &p.signs1,
                       &p.gains1, &p.pitch2,     &p.positions2, &p.signs2, &p.gains2};
    for (int i = 0; i < 11; ++i) *f[i] = v[i];
    return p;
}

void ExpectSame(const G729Parameters& a, const G729Parameters& b) {
    EXPECT_EQ(a.lsp1, b.lsp1);
    EXPECT_EQ(a.lsp2, b.lsp2);
    EXPECT_EQ(a.pitch1, b.pitch1);
    EXPECT_EQ(a.parity, b.parity);
    EXPECT_EQ(a.positions1, b.positions1);
    EXPECT_EQ(a.signs1, b.signs1);
    EXPECT_EQ(a.gains1, b.gains1);
    EXPECT_EQ(a.pitch2, b.pitch2);
    EXPECT_EQ(a.positions2, b.positions2);
    EXPECT_EQ(a.signs2, b.signs2);
    EXPECT_EQ(a.gains2, b.gains2);
}

TEST(G729Frame, PacksTheReferenceVectorAndBack) {
    const uint16_t v[11] = {1, 2, 3, 0, 5, 6, 7, 8, 9, 10, 11};
    uint8_t bytes[10];
    PackG729Frame(FromArray(v), bytes);
    const uint8_t expected[10] = {0x01, 0x00, 0x80, 0xC0, 0x05, 0x60, 0xE8, 0x00, 0x4D, 0x0B};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(bytes[i], expected[i]) << "byte " << i;
    ExpectSame(UnpackG729Frame(bytes), FromArray(v));
}

TEST(G729Frame, EveryBitPatternRoundTrips) {
    std::mt19937 rng(7);
    for (int n = 0; n < 2000; ++n) {
        uint8_t in[10], out[10];
        for (auto& b : in) b = static_cast<uint8_t>(rng());
        PackG729Frame(UnpackG729Frame(in), out);
        for (int i = 0; i < 10; ++i) ASSERT_EQ(in[i], out[i]);
    }
    // A single set bit lands in exactly one field, at the expected weight.
    int bit = 0;
    for (int field = 0; field < 11; ++field)
        for (int k = kG729ParameterBits[field] - 1; k >= 0; --k, ++bit) {
            uint8_t f[10] = {};
            f[bit >> 3] = static_cast<uint8_t>(0x80 >> (bit & 7));
            G729Parameters p = UnpackG729Frame(f);
            const uint16_t* vals = &p.lsp1;
            for (int j = 0; j < 11; ++j) ASSERT_EQ(vals[j], j == field ? (1u << k) : 0u) << bit;
        }
    EXPECT_EQ(bit, 80);
}

TEST(G729Frame, OversizedValuesAreCutToTheirFields) {
    G729Parameters p;
    p.parity = 0xFFFF;  // only one bit may reach the stream
    p.signs2 = 0x1F;
    uint8_t f[10];
    PackG729Frame(p, f);
    const G729Parameters q = UnpackG729Frame(f);
    EXPECT_EQ(q.parity, 1);
    EXPECT_EQ(q.signs2, 0xF);
    EXPECT_EQ(q.pitch1 | q.positions1 | q.gains2 | q.pitch2, 0);
}

TEST(G729PitchDelay, Subframe1CodeEdges) {
    struct Case {
        int code, t, f;
    } cases[] = {{0, 19, 1}, {1, 20, -1}, {2, 20, 0}, {3, 20, 1}, {196, 85, -1},
                 {197, 85, 0}, {198, 86, 0}, {255, 143, 0}};
    for (const Case& c : cases) {
        const G729PitchDelay d = DecodeG729PitchDelay1(c.code);
        EXPECT_EQ(d.integer, c.t) << c.code;
        EXPECT_EQ(d.fraction, c.f) << c.code;
    }
    // Every delay the encoder can choose maps to a code and back.
    for (int t = 20; t <= 143; ++t)
        for (int f = -1; f <= 1; ++f) {
            if (t >= 85 && f != 0) continue;
            const int code = EncodeG729PitchDelay1({t, f});
            ASSERT_GE(code, 0);
            ASSERT_LE(code, 255);
            const G729PitchDelay d = DecodeG729PitchDelay1(code);
            EXPECT_EQ(d.integer, t);
            EXPECT_EQ(d.fraction, f);
        }
}

TEST(G729PitchDelay, Subframe2WindowAndCodes) {
    EXPECT_EQ(G729Subframe2Window(140).tmin, 134);
    EXPECT_EQ(G729Subframe2Window(140).tmax, 143);
    EXPECT_EQ(G729Subframe2Window(20).tmin, 20);
    EXPECT_EQ(G729Subframe2Window(20).tmax, 29);
    EXPECT_EQ(G729Subframe2Window(60).tmin, 55);
    EXPECT_EQ(G729Subframe2Window(60).tmax, 64);
    EXPECT_EQ(G729Subframe2Window(25).tmin, 20);
    for (int t1 = 19; t1 <= 143; ++t1) {
        const G729PitchWindow w = G729Subframe2Window(t1);
        for (int t = w.tmin; t <= w.tmax; ++t)
            for (int f = -1; f <= 1; ++f) {
                const int code = EncodeG729PitchDelay2({t, f}, t1);
                ASSERT_GE(code, 0);
                ASSERT_LT(code, 32);
                const G729PitchDelay d = DecodeG729PitchDelay2(code, t1);
                EXPECT_EQ(d.integer, t);
                EXPECT_EQ(d.fraction, f);
            }
        // All 32 codes decode inside the buffer's reach (at most 144 - 1/3).
        for (int code = 0; code < 32; ++code) {
            const G729PitchDelay d = DecodeG729PitchDelay2(code, t1);
            EXPECT_GE(d.integer * 3 + d.fraction, 3 * w.tmin - 2);
            EXPECT_LE(d.integer * 3 + d.fraction, 3 * 144 - 1);
        }
    }
}

TEST(G729PitchDelay, ParityCoversTheSixHighBits) {
    EXPECT_EQ(G729PitchParity(0), 1);
    EXPECT_EQ(G729PitchParity(3), 1);     // the two low bits do not count
    EXPECT_EQ(G729PitchParity(4), 0);
    EXPECT_EQ(G729PitchParity(0xFC), 1);  // six ones plus the start value
    EXPECT_EQ(G729PitchParity(0x84), 1);
    for (int v = 0; v < 256; ++v) EXPECT_EQ((G729PitchParity(v) + G729PitchParity(v ^ 0x20)) & 1, 1);
}

TEST(G729Pulses, PositionsRoundTripOnTheTracks) {
    for (int code = 0; code < (1 << 13); ++code) {
        int pos[4];
        DecodeG729PulsePositions(code, pos);
        for (int k = 0; k < 3; ++k) ASSERT_EQ(pos[k] % 5, k);
        ASSERT_TRUE(pos[3] % 5 == 3 || pos[3] % 5 == 4);
        for (int k = 0; k < 4; ++k) ASSERT_LT(pos[k], 40);
        ASSERT_EQ(EncodeG729PulsePositions(pos), code);
    }
}

}  // namespace
}  // namespace aurivane
