// Real AAC-LC streams from independent encoders (the shared samples), in
// every transport the command-line program reads (ADTS; MP4 remuxed to
// ADTS), decoded by us and by the peers. Also the command-line decoder.
#include <gtest/gtest.h>

#include <algorithm>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "aac_peers.h"
#include "adts_reader.h"
#include "our_decoder.h"
#include "wav_file.h"

namespace aurivane::aactest {
namespace {

constexpr double kFloatSnrDb = 90.0;

struct Sample {
    const char* file;
    int channels;
    int rate;
};

std::string SamplePath(const char* file) { return SharedDir() + "/samples/aac/" + file; }

// The sample as ADTS bytes (remuxed into the build tree when it is MP4).
bool LoadAsAdts(const Sample& s, std::string* adtsPath, std::vector<uint8_t>* bytes, std::string* error) {
    const std::string src = SamplePath(s.file);
    const std::string name(s.file);
    if (name.size() > 4 && name.substr(name.size() - 4) == ".aac") {
        *adtsPath = WorkPath(std::string("sample_") + s.file);
        std::vector<uint8_t> b;
        if (!ReadBytes(src, &b) || !WriteBytes(*adtsPath, b)) return false;
    } else {
        *adtsPath = WorkPath(std::string("sample_") + s.file + ".aac");
        if (!FfmpegRemuxToAdts(src, *adtsPath, error)) return false;
    }
    return ReadBytes(*adtsPath, bytes);
}

// Sample by sample where no noise substitution is involved; by energy
// (within 1 dB) over the frames that overlap a block with noise bands. The
// streams of ffmpeg's encoder at 24 kHz use PNS in every frame, so for them
// only the energy is compared.
void ExpectAgreement(const Sample& s, const char* peer, const Comparison& c, const OurPcm& ours) {
    std::string item = s.file;
    if (c.noiseFrames > 0) item += " (" + std::to_string(c.noiseFrames) + " PNS frames apart)";
    const bool allNoise = c.noiseFrames == c.frames;  // the encoder used PNS in every frame
    RecordSnr(item, peer, allNoise ? std::nan("") : c.snrDbWithoutNoise, c.maxDiff, c.frames);
    EXPECT_GE(c.frames + 3, static_cast<std::size_t>(ours.frames));
    if (!allNoise) {
        EXPECT_GE(c.snrDbWithoutNoise, kFloatSnrDb) << peer;
    }
    if (c.noiseFrames > 0) {
        std::printf("%s against %s: PNS frames %zu of %zu, energy ours/peer %+.2f dB\n", s.file, peer, c.noiseFrames,
                    c.frames, c.noiseEnergyRatioDb);
        EXPECT_NEAR(c.noiseEnergyRatioDb, 0.0, 1.0) << peer;
    }
}

class ThirdPartyLc : public ::testing::TestWithParam<Sample> {};

TEST_P(ThirdPartyLc, MatchesPeers) {
    const Sample s = GetParam();
    if (!FileExists(SamplePath(s.file))) GTEST_SKIP() << "shared samples not found: " << SamplePath(s.file);
    if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    std::string adtsPath, error;
    std::vector<uint8_t> adts;
    ASSERT_TRUE(LoadAsAdts(s, &adtsPath, &adts, &error)) << error;
    OurPcm ours;
    ASSERT_TRUE(CoreDecodeAdts(adts, &ours, &error)) << error;
    EXPECT_EQ(ours.sampleRate, s.rate);
    ASSERT_EQ(ours.channels, s.channels);
    for (std::size_t i = 0; i < ours.statuses.size(); ++i) ASSERT_EQ(ours.statuses[i], 0) << "frame " << i;

    PeerPcm ff;
    ASSERT_TRUE(FfmpegDecode(adtsPath, s.channels, true, &ff, &error)) << error;
    // ffmpeg leaves out the first frame of some of these streams.
    ff.skippedFrames = DetectSkippedFrames(ff, ours);
    const Comparison cf = CompareDelayed(ff, ours);
    ExpectAgreement(s, "ffmpeg f32", cf, ours);

    // faad treats streams at 24 kHz and below as carrying SBR and upsamples.
    if (s.rate > 24000 && HaveProgram("faad")) {
        PeerPcm fa;
        ASSERT_TRUE(FaadDecode(adtsPath, s.channels, ours.frames, &fa, &error)) << error;
        const Comparison ca = CompareDelayed(fa, ours);
        ExpectAgreement(s, "faad f32", ca, ours);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Samples, ThirdPartyLc,
    ::testing::Values(Sample{"lc_mp4_22k05_mono_speech-en.mp4", 1, 22050},
                      Sample{"lc_mp4_22k05_mono_speech-de.mp4", 1, 22050},
                      Sample{"lc_mp4_22k05_mono_sbr-absent-signalled.mp4", 1, 22050},
                      Sample{"lc_mp4_24k_mono_32k.m4a", 1, 24000}, Sample{"lc_adts_24k_stereo_48k.aac", 2, 24000},
                      Sample{"lc_adts_44k1_stereo_88k.aac", 2, 44100}),
    [](const auto& info) {
        std::string n = info.param.file;
        for (char& c : n) {
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        }
        return n;
    });

// The command-line decoder writes the stream at its own rate, without the
// decoder's one-frame delay: its 16-bit WAV is within 1 LSB of ffmpeg's.
TEST(CommandLine, DecodeAdtsMatchesFfmpegSixteenBit) {
    if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    for (const char* file : {"stereo_tns.aac", "mono_clicks.aac"}) {
        const std::string in = WorkPath(std::string("cli_") + file);
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(ReadBytes(DataDir() + "/" + file, &bytes));
        ASSERT_TRUE(WriteBytes(in, bytes));
        const std::string out = in + ".wav";
        const std::string cmd = std::string(AURIVANE_CLI) + " decode '" + in + "' '" + out + "' >/dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        WavData wav;
        std::string error;
        ASSERT_TRUE(ReadWav(out, &wav, &error)) << error;
        EXPECT_EQ(wav.sampleRate, 22050u);
        PeerPcm peer;
        const int channels = std::string(file).rfind("mono", 0) == 0 ? 1 : 2;
        ASSERT_TRUE(FfmpegDecode(in, channels, false, &peer, &error)) << error;
        EXPECT_EQ(wav.channels, channels);
        ASSERT_EQ(wav.samples.size(), peer.samples.size());
        double worst = 0;
        for (std::size_t i = 0; i < wav.samples.size(); ++i) {
            worst = std::max(worst, std::abs(wav.samples[i] - double(peer.samples[i])));
        }
        RecordSnr(std::string(file) + " (aurivane decode)", "ffmpeg s16", std::nan(""), worst,
                  wav.samples.size() / 1024 / static_cast<std::size_t>(channels));
        EXPECT_LE(worst, 1.0) << file;
    }
}

}  // namespace
}  // namespace aurivane::aactest
