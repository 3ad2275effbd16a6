// The HE-AAC streams of the shared sample collection, decoded by our
// decoder and by ffmpeg and faad.
#include "sbrinterop/sbr_harness.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
    int frames;       // whole frames in the file
    bool stereoCore;
    bool silent;
    bool compare;  // long enough for signal measures beyond the first frames
};

void PrintTo(const Sample& s, std::ostream* os) { *os << s.file; }

class SharedSample : public ::testing::TestWithParam<Sample> {};

TEST_P(SharedSample, DecodesLikeThePeers) {
    const Sample& s = GetParam();
    if (!std::filesystem::exists(SamplePath(s.file))) {
        GTEST_SKIP() << "shared samples not found under " << AURIVANE_SHARED_DIR;
    }
    if (!HaveProgram("ffmpeg") || !HaveProgram("faad")) GTEST_SKIP() << "ffmpeg or faad not installed";
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
    const Decoded fa = DecodeWithFaad(adts);
    EXPECT_EQ(ours.sampleRate, 2 * s.coreRate) << "SBR doubles the rate";
    EXPECT_EQ(ours.Frames(), 2048 * stream.blocks.size());

    // Our core decoder's concealment delays the output by one frame (2048
    // samples at the output rate); the search needs a few frames around it.
    const bool searchable = ours.Frames() >= 8 * 2048;
    const int maxLag = 3072;
    const int lag = searchable ? FindLag(ff.pcm, ours.pcm, maxLag) : 2048;
    const double snr = SnrDb(ff.pcm, ours.pcm, 2048, 4096);
    const double nyquist = s.coreRate;  // output rate / 2
    const BandComparison bands =
        CompareBands(ff.pcm, ours.pcm, 2 * s.coreRate, 2048, nyquist * 0.3, nyquist * 0.95, 2.0 * s.coreRate / 64);
    double faadSnr = 0;
    if (fa.ok && fa.channels == 2) {
        faadSnr = SnrDb(ff.pcm, fa.pcm, searchable ? FindLag(ff.pcm, fa.pcm, maxLag) : -2048, 4096);
    }
    std::printf("%-56s frames %4zu lag %d: ours-ffmpeg SNR %.1f dB, bands max %.2f mean %.2f dB (%d), "
                "level ours %.1f ffmpeg %.1f dBFS; faad-ffmpeg SNR %.1f dB\n",
                s.file, stream.blocks.size(), lag, snr, bands.maxAbsDb, bands.meanAbsDb, bands.bands,
                RmsDbfs(ours.pcm), RmsDbfs(ff.pcm), faadSnr);

    if (s.silent) {
        // Digital silence in, at most a few units out, on both channels.
        int peak = 0;
        for (int16_t v : ours.pcm) peak = std::max(peak, std::abs(static_cast<int>(v)));
        EXPECT_LE(peak, 4);
        return;
    }
    if (!s.compare) {
        // Three frames: the first is the decoder delay, the rest the SBR
        // start-up; only the structure (rate, length, no failure) is checked.
        return;
    }
    EXPECT_EQ(lag, 2048) << "one frame of concealment delay";
    if (!s.stereoCore) {
        EXPECT_GE(snr, 60.0) << "mono SBR is the high-quality path, as in ffmpeg";
    } else {
        EXPECT_LE(bands.maxAbsDb, 3.0);
        EXPECT_LE(bands.meanAbsDb, 1.0);
    }
}

const Sample kSamples[] = {
    {"Mono8kExplicitMp4", "hev1_mp4_explicit_8k-mono-core_16k-out.mp4", 8000, 0, false, false, true},
    {"Stereo22kJunkTruncated", "hev1_adts-mpeg2_22k05-stereo-core_junk-and-truncated.aac", 22050, 15, true, false, true},
    {"Stereo24kThreeFrames", "hev1_adts_24k-stereo-core_48k-out_3frames.aac", 24000, 3, true, false, false},
    {"V2SilentPs", "hev2_adts_22k05-mono-core_44k1-out_silent.aac", 22050, 26, false, true, false},
};

INSTANTIATE_TEST_SUITE_P(Aac, SharedSample, ::testing::ValuesIn(kSamples),
                         [](const ::testing::TestParamInfo<Sample>& info) { return std::string(info.param.id); });

}  // namespace
}  // namespace aurivane::test
