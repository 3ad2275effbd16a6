// Real AAC-LC streams from independent encoders (the shared samples), in
// every transport the command-line program reads (ADTS; MP4 remuxed to
// ADTS), decoded by us and by the peers. Also the command-line decoder.
#include <gtest/gtest.h>

#include <algorithm>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <stdio.h>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "aac_peers.h"
#include "our_decoder.h"
#include "packet_stream.h"
#include "wav_file.h"

namespace aurivane::aactest {
namespace {

constexpr double kFloatSnrDb = 90.0;
// Substituted noise is random in every decoder: bands holding it are
// compared by energy. Two independent noises over 100-400 frames of a band
// differ by up to 0.75 dB (ours against either peer, and the peers against
// each other, checked below); 0.25 dB more is the margin. A wrong noise
// scale moves a band by 1.5 dB per energy step.
// Band errors against the whole signal: -140 dB where the bands are loud,
// about -85 dB beside noise bands, where the Hann sidelobes of two
// different noises fall.
constexpr double kBandErrorDb = -80.0;
constexpr double kNoiseBelowDb = -1.0;
constexpr double kNoiseAboveDb = 1.0;

struct Sample {
    const char* file;
    int channels;
    int rate;
    int ffmpegSkipped;  // leading frames ffmpeg leaves out of this stream
};

void PrintTo(const Sample& s, std::ostream* os) { *os << s.file; }

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

// Whole frames sample by sample where no noise substitution is involved;
// per scalefactor band everywhere: exact outside the noise, by energy in it.
void ExpectAgreement(const Sample& s, const char* peer, const PeerPcm& pcm, const OurPcm& ours) {
    const Comparison c = CompareDelayed(pcm, ours);
    std::string item = s.file;
    if (c.noiseFrames > 0) item += " (" + std::to_string(c.noiseFrames) + " PNS frames apart)";
    const bool allNoise = c.noiseFrames == c.frames;
    RecordSnr(item, peer, allNoise ? std::nan("") : c.snrDbWithoutNoise, c.maxDiff, c.frames);
    EXPECT_GE(c.frames + 3, static_cast<std::size_t>(ours.frames));
    if (!allNoise) {
        EXPECT_GE(c.snrDbWithoutNoise, kFloatSnrDb) << peer;
    }
    ExpectBandsAgree(CompareBands(pcm, ours), std::string(s.file) + " against " + peer, kBandErrorDb, kNoiseBelowDb,
                     kNoiseAboveDb);
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
    ff.skippedFrames = s.ffmpegSkipped;
    ExpectAgreement(s, "ffmpeg f32", ff, ours);

    // faad treats streams at 24 kHz and below as carrying SBR and upsamples.
    if (s.rate <= 24000) return;
    if (!HaveProgram("faad")) GTEST_SKIP() << "faad not installed: compared with ffmpeg only";
    PeerPcm fa;
    ASSERT_TRUE(FaadDecode(adtsPath, s.channels, ours.frames, &fa, &error)) << error;
    ExpectAgreement(s, "faad f32", fa, ours);

    // The peers' own spread in the noise bands, the yardstick of the bounds:
    // faad's output, delayed like ours, against ffmpeg's (on our noise lines).
    OurPcm faadAsOurs = ours;
    const std::size_t frameSamples = 1024 * static_cast<std::size_t>(s.channels);
    faadAsOurs.samples.assign((1 + static_cast<std::size_t>(fa.skippedFrames)) * frameSamples, 0.0f);
    faadAsOurs.samples.insert(faadAsOurs.samples.end(), fa.samples.begin(), fa.samples.end());
    ExpectBandsAgree(CompareBands(ff, faadAsOurs), std::string(s.file) + ": faad against ffmpeg", kBandErrorDb,
                     kNoiseBelowDb, kNoiseAboveDb);
}

INSTANTIATE_TEST_SUITE_P(
    Samples, ThirdPartyLc,
    ::testing::Values(Sample{"lc_mp4_22k05_mono_speech-en.mp4", 1, 22050, 1},
                      Sample{"lc_mp4_22k05_mono_speech-de.mp4", 1, 22050, 1},
                      Sample{"lc_mp4_22k05_mono_sbr-absent-signalled.mp4", 1, 22050, 0},
                      Sample{"lc_mp4_24k_mono_32k.m4a", 1, 24000, 0}, Sample{"lc_adts_24k_stereo_48k.aac", 2, 24000, 0},
                      Sample{"lc_adts_44k1_stereo_88k.aac", 2, 44100, 0}),
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

std::string RunCli(const std::string& args, int* status) {
    const std::string cmd = std::string(AURIVANE_CLI) + " " + args + " 2>&1";
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return out;
    char buf[256];
    while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
    *status = pclose(p);
    return out;
}

TEST(CommandLine, InfoDescribesAdtsAndPacketStreams) {
    int status = -1;
    std::string out = RunCli("info '" + DataDir() + "/stereo_ms.aac'", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("ADTS (MPEG-4)"), std::string::npos) << out;
    EXPECT_NE(out.find("sampling rate   22050 Hz"), std::string::npos) << out;
    EXPECT_NE(out.find("channels        2"), std::string::npos) << out;
    EXPECT_NE(out.find("frames          45 (45 raw data blocks)"), std::string::npos) << out;

    // A packet stream of the mono item: records and the element kind.
    std::vector<uint8_t> adts;
    ASSERT_TRUE(ReadBytes(DataDir() + "/aps_mono_clicks.aac", &adts));
    std::vector<uint8_t> aps;
    const int records = static_cast<int>(AdtsBlocks(adts).size());
    ASSERT_TRUE(ToPacketStream(AdtsBlocks(adts), &aps));
    const std::string apsPath = WorkPath("cli_info.aps");
    ASSERT_TRUE(WriteBytes(apsPath, aps));
    out = RunCli("info '" + apsPath + "'", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("records         " + std::to_string(records)), std::string::npos) << out;
    EXPECT_NE(out.find(std::to_string(records) + " single channel, 0 channel pair"), std::string::npos) << out;

    // The packet stream decodes through the AacDecoder object: stereo 22050 Hz.
    const std::string wavPath = apsPath + ".wav";
    out = RunCli("decode '" + apsPath + "' '" + wavPath + "'", &status);
    EXPECT_EQ(status, 0) << out;
    WavData wav;
    std::string error;
    ASSERT_TRUE(ReadWav(wavPath, &wav, &error)) << error;
    EXPECT_EQ(wav.channels, 2);
    EXPECT_EQ(wav.sampleRate, 22050u);
    EXPECT_EQ(wav.samples.size(), static_cast<std::size_t>(records) * 2048u);

    out = RunCli("info", &status);
    EXPECT_NE(status, 0);

    const std::string junk = SharedDir() + "/samples/aac/hev1_adts-mpeg2_22k05-stereo-core_junk-and-truncated.aac";
    if (!FileExists(junk)) GTEST_SKIP() << "shared samples not found: " << junk;
    out = RunCli("info '" + junk + "'", &status);
    EXPECT_NE(out.find("ADTS (MPEG-2)"), std::string::npos) << out;
    EXPECT_NE(out.find("skipped         26 bytes"), std::string::npos) << out;
    EXPECT_NE(out.find("truncated"), std::string::npos) << out;
}

}  // namespace
}  // namespace aurivane::aactest
