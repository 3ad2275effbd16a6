// Real prompts from an independent encoder: our decoder and the peer must
// both turn them into speech at a plausible, matching level.
#include "g729_test_io.h"
#include "peer_codec.h"
#include "support/speech_measures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace aurivane::test {
namespace {

const char* const kPrompts[] = {"prompt_en-us_menu", "prompt_en-us_welcome", "prompt_en-us_conference",
                                "prompt_de_menu"};

class Prompts : public ::testing::TestWithParam<const char*> {};

TEST_P(Prompts, DecodeToSpeechAtPeerLevel) {
    const auto dir = SharedSampleDir("g729-prompts");
    if (!dir) GTEST_SKIP() << "shared samples not found at " << AURIVANE_SHARED_DIR << "/samples/g729-prompts";
    const std::string base = *dir + "/" + GetParam();
    const std::vector<uint8_t> frames = ReadBytes(base + ".g729");
    const std::vector<int16_t> recording = DecodeMuLaw(ReadBytes(base + ".ulaw"));
    ASSERT_EQ(frames.size() % 10, 0u);

    const std::vector<int16_t> ours = OursDecodeAll(frames);
    const std::vector<int16_t> peer = PeerDecodeAll(frames);
    const SpeechComparison vsRecording = CompareSpeech(recording, ours, 160);
    const SpeechComparison peerVsRecording = CompareSpeech(recording, peer, 160);
    const double agreement = SnrDb(peer, ours);
    std::printf("[prompt] %-24s ours %.2f dBFS, peer %.2f dBFS, recording %.2f dBFS; ours vs peer SNR %.2f dB; "
                "vs recording: ours corr %.3f at lag %d, peer corr %.3f at lag %d\n",
                GetParam(), LevelDbfs(ours), LevelDbfs(peer), LevelDbfs(recording), agreement,
                vsRecording.correlation, vsRecording.lag, peerVsRecording.correlation, peerVsRecording.lag);

    // Speech level: neither whisper nor clipping.
    EXPECT_GT(LevelDbfs(ours), -40.0);
    EXPECT_LT(LevelDbfs(ours), -6.0);
    EXPECT_LT(std::fabs(LevelDbfs(ours) - LevelDbfs(peer)), 0.5);
    EXPECT_GE(agreement, 30.0);
    // It is the recorded prompt, as far as a waveform coder can tell.
    EXPECT_GE(vsRecording.correlation, peerVsRecording.correlation - 0.05);
    EXPECT_LT(std::abs(vsRecording.lag - peerVsRecording.lag), 3);
}

INSTANTIATE_TEST_SUITE_P(Files, Prompts, ::testing::ValuesIn(kPrompts), [](const auto& info) {
    std::string name = info.param;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
});

TEST(PromptSilence, StaysNearSilent) {
    const auto dir = SharedSampleDir("g729-prompts");
    if (!dir) GTEST_SKIP() << "shared samples not found at " << AURIVANE_SHARED_DIR << "/samples/g729-prompts";
    const std::vector<uint8_t> frames = ReadBytes(*dir + "/prompt_silence.g729");
    const std::vector<int16_t> ours = OursDecodeAll(frames);
    const std::vector<int16_t> peer = PeerDecodeAll(frames);
    auto peak = [](const std::vector<int16_t>& x) {
        int p = 0;
        for (int16_t v : x) p = std::max(p, std::abs(static_cast<int>(v)));
        return p;
    };
    std::printf("[prompt] prompt_silence: peak ours %d, peer %d; level ours %.2f dBFS, peer %.2f dBFS\n", peak(ours),
                peak(peer), LevelDbfs(ours), LevelDbfs(peer));
    ASSERT_EQ(ours.size(), 80000u);
    EXPECT_LE(peak(ours), 2 * peak(peer) + 4);
}

}  // namespace
}  // namespace aurivane::test
