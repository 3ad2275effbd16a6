// Raw data blocks written from hand-made frames, read back by our core
// decoder: every value, book, scalefactor, TNS filter and SBR payload must
// come back, in exactly the bits the counters predicted. Frame budget of the
// reservoir's padding.
#include "aacenc/aac_bitstream_writer.h"
#include "aacenc/aac_rate_control.h"
#include "aacenc/aac_section.h"

#include "aac_judge.h"
#include "dsp/aac_tables.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace aurivane {
namespace {

constexpr int kRateIndex22050 = 4;

PsyOutput LongFrame() {
    PsyOutput p{};
    const BandTable& t = kBandTables[kRateIndex22050];
    p.windowSequence = kAacLongWindow;
    p.windowShape = 1;
    p.noOfGroups = 1;
    p.groupLen[0] = 1;
    p.sfbCnt = p.sfbPerGroup = p.maxSfb = t.numLong;
    for (int b = 0; b <= t.numLong; ++b) p.sfbOffset[b] = t.longOffsets[b];
    return p;
}

PsyOutput ShortFrame(const std::vector<int>& groups) {
    PsyOutput p{};
    const BandTable& t = kBandTables[kRateIndex22050];
    p.windowSequence = kAacShortWindow;
    p.noOfGroups = static_cast<int>(groups.size());
    p.sfbPerGroup = p.maxSfb = t.numShort;
    p.sfbCnt = t.numShort * p.noOfGroups;
    int start = 0, mask = 0;
    for (int g = 0; g < p.noOfGroups; ++g) {
        p.groupLen[g] = groups[g];
        for (int w = 0; w < groups[g]; ++w) mask = (mask << 1) | (w > 0 ? 1 : 0);
        for (int b = 0; b < t.numShort; ++b) p.sfbOffset[g * t.numShort + b] = start + t.shortOffsets[b] * groups[g];
        start += 128 * groups[g];
    }
    p.sfbOffset[p.sfbCnt] = 1024;
    p.groupingMask = mask;
    return p;
}

struct Frame {
    PsyOutput psy;
    int16_t quant[1024] = {};
    int16_t offset[kAacMaxGroupedBands] = {};
    int32_t maxVal[kAacMaxGroupedBands] = {};
    int globalGain = 80;
    AacSectionData sections{};
};

// Writes the frame and decodes it; checks the bit count, the values, the
// books, the scalefactors, TNS and the SBR payload.
void RoundTrip(Frame& f, int sbrBytes, int fillRequest) {
    PsyOutput& p = f.psy;
    for (int b = 0; b < p.sfbCnt; ++b) {
        f.maxVal[b] = 0;
        for (int i = p.sfbOffset[b]; i < p.sfbOffset[b + 1]; ++i)
            f.maxVal[b] = std::max<int>(f.maxVal[b], std::abs(f.quant[i]));
    }
    const bool isShort = p.windowSequence == kAacShortWindow;
    int32_t dyn =
        AacBuildSections(f.quant, p.sfbOffset, f.maxVal, p.sfbCnt, p.sfbPerGroup, p.maxSfb, isShort, &f.sections);
    dyn += AacScalefactorBits(&f.sections, f.maxVal, f.offset);
    const int32_t used = 3 + AacStaticBits(p) + dyn + AacSbrPayloadBits(sbrBytes);
    int32_t fill = 0, align = 0;
    ASSERT_TRUE(AacFillAndAlignment(used, fillRequest, &fill, &align));

    std::vector<uint8_t> payload(sbrBytes);
    for (int i = 0; i < sbrBytes; ++i) payload[i] = static_cast<uint8_t>(i == 0 ? 0xD5 : 3 * i);  // EXT_SBR_DATA
    uint8_t storage[1536];
    BitBuffer bits;
    BitBufferCreate(&bits, storage, sizeof(storage));
    const AacChannelCoding coding{&f.sections, f.quant, f.offset, f.maxVal, f.globalGain};
    const int32_t written = AacWriteRawDataBlock(&bits, p, coding, payload.data(), sbrBytes, fill);
    ASSERT_EQ(written, used + fill + align);
    ASSERT_EQ(written % 8, 0);

    enctest::Judge judge(22050);
    bool exact = false;
    ASSERT_EQ(judge.Decode(storage, written / 8, &exact), 0);
    EXPECT_TRUE(exact);
    const ChannelStream& ch = judge.dec.channel[0];
    const BandTable& t = kBandTables[kRateIndex22050];
    EXPECT_EQ(ch.ics.windowSequence, p.windowSequence);
    EXPECT_EQ(ch.ics.maxSfb, p.maxSfb);
    int mismatches = 0, window = 0;
    for (int g = 0; g < p.noOfGroups; ++g) {
        for (int b = 0; b < p.maxSfb; ++b) {
            const int band = g * p.sfbPerGroup + b;
            int book = 0;
            for (int s = 0; s < f.sections.sectionCount; ++s) {
                const AacSection& sec = f.sections.section[s];
                if (band >= sec.sfbStart && band < sec.sfbStart + sec.sfbCount) book = sec.codebook;
            }
            EXPECT_EQ(ch.sectionCodebook[g * 16 + b], book);
            if (f.maxVal[band] > 0) {
                EXPECT_EQ(ch.scalefactor[g * 16 + b], f.globalGain - f.offset[band] + 4);
            }
            const int width = isShort ? t.shortOffsets[b + 1] - t.shortOffsets[b] : p.sfbOffset[b + 1] - p.sfbOffset[b];
            for (int w = 0; w < p.groupLen[g]; ++w)
                for (int k = 0; k < width; ++k) {
                    const int ours = f.quant[p.sfbOffset[band] + w * width + k];
                    const int theirs = isShort ? ch.quantised[(window + w) * 128 + t.shortOffsets[b] + k]
                                               : ch.quantised[p.sfbOffset[b] + k];
                    if (ours != theirs) ++mismatches;
                }
        }
        window += p.groupLen[g];
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(ch.tns.present, p.tnsPresent);
    for (int w = 0; w < (isShort ? 8 : 1) && p.tnsPresent; ++w) {
        ASSERT_EQ(ch.tns.numFilters[w], p.tns.active[w]);
        if (!p.tns.active[w]) continue;
        EXPECT_EQ(ch.tns.filters[w][0].order, p.tns.order[w]);
        for (int k = 0; k < p.tns.order[w]; ++k) EXPECT_EQ(ch.tns.filters[w][0].coef[k], p.tns.coef[w][k]);
    }
    ASSERT_EQ(judge.sbr.count, sbrBytes > 0 ? 1 : 0);
    if (sbrBytes > 0) {
        EXPECT_EQ(judge.sbr.entries[0].byteCount, sbrBytes);
    }
}

// 31 leading empty bands make one section coded as 31 and 0; 30 as one piece.
// Values of 16 and 8191 take book 11 with escapes; fill of several elements.
TEST(AacBitstreamWriter, LongFramesRoundTrip) {
    std::mt19937 rng(5);
    for (int emptyBands : {30, 31}) {
        for (int fillRequest : {0, 9, 2167, 5000}) {
            Frame f;
            f.psy = LongFrame();
            for (int b = emptyBands; b < f.psy.sfbCnt; ++b) {
                const int limit = b % 5 == 0 ? 1 : (b % 5 == 1 ? 4 : (b % 5 == 2 ? 12 : 15));
                for (int i = f.psy.sfbOffset[b]; i < f.psy.sfbOffset[b + 1]; ++i)
                    f.quant[i] = static_cast<int16_t>(static_cast<int>(rng() % (2 * limit + 1)) - limit);
                f.offset[b] = static_cast<int16_t>(rng() % 61);
            }
            f.quant[f.psy.sfbOffset[40]] = 16;
            f.quant[f.psy.sfbOffset[41] + 1] = -8191;
            RoundTrip(f, 0, fillRequest);
            EXPECT_EQ(f.sections.section[0].codebook, 0);
            EXPECT_EQ(f.sections.section[0].sfbCount, emptyBands);
        }
    }
}

// Grouped short windows with TNS filters (compressible or not), SBR payloads
// around the escaped count.
TEST(AacBitstreamWriter, ShortFramesWithTnsAndSbrRoundTrip) {
    std::mt19937 rng(9);
    for (int sbrBytes : {1, 14, 15, 256}) {
        Frame f;
        f.psy = ShortFrame({3, 1, 3, 1});
        for (int i = 0; i < 1024; ++i) f.quant[i] = static_cast<int16_t>(static_cast<int>(rng() % 7) - 3);
        for (int b = 0; b < f.psy.sfbCnt; ++b) f.offset[b] = static_cast<int16_t>(10 + rng() % 40);
        f.psy.tnsPresent = 1;
        for (int w = 0; w < 8; w += 3) {
            f.psy.tns.active[w] = 1;
            f.psy.tns.coefRes[w] = 3 + (w & 1);
            f.psy.tns.length[w] = 10;
            f.psy.tns.order[w] = w == 3 ? 0 : 5;
            for (int k = 0; k < 5; ++k) f.psy.tns.coef[w][k] = w == 0 ? (k % 3) - 1 : (k % 2 ? -4 : 3);
        }
        RoundTrip(f, sbrBytes, 40);
    }
    Frame empty;
    empty.psy = ShortFrame({8});
    empty.psy.maxSfb = 1;
    RoundTrip(empty, 0, 0);
}

// 32000 bit/s at 22050 Hz: 185 bytes, then three of 186; 16750 of every 22050
// frames carry the padding byte.
TEST(AacRateControl, FrameBudgetPadding) {
    AacRateControl rc;
    ASSERT_EQ(rc.Open({32000, 22050, 11025, 1, 0}), 0);
    EXPECT_EQ(rc.FrameBudget(), 185 * 8);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(rc.FrameBudget(), 186 * 8);
    ASSERT_EQ(rc.Open({32000, 22050, 11025, 1, 0}), 0);
    int padded = 0;
    for (int i = 0; i < 22050; ++i) padded += rc.FrameBudget() == 186 * 8;
    EXPECT_EQ(padded, 16750);
}

}  // namespace
}  // namespace aurivane
