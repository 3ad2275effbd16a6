// The AacDecoder object's 16-bit output against ffmpeg's 16-bit decoding:
// at most 1 LSB apart, since we truncate toward zero where ffmpeg rounds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "aac_peers.h"
#include "packet_stream.h"
#include "support/aac_block_gen.h"

namespace aurivane::aactest {
namespace {

// Our delivered stereo (one frame late) against the peer's interleaved
// 16-bit output of `channels` channels; returns the largest difference.
int MaxLsbDifference(const FilterRun& run, const PeerPcm& peer, int channels, std::size_t* compared,
                     int* monoMismatches) {
    const std::size_t frames = std::min(run.pcm.size() / 2048, peer.samples.size() / (1024 * channels));
    int worst = 0;
    *monoMismatches = 0;
    *compared = frames > 1 ? frames - 1 : 0;
    for (std::size_t n = 0; n < *compared * 1024; ++n) {
        const int16_t left = run.pcm[2 * (n + 1024)];
        const int16_t right = run.pcm[2 * (n + 1024) + 1];
        if (channels == 1) {
            *monoMismatches += left != right;
            worst = std::max(worst, std::abs(left - static_cast<int>(peer.samples[n])));
        } else {
            worst = std::max(worst, std::abs(left - static_cast<int>(peer.samples[2 * n])));
            worst = std::max(worst, std::abs(right - static_cast<int>(peer.samples[2 * n + 1])));
        }
    }
    return worst;
}

void CheckAgainstFfmpeg(const std::string& item, const std::vector<std::vector<uint8_t>>& blocks,
                        const std::vector<uint8_t>& adts, int channels) {
    std::vector<uint8_t> stream;
    ASSERT_TRUE(ToPacketStream(blocks, &stream)) << "a block exceeds 255 bytes";
    FilterRun run;
    ASSERT_TRUE(DecodeWithFilter(stream, 0, &run)) << "AacDecoder not available";
    ASSERT_EQ(run.results, std::vector<int>{1});
    ASSERT_EQ(run.deliveries.size(), 1u);
    EXPECT_EQ(run.deliveries[0], 4096u * blocks.size());

    const std::string path = WorkPath("filter_" + item + ".aac");
    ASSERT_TRUE(WriteBytes(path, adts));
    PeerPcm peer;
    std::string error;
    ASSERT_TRUE(FfmpegDecode(path, channels, false, &peer, &error)) << error;
    std::size_t frames = 0;
    int monoMismatches = 0;
    const int worst = MaxLsbDifference(run, peer, channels, &frames, &monoMismatches);
    RecordSnr(item + " (AacDecoder s16)", "ffmpeg s16", std::nan(""), worst, frames);
    EXPECT_GE(frames + 1, blocks.size());
    EXPECT_LE(worst, 1) << item;
    EXPECT_EQ(monoMismatches, 0);
    // The first delivered frame is the decoder's silent one.
    for (std::size_t i = 0; i < 2048; ++i) ASSERT_EQ(run.pcm[i], 0) << i;
}

TEST(FilterInterop, EncoderStreamsWithinOneLsbOfFfmpeg) {
    if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    for (auto [file, channels] : {std::pair{"aps_mono_clicks.aac", 1}, std::pair{"aps_stereo_ms.aac", 2}}) {
        std::vector<uint8_t> adts;
        ASSERT_TRUE(ReadBytes(DataDir() + "/" + file, &adts)) << file;
        CheckAgainstFfmpeg(file, AdtsBlocks(adts), adts, channels);
    }
}

TEST(FilterInterop, GeneratedBlocksWithinOneLsbOfFfmpeg) {
    if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    for (int channels : {1, 2}) {
        testgen::BlockGenOptions o;
        o.channels = channels;
        o.maxBlockBytes = 255;
        o.tnsMaxOrder = 4;
        o.levelGain = 112;  // mostly below clipping at 16 bits
        testgen::AacBlockGenerator gen(70 + static_cast<uint32_t>(channels), o);
        std::vector<std::vector<uint8_t>> blocks;
        for (int i = 0; i < 80; ++i) blocks.push_back(gen.Next());
        CheckAgainstFfmpeg(channels == 1 ? "generated_mono" : "generated_stereo", blocks,
                           testgen::WrapAdts(blocks, 7, channels), channels);
    }
}

TEST(FilterInterop, CallSplittingDoesNotChangeTheOutput) {
    std::vector<uint8_t> adts;
    ASSERT_TRUE(ReadBytes(DataDir() + "/aps_stereo_ms.aac", &adts));
    std::vector<uint8_t> stream;
    ASSERT_TRUE(ToPacketStream(AdtsBlocks(adts), &stream));
    FilterRun whole, single, threes;
    ASSERT_TRUE(DecodeWithFilter(stream, 0, &whole));
    ASSERT_TRUE(DecodeWithFilter(stream, 1, &single));
    ASSERT_TRUE(DecodeWithFilter(stream, 3, &threes));
    EXPECT_EQ(single.pcm, whole.pcm);
    EXPECT_EQ(threes.pcm, whole.pcm);
    EXPECT_EQ(single.deliveries.size(), AdtsBlocks(adts).size());
    for (int r : single.results) EXPECT_EQ(r, 1);
}

}  // namespace
}  // namespace aurivane::aactest
