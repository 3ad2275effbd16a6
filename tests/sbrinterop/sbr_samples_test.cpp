// The HE-AAC streams of the shared sample collection, decoded by our
// decoder and by ffmpeg and faad.
#include "sbrinterop/sbr_harness.h"
#include "support/speech_measures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>

namespace aurivane::test {
namespace {

std::string SamplePath(const char* name) { return std::string(AURIVANE_SHARED_DIR) + "/samples/aac/" + name; }

// Copies (MP4: remuxes) a sample into the work directory as ADTS.
bool PrepareAdts(const char* name, std::string* adts, AdtsStream* stream, std::string* error) {
    const std::string src = SamplePath(name);
    *adts = WorkDir() + "/" + name + ".adts";
    const bool mp4 = src.ends_with(".mp4");
    const std::string cmd = mp4 ? "ffmpeg -nostdin -hide_banner -loglevel error -y -i '" + src +
                                      "' -c copy -f adts '" + *adts + "'"
                                : "cp '" + src + "' '" + *adts + "'";
    if (std::system(cmd.c_str()) != 0) {
        *error = "cannot prepare " + src;
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(*adts, &bytes)) {
        *error = "cannot read " + *adts;
        return false;
    }
    return ReadAdtsBlocks(bytes, stream, error, /*resync=*/true);
}

struct Sample {
    const char* id;
    const char* file;
    int coreRate;
    int frames;  // whole frames in the file (0: not checked)
    int settle;  // frames of SBR and PS start-up, where decoders differ
};

void PrintTo(const Sample& s, std::ostream* os) { *os << s.file; }

// SNR of our float output, read one frame late, against ffmpeg's from
// frame `settle` on, over both channels: sub-LSB signals (a silent
// stream's noise floor, which truncates to zero in 16 bits) are compared
// too, and an all-zero output scores 0 dB.
double FloatSnrDb(const Decoded& ff, const Decoded& ours, int settle) {
    const std::size_t shift = 2 * 2048, skip = 2 * 2048 * static_cast<std::size_t>(settle);
    if (ours.f32.size() <= shift + skip || ff.f32.size() <= skip) return -300;
    const std::size_t n = std::min(ff.f32.size(), ours.f32.size() - shift) - skip;
    return SnrDb(std::span<const float>(ff.f32.data() + skip, n),
                 std::span<const float>(ours.f32.data() + shift + skip, n));
}

class SharedSample : public ::testing::TestWithParam<Sample> {};

// The samples run the complex-valued SBR (mono, stereo, PS) like ffmpeg:
// the output matches it to the rounding of single precision, and the SBR
// band of both channels follows it block by block as closely as faad does.
TEST_P(SharedSample, DecodesLikeThePeers) {
    const Sample& s = GetParam();
    if (!std::filesystem::exists(SamplePath(s.file))) {
        GTEST_SKIP() << "shared samples not found under " << AURIVANE_SHARED_DIR;
    }
    if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    std::string adts, error;
    AdtsStream stream;
    ASSERT_TRUE(PrepareAdts(s.file, &adts, &stream, &error)) << error;
    EXPECT_EQ(stream.sampleRate, s.coreRate);
    if (s.frames > 0) {
        EXPECT_EQ(static_cast<int>(stream.blocks.size()), s.frames);
    }

    const Decoded ours = DecodeWithOurs(stream);
    ASSERT_TRUE(ours.ok) << ours.error;
    const Decoded ff = DecodeWithFfmpeg(adts);
    ASSERT_TRUE(ff.ok) << ff.error;
    EXPECT_EQ(ours.sampleRate, 2 * s.coreRate) << "SBR doubles the rate";
    EXPECT_EQ(ours.Frames(), 2048 * stream.blocks.size());
    // faad reads the frames without the junk between them.
    const std::string clean = adts + ".clean.aac";
    ASSERT_TRUE(WriteFileBytes(clean, WrapAdts(stream)));
    const bool haveFaad = HaveProgram("faad");
    const Decoded fa = haveFaad ? DecodeWithFaad(clean) : Decoded();

    // Our core decoder's concealment delays the output by one frame (2048
    // samples at the output rate); the search needs a few frames of sound.
    if (ours.Frames() >= 8 * 2048 && RmsDbfs(ff.pcm) > -90) {
        EXPECT_EQ(FindLag(ff.pcm, ours.pcm, 3072), 2048) << "one frame of concealment delay";
    }
    const double snr = FloatSnrDb(ff, ours, s.settle);
    const int rate = 2 * s.coreRate;
    const BlockAgreement blocks =
        CompareBlockLevels(ff, ours, 2048, fa.ok ? &fa : nullptr, -2048, rate, rate * 0.18, 0.5);
    std::printf("%-56s frames %4zu: ours-ffmpeg SNR %.1f dB, level ours %.1f ffmpeg %.1f dBFS; %d blocks of the "
                "SBR band, median/mean/p90 ours-ffmpeg %+.2f/%+.2f/%+.2f | %+.2f/%+.2f/%+.2f, faad-ffmpeg "
                "%+.2f/%+.2f/%+.2f | %+.2f/%+.2f/%+.2f dB\n",
                s.file, stream.blocks.size(), snr, RmsDbfs(ours.pcm), RmsDbfs(ff.pcm), blocks.blocks,
                blocks.ours[0].median, blocks.ours[0].mean, blocks.ours[0].p90, blocks.ours[1].median,
                blocks.ours[1].mean, blocks.ours[1].p90, blocks.peer[0].median, blocks.peer[0].mean,
                blocks.peer[0].p90, blocks.peer[1].median, blocks.peer[1].mean, blocks.peer[1].p90);
    EXPECT_GE(snr, 60.0);
    EXPECT_LE(blocks.outside, OutsideAllowed(blocks, fa.ok))
        << "block " << blocks.worstBlock << " channel " << blocks.worstChannel << ": " << blocks.worstDb
        << " dB beyond faad's distance + margin";

    if (!haveFaad) GTEST_SKIP() << "faad not installed: block tolerance from ffmpeg alone, faad checks skipped";
    ASSERT_TRUE(fa.ok) << fa.error;
    EXPECT_EQ(fa.sampleRate, rate);
    for (int c = 0; c < 2 && blocks.blocks > 0; ++c) EXPECT_NEAR(blocks.peer[c].median, 0.0, 0.1) << "channel " << c;
}

const Sample kSamples[] = {
    {"Mono8kExplicitMp4", "hev1_mp4_explicit_8k-mono-core_16k-out.mp4", 8000, 0, 0},
    {"Stereo22kJunkTruncated", "hev1_adts-mpeg2_22k05-stereo-core_junk-and-truncated.aac", 22050, 15, 0},
    {"Stereo24kThreeFrames", "hev1_adts_24k-stereo-core_48k-out_3frames.aac", 24000, 3, 0},
    {"V2SilentPs", "hev2_adts_22k05-mono-core_44k1-out_silent.aac", 22050, 26, 2},
};

INSTANTIATE_TEST_SUITE_P(Aac, SharedSample, ::testing::ValuesIn(kSamples),
                         [](const ::testing::TestParamInfo<Sample>& info) { return std::string(info.param.id); });

}  // namespace
}  // namespace aurivane::test
