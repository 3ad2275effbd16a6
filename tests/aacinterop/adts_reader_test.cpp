#include "adts_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "aac_peers.h"
#include "support/aac_block_gen.h"

namespace aurivane {
namespace {

using aactest::DataDir;
using aactest::ReadBytes;

std::vector<AdtsFrame> ReadAll(AdtsReader* reader) {
    std::vector<AdtsFrame> frames;
    AdtsFrame f;
    while (reader->Next(&f)) frames.push_back(f);
    return frames;
}

// Every block handed out lies inside the input.
void ExpectInside(const std::vector<uint8_t>& s, const std::vector<AdtsFrame>& frames) {
    for (const AdtsFrame& f : frames) {
        ASSERT_LE(f.offset + static_cast<std::size_t>(f.header.frameLength), s.size());
        for (int i = 0; i < f.blockCount; ++i) {
            ASSERT_GE(f.blocks[i].data, s.data());
            ASSERT_LE(f.blocks[i].data + f.blocks[i].size, s.data() + s.size());
        }
    }
}

std::vector<std::vector<uint8_t>> SomeBlocks(int channels, int n, uint32_t seed) {
    testgen::BlockGenOptions o;
    o.channels = channels;
    testgen::AacBlockGenerator gen(seed, o);
    std::vector<std::vector<uint8_t>> blocks;
    for (int i = 0; i < n; ++i) blocks.push_back(gen.Next());
    return blocks;
}

TEST(AdtsReader, HeaderFieldsOfHandMadeHeader) {
    // MPEG-2 ID, CRC present, profile LC, 24000 Hz, 2 channels, fullness 0x123, 1 block.
    const uint8_t h[7] = {0xFF, 0xF8, 0x58, 0x80, 0x02, 0x04, 0x8C};
    AdtsHeader r;
    ASSERT_TRUE(ParseAdtsHeader(h, sizeof h, &r));
    EXPECT_TRUE(r.mpeg2);
    EXPECT_TRUE(r.crcPresent);
    EXPECT_EQ(r.ObjectType(), 2);
    EXPECT_EQ(r.samplingIndex, 6);
    EXPECT_EQ(r.sampleRate, 24000);
    EXPECT_EQ(r.channelConfig, 2);
    EXPECT_EQ(r.frameLength, 16);
    EXPECT_EQ(r.bufferFullness, 0x123);
    EXPECT_EQ(r.rawBlocks, 1);

    uint8_t bad[7];
    std::copy(h, h + 7, bad);
    bad[1] = 0xFA;  // layer 1
    EXPECT_FALSE(ParseAdtsHeader(bad, 7, &r));
    std::copy(h, h + 7, bad);
    bad[2] = (bad[2] & ~0x3C) | (13 << 2);  // reserved sampling index
    EXPECT_FALSE(ParseAdtsHeader(bad, 7, &r));
    std::copy(h, h + 7, bad);
    bad[4] = 0x01;  // frame length 8: no room for the CRC word and a block
    bad[5] = 0x02;
    EXPECT_FALSE(ParseAdtsHeader(bad, 7, &r));
    EXPECT_FALSE(ParseAdtsHeader(h, 6, &r));

    EXPECT_EQ(AdtsSampleRate(7), 22050);
    EXPECT_EQ(AdtsSamplingIndex(8000), 11);
    EXPECT_EQ(AdtsSamplingIndex(22000), -1);
}

TEST(AdtsReader, EncoderStreamsSplitIntoWholeFrames) {
    for (const char* name : {"mono_clicks.aac", "stereo_ms.aac", "stereo_tns.aac"}) {
        std::vector<uint8_t> s;
        ASSERT_TRUE(ReadBytes(DataDir() + "/" + name, &s)) << name;
        AdtsReader reader(s.data(), s.size());
        const std::vector<AdtsFrame> frames = ReadAll(&reader);
        ExpectInside(s, frames);
        ASSERT_GT(frames.size(), 40u) << name;
        std::size_t total = 0;
        for (const AdtsFrame& f : frames) {
            EXPECT_EQ(f.header.sampleRate, 22050);
            EXPECT_EQ(f.header.ObjectType(), 2);
            EXPECT_FALSE(f.header.crcPresent);
            EXPECT_EQ(f.blockCount, 1);
            EXPECT_EQ(f.blocks[0].size + kAdtsHeaderBytes, static_cast<std::size_t>(f.header.frameLength));
            total += static_cast<std::size_t>(f.header.frameLength);
        }
        EXPECT_EQ(frames[0].header.channelConfig, std::string(name).rfind("mono", 0) == 0 ? 1 : 2);
        EXPECT_EQ(total, s.size()) << name;
        EXPECT_EQ(reader.SkippedBytes(), 0u);
        EXPECT_FALSE(reader.Truncated());
    }
}

TEST(AdtsReader, CrcWordsAndSeveralBlocksPerFrame) {
    const auto blocks = SomeBlocks(2, 10, 7);
    {
        const std::vector<uint8_t> s = testgen::WrapAdts(blocks, 7, 2, true, 1);
        AdtsReader reader(s.data(), s.size());
        const auto frames = ReadAll(&reader);
        ASSERT_EQ(frames.size(), 10u);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            EXPECT_TRUE(frames[i].header.crcPresent);
            ASSERT_EQ(frames[i].blocks[0].size, blocks[i].size());
            EXPECT_TRUE(std::equal(blocks[i].begin(), blocks[i].end(), frames[i].blocks[0].data));
        }
    }
    {
        // 4, 4 and 2 blocks; CRC words between blocks, positions in the header.
        const std::vector<uint8_t> s = testgen::WrapAdts(blocks, 7, 2, true, 4);
        AdtsReader reader(s.data(), s.size());
        const auto frames = ReadAll(&reader);
        ExpectInside(s, frames);
        ASSERT_EQ(frames.size(), 3u);
        std::size_t b = 0;
        for (const AdtsFrame& f : frames) {
            EXPECT_TRUE(f.blocksDelimited);
            EXPECT_EQ(f.blockCount, f.header.rawBlocks);
            for (int i = 0; i < f.blockCount; ++i, ++b) {
                ASSERT_EQ(f.blocks[i].size, blocks[b].size()) << b;
                EXPECT_TRUE(std::equal(blocks[b].begin(), blocks[b].end(), f.blocks[i].data)) << b;
            }
        }
        EXPECT_EQ(b, blocks.size());
    }
    {
        // Without CRC there are no positions: the payload comes whole.
        const std::vector<uint8_t> s = testgen::WrapAdts(blocks, 7, 2, false, 3);
        AdtsReader reader(s.data(), s.size());
        const auto frames = ReadAll(&reader);
        ASSERT_EQ(frames.size(), 4u);
        EXPECT_FALSE(frames[0].blocksDelimited);
        EXPECT_EQ(frames[0].header.rawBlocks, 3);
        EXPECT_EQ(frames[0].blocks[0].size, blocks[0].size() + blocks[1].size() + blocks[2].size());
        EXPECT_EQ(frames[3].header.rawBlocks, 1);
    }
}

TEST(AdtsReader, ResynchronisesOnJunkAndStopsOnTruncation) {
    const auto blocks = SomeBlocks(1, 12, 3);
    const std::vector<uint8_t> clean = testgen::WrapAdts(blocks, 7, 1);
    // Leading junk holding a false syncword with a plausible header.
    std::vector<uint8_t> s = {0x12, 0xFF, 0xF1, 0x50, 0x80, 0x10, 0x1F, 0xFC, 0x00, 0xFF};
    const std::size_t lead = s.size();
    s.insert(s.end(), clean.begin(), clean.end());
    // Junk between frames 5 and 6.
    AdtsReader probe(clean.data(), clean.size());
    AdtsFrame f;
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(probe.Next(&f));
    const std::size_t cut = lead + f.offset;
    const std::vector<uint8_t> junk = {0xFF, 0xFF, 0xF0, 0x00, 0x01, 0x02, 0x03};
    s.insert(s.begin() + static_cast<std::ptrdiff_t>(cut), junk.begin(), junk.end());

    AdtsReader reader(s.data(), s.size());
    auto frames = ReadAll(&reader);
    ExpectInside(s, frames);
    ASSERT_EQ(frames.size(), blocks.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(frames[i].blocks[0].size, blocks[i].size());
        EXPECT_TRUE(std::equal(blocks[i].begin(), blocks[i].end(), frames[i].blocks[0].data)) << i;
    }
    EXPECT_EQ(reader.SkippedBytes(), lead + junk.size());
    EXPECT_FALSE(reader.Truncated());

    // Cut inside the last frame, and inside the last header.
    for (std::size_t drop : {std::size_t{3}, clean.size() - (f.offset + 3)}) {
        std::vector<uint8_t> t(clean.begin(), clean.end() - static_cast<std::ptrdiff_t>(drop));
        AdtsReader r(t.data(), t.size());
        const auto fr = ReadAll(&r);
        ExpectInside(t, fr);
        EXPECT_TRUE(r.Truncated()) << drop;
        EXPECT_LT(fr.size(), blocks.size());
        EXPECT_EQ(r.SkippedBytes(), 0u);
    }
    // A damaged frame length that points past the end: the reader passes
    // over that frame and goes on with the next one.
    {
        std::vector<uint8_t> t = clean;
        AdtsReader p(clean.data(), clean.size());
        AdtsFrame g;
        for (int i = 0; i < 4; ++i) ASSERT_TRUE(p.Next(&g));
        t[g.offset + 3] |= 0x03;  // frame length 6144 and more
        t[g.offset + 4] = 0xFF;
        AdtsReader r(t.data(), t.size());
        const auto fr = ReadAll(&r);
        ExpectInside(t, fr);
        EXPECT_EQ(fr.size(), blocks.size() - 1);
        EXPECT_EQ(r.SkippedBytes(), static_cast<std::size_t>(g.header.frameLength));
        EXPECT_FALSE(r.Truncated());
    }

    std::vector<uint8_t> t = clean;
    t.insert(t.end(), {0xFF, 0xF1});  // a two-byte partial header
    AdtsReader r(t.data(), t.size());
    EXPECT_EQ(ReadAll(&r).size(), blocks.size());
    EXPECT_TRUE(r.Truncated());
}

TEST(AdtsReader, HostileInputStaysInsideTheBuffer) {
    std::mt19937 rng(99);
    const std::vector<uint8_t> clean = testgen::WrapAdts(SomeBlocks(2, 20, 5), 7, 2, true, 2);
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<uint8_t> s;
        if (trial % 3 == 0) {
            s.resize(rng() % 600);
            for (auto& b : s) b = static_cast<uint8_t>(rng() % 4 == 0 ? 0xFF : rng());
        } else {
            s = clean;
            for (int k = 0; k < 10; ++k) s[rng() % s.size()] = static_cast<uint8_t>(rng());
            s.resize(rng() % (s.size() + 1));
        }
        // Exact-size heap copy so that a sanitizer sees any overread.
        std::vector<uint8_t> exact(s);
        exact.shrink_to_fit();
        AdtsReader reader(exact.data(), exact.size());
        const auto frames = ReadAll(&reader);
        ExpectInside(exact, frames);
        EXPECT_LE(reader.SkippedBytes(), exact.size());
    }
}

TEST(AdtsReader, ThirdPartyStreamWithLeadingJunkAndCutTail) {
    const std::string path = aactest::SharedDir() + "/samples/aac/hev1_adts-mpeg2_22k05-stereo-core_junk-and-truncated.aac";
    std::vector<uint8_t> s;
    if (!ReadBytes(path, &s)) GTEST_SKIP() << "shared samples not found: " << path;
    AdtsReader reader(s.data(), s.size());
    const auto frames = ReadAll(&reader);
    ExpectInside(s, frames);
    ASSERT_EQ(frames.size(), 15u);
    EXPECT_EQ(reader.SkippedBytes(), 26u);
    EXPECT_TRUE(reader.Truncated());
    EXPECT_TRUE(frames[0].header.mpeg2);
    EXPECT_EQ(frames[0].header.sampleRate, 22050);
    EXPECT_EQ(frames[0].header.channelConfig, 2);
}

}  // namespace
}  // namespace aurivane
