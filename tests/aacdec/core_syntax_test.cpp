// Raw data block parsing: element cases, status codes, bounds on hostile
// input, fill payloads and the inverse quantiser's scaling.
#include "aac_block_writer.h"
#include "support/aac_block_gen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>
#include <vector>

namespace aurivane::aactest {
namespace {

const float* Stored(CoreHarness& h, int c = 0) { return h.Core().concealment[c].storedSpectrum; }
bool LastFrameLost(CoreHarness& h, int c = 0) { return h.Core().concealment[c].lastValid == 0; }

TEST(AacInverseQuantisation, ScalingOfLongAndShortWindows) {
    CoreHarness h(22050);
    // Scalefactor 100 is unit step: 8^(4/3) * 2^-9 long, * 2^-6 short.
    ASSERT_EQ(h.Decode(SceWithLine(8)), 0);
    EXPECT_FLOAT_EQ(Stored(h)[0], 0.03125f);
    IcsSpec s;
    s.windowSequence = 2;
    s.maxSfb = 1;
    s.codebook = {9};
    s.scalefactor = {100};
    s.quant[0] = -8;
    s.quant[3 * 128 + 1] = 8;
    ASSERT_EQ(h.Decode(SceBlock(s)), 0);
    EXPECT_FLOAT_EQ(Stored(h)[0], -0.25f);
    EXPECT_FLOAT_EQ(Stored(h)[3 * 128 + 1], 0.25f);
    // Scalefactor 104 doubles, 97 gives 2^(-3/4).
    ASSERT_EQ(h.Decode(SceWithLine(1, 104)), 0);
    EXPECT_FLOAT_EQ(Stored(h)[0], 2.0f / 512.0f);
    ASSERT_EQ(h.Decode(SceWithLine(-1, 97)), 0);
    EXPECT_FLOAT_EQ(Stored(h)[0], static_cast<float>(-std::pow(2.0, -0.75 - 9.0)));
}

TEST(AacInverseQuantisation, EscapeValues) {
    CoreHarness h(22050);
    for (int q : {15, 16, 17, 31, 32, 1000, 4096, 8191, -8191, -16}) {
        ASSERT_EQ(h.Decode(SceWithLine(q)), 0) << q;
        const double expected = std::copysign(std::pow(std::abs(q), 4.0 / 3.0) / 512.0, q);
        EXPECT_NEAR(Stored(h)[0], expected, std::abs(expected) * 1e-6) << q;
        EXPECT_FALSE(LastFrameLost(h));
    }
    // 8192 needs a 13-bit escape word: invalid, the frame is lost.
    EXPECT_EQ(h.Decode(SceWithLine(8192)), 2);
    EXPECT_TRUE(LastFrameLost(h));
}

TEST(AacInverseQuantisation, EscapePrefixOfTwelveOnesFails) {
    IcsSpec s;
    s.maxSfb = 1;
    s.codebook = {11};
    s.scalefactor = {100};
    s.quant[0] = 16;
    // An escape of twelve 1 bits, a 0 and 16 bits: N = 16.
    BitWriter w;
    w.Put(0, 3);
    w.Put(0, 4);
    w.Put(100, 8);
    WriteIcsInfo(w, s);
    w.Put(11, 4);
    w.Put(1, 5);
    w.Put(testgen::ScalefactorCode(60).code, testgen::ScalefactorCode(60).length);
    w.Put(0, 3);  // pulse, TNS, gain control absent
    // Codeword (16, 0), sign +, escape prefix.
    const testgen::HuffCode code = testgen::SpectralCode(11, 16 * 17);
    w.Put(code.code, code.length);
    w.Put(0, 1);
    for (int i = 0; i < 12; ++i) w.Put(1, 1);
    w.Put(0, 1);
    w.Put(0xABCD, 16);
    WriteEnd(w);
    CoreHarness h(22050);
    EXPECT_EQ(h.Decode(w.bytes), 2);
    EXPECT_TRUE(LastFrameLost(h));
}

TEST(AacElementSyntax, StatusCodesOfRejectedElements) {
    struct Case {
        uint32_t id;
        int status;
    };
    for (Case c : {Case{2, 9}, Case{3, 8}, Case{5, 6}}) {
        CoreHarness h(22050);
        BitWriter w;
        w.Put(c.id, 3);
        w.Put(0, 13);
        EXPECT_EQ(h.Decode(w.bytes), c.status) << c.id;
        EXPECT_TRUE(LastFrameLost(h));
    }
    // Only an end element: no channel element, status = frame-valid flag.
    CoreHarness h(22050);
    BitWriter w;
    WriteEnd(w);
    EXPECT_EQ(h.Decode(w.bytes), 1);
    EXPECT_EQ(h.Channels(), 1);
    EXPECT_EQ(h.Decode({}), 1);  // empty record
}

TEST(AacElementSyntax, IcsFieldsThatFail) {
    CoreHarness h(22050);
    IcsSpec s;
    s.maxSfb = 48;  // 22050 Hz has 47 long bands
    s.codebook.assign(48, 0);
    EXPECT_EQ(h.Decode(SceBlock(s)), 2);
    EXPECT_TRUE(LastFrameLost(h));

    IcsSpec shortSpec;
    shortSpec.windowSequence = 2;
    shortSpec.maxSfb = 15;  // equal to the short band count: valid
    shortSpec.codebook.assign(15, 0);
    EXPECT_EQ(h.Decode(SceBlock(shortSpec)), 0);

    IcsSpec cb12;
    cb12.maxSfb = 1;
    cb12.codebook = {12};
    EXPECT_EQ(h.Decode(SceBlock(cb12)), 3);

    // Gain control and prediction.
    IcsSpec gain;
    gain.tools = [](BitWriter& w) { w.Put(1, 3); };
    EXPECT_EQ(h.Decode(SceBlock(gain)), 10);
    BitWriter w;
    w.Put(0, 3);
    w.Put(0, 4);
    w.Put(100, 8);
    w.Put(0, 4);
    w.Put(0, 6);
    w.Put(1, 1);  // predictor_data_present
    WriteEnd(w);
    EXPECT_EQ(h.Decode(w.bytes), 5);

    // A section past band 64.
    IcsSpec section;
    section.maxSfb = 40;
    section.codebook.assign(40, 0);
    section.sections = [](BitWriter& w) {
        w.Put(1, 4);
        w.Put(31, 5);
        w.Put(31, 5);
        w.Put(5, 5);  // 67 bands
    };
    EXPECT_EQ(h.Decode(SceBlock(section)), 2);
}

TEST(AacElementSyntax, PulseAndTnsBounds) {
    CoreHarness h(22050);
    auto withTools = [](std::function<void(BitWriter&)> tools) {
        IcsSpec s;
        s.maxSfb = 2;
        s.codebook = {1, 1};
        s.scalefactor = {100, 100};
        s.tools = std::move(tools);
        return SceBlock(s);
    };
    // pulse_data_present, then the pulses as (offset, amplitude); no TNS, no gain control.
    auto pulses = [&](int startBand, std::vector<std::pair<int, int>> list) {
        return withTools([=](BitWriter& w) {
            w.Put(1, 1);
            w.Put(static_cast<uint32_t>(list.size() - 1), 2);
            w.Put(static_cast<uint32_t>(startBand), 6);
            for (const auto& [offset, amp] : list) {
                w.Put(static_cast<uint32_t>(offset), 5);
                w.Put(static_cast<uint32_t>(amp), 4);
            }
            w.Put(0, 2);
        });
    };
    // Pulses at band 46 (line 928) moving 4 x 31 lines: past line 1023.
    EXPECT_EQ(h.Decode(pulses(46, {{31, 1}, {31, 1}, {31, 1}, {31, 1}})), 2);
    // A pulse start band beyond the band count.
    EXPECT_EQ(h.Decode(pulses(50, {{0, 0}})), 2);
    // A pulse inside the block is applied: +3 on a zero line gives -3.
    ASSERT_EQ(h.Decode(pulses(1, {{2, 3}})), 0);
    EXPECT_FLOAT_EQ(Stored(h)[6], static_cast<float>(-std::pow(3.0, 4.0 / 3.0) / 512.0));
    // TNS order 13 exceeds the AAC-LC maximum of 12.
    EXPECT_EQ(h.Decode(withTools([](BitWriter& w) {
                  w.Put(0, 1);
                  w.Put(1, 1);
                  w.Put(1, 2);
                  w.Put(0, 1);
                  w.Put(20, 6);
                  w.Put(13, 5);
                  w.Put(0, 2);
                  for (int i = 0; i < 13; ++i) w.Put(0, 3);
                  w.Put(0, 1);
              })),
              2);
}

TEST(AacElementSyntax, ChannelElementCombinations) {
    // Pair followed by single: status 0, frame lost, single not parsed.
    {
        CoreHarness h(22050);
        BitWriter w;
        w.Put(1, 3);
        w.Put(0, 4);
        w.Put(0, 1);  // no common window
        WriteIcs(w, IcsSpec{}, true);
        WriteIcs(w, IcsSpec{}, true);
        w.Put(0, 3);
        w.Put(0, 4);
        WriteIcs(w, IcsSpec{}, true);
        WriteEnd(w);
        EXPECT_EQ(h.Decode(w.bytes), 0);
        EXPECT_TRUE(LastFrameLost(h));
    }
    // Single followed by pair would be three channels: lost.
    {
        CoreHarness h(22050);
        BitWriter w;
        w.Put(0, 3);
        w.Put(0, 4);
        WriteIcs(w, IcsSpec{}, true);
        w.Put(1, 3);
        w.Put(0, 4);
        w.Put(0, 1);
        WriteIcs(w, IcsSpec{}, true);
        WriteIcs(w, IcsSpec{}, true);
        WriteEnd(w);
        EXPECT_EQ(h.Decode(w.bytes), 0);
        EXPECT_TRUE(LastFrameLost(h));
    }
    // Two singles: dual mono, the second lands in channel 1.
    {
        CoreHarness h(22050);
        BitWriter w;
        IcsSpec s;
        s.maxSfb = 1;
        s.codebook = {11};
        s.scalefactor = {100};
        s.quant[0] = 27;
        w.Put(0, 3);
        w.Put(0, 4);
        WriteIcs(w, s, true);
        s.quant[0] = -64;
        w.Put(0, 3);
        w.Put(1, 4);
        WriteIcs(w, s, true);
        WriteEnd(w);
        ASSERT_EQ(h.Decode(w.bytes), 0);
        EXPECT_EQ(h.Channels(), 2);
        EXPECT_FLOAT_EQ(Stored(h, 0)[0], 81.0f / 512.0f);
        EXPECT_FLOAT_EQ(Stored(h, 1)[0], -256.0f / 512.0f);
    }
}

// A fill element with `count` bytes and extension type `type`.
void PutFill(BitWriter& w, int count, uint32_t type, uint8_t fillByte) {
    w.Put(6, 3);
    if (count >= 15) {
        w.Put(15, 4);
        w.Put(static_cast<uint32_t>(count - 14), 8);
    } else {
        w.Put(static_cast<uint32_t>(count), 4);
    }
    if (count == 0) return;
    w.Put(type, 4);
    w.Put(0xA, 4);
    for (int i = 1; i < count; ++i) w.Put(fillByte, 8);
}

TEST(AacElementSyntax, FillPayloadsForSbr) {
    CoreHarness h(22050);
    BitWriter w;
    w.Put(0, 3);
    w.Put(0, 4);
    WriteIcs(w, IcsSpec{}, true);
    PutFill(w, 14, 13, 0x55);   // count 15 with escape 0: 14 bytes
    w.Put(0, 3);                // a second single channel element in between
    w.Put(0, 4);
    WriteIcs(w, IcsSpec{}, true);
    PutFill(w, 5, 14, 0x66);
    PutFill(w, 3, 13, 0x77);    // third payload: no room, skipped
    PutFill(w, 0, 0, 0);
    PutFill(w, 8, 1, 0x11);     // not SBR
    WriteEnd(w);
    ASSERT_EQ(h.Decode(w.bytes), 0);
    const SbrPayloadList& list = h.Sbr();
    ASSERT_EQ(list.count, 2);
    EXPECT_EQ(list.entries[0].elementType, 0);
    EXPECT_EQ(list.entries[0].extensionType, 13);
    EXPECT_EQ(list.entries[0].byteCount, 14);
    EXPECT_EQ(list.entries[0].bytes[0], 0xA);
    EXPECT_EQ(list.entries[0].bytes[13], 0x55);
    EXPECT_EQ(list.entries[1].extensionType, 14);
    EXPECT_EQ(list.entries[1].byteCount, 5);
    EXPECT_EQ(list.entries[1].bytes[4], 0x66);
    EXPECT_FALSE(LastFrameLost(h));
}

TEST(AacElementSyntax, OversizedFillPayloadIsSkipped) {
    CoreHarness h(22050);
    BitWriter w;
    w.Put(0, 3);
    w.Put(0, 4);
    WriteIcs(w, IcsSpec{}, true);
    PutFill(w, 269, 13, 0xEE);  // longer than an entry holds
    // A data stream element with alignment, then a valid payload.
    w.Put(4, 3);
    w.Put(0, 4);
    w.Put(1, 1);
    w.Put(2, 8);
    w.Align();
    w.Put(0xFFFF, 16);
    WriteEnd(w);
    // The block exceeds one record but fits the bit buffer.
    EXPECT_EQ(h.Decode(w.bytes), 0);
    EXPECT_EQ(h.Sbr().count, 0);
    EXPECT_FALSE(LastFrameLost(h));
}

// Truncated and corrupted copies of valid blocks of every tool never read
// or write out of bounds (checked under the sanitizers) and either decode
// or report a lost frame; the output stays finite.
TEST(AacHostileInput, TruncatedAndCorruptedBlocks) {
    std::mt19937 rng(1234);
    for (int channels = 1; channels <= 2; ++channels) {
        testgen::BlockGenOptions options;
        options.channels = channels;
        options.pns = true;
        testgen::AacBlockGenerator gen(77u + static_cast<uint32_t>(channels), options);
        CoreHarness h(22050);
        for (int i = 0; i < 300; ++i) {
            std::vector<uint8_t> block = gen.Next();
            switch (i % 3) {
                case 0: block.resize(rng() % (block.size() + 1)); break;
                case 1:
                    for (int k = 0; k < 4 && !block.empty(); ++k) block[rng() % block.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
                    break;
                default:
                    for (auto& b : block) b = static_cast<uint8_t>(rng());
                    break;
            }
            const int status = h.Decode(block);
            EXPECT_TRUE(status == 0 || status == 1 || status == 2 || status == 3 || status == 5 || status == 6 ||
                        status == 8 || status == 9 || status == 10)
                << status;
            for (int k = 0; k < 1024 * h.Channels(); ++k) ASSERT_TRUE(std::isfinite(h.Time()[k])) << i;
        }
    }
}

}  // namespace
}  // namespace aurivane::aactest
