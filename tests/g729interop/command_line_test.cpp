// The aurivane program's G.729 commands, run as a user would run them.
#include "g729_test_io.h"
#include "support/speech_measures.h"
#include "wav_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/wait.h>

namespace aurivane::test {
namespace {

const std::string kWork = AURIVANE_G729_WORK_DIR;

// Exit status of the command line, with its output kept in log. The output
// goes through a pipe, not a file: ctest runs these tests side by side.
int RunCli(const std::string& arguments, std::string* log = nullptr) {
    const std::string command = std::string("\"") + AURIVANE_CLI + "\" " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    std::string output;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) output += chunk;
    const int status = pclose(pipe);
    if (log != nullptr) *log = output;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<int16_t> ReadWavSamples(const std::string& path) {
    WavData wav;
    std::string error;
    EXPECT_TRUE(ReadWav(path, &wav, &error)) << error;
    EXPECT_EQ(wav.sampleRate, 8000u);
    EXPECT_EQ(wav.channels, 1u);
    return wav.samples;
}

TEST(G729CommandLine, EncodeAndDecodeMatchTheCodec) {
    const std::string in = std::string(AURIVANE_TEST_DATA_DIR) + "/g729/gb_female.wav";
    const std::string coded = kWork + "/gb_female.g729", out = kWork + "/gb_female_decoded.wav";
    ASSERT_EQ(RunCli("encode --codec g729 \"" + in + "\" \"" + coded + "\""), 0);
    // The extension alone selects G.729 for decoding.
    ASSERT_EQ(RunCli("decode \"" + coded + "\" \"" + out + "\""), 0);

    // The whole recording is coded: the last partial frame is padded.
    std::vector<int16_t> input = LoadSpeechItem("gb_female");
    input.resize((input.size() + 79) / 80 * 80, 0);
    const std::vector<uint8_t> frames = ReadBytes(coded);
    EXPECT_EQ(frames, OursEncodeAll(input));
    EXPECT_EQ(ReadWavSamples(out), OursDecodeAll(frames));

    // Decoded output reaches the file as it is delivered: a stream longer
    // than the WAV writer's block (about 21 s here) still arrives whole.
    std::vector<uint8_t> longer;
    for (int i = 0; i < 5; ++i) longer.insert(longer.end(), frames.begin(), frames.end());
    const std::string longCoded = kWork + "/gb_female_x5.g729", longOut = kWork + "/gb_female_x5.wav";
    std::ofstream(longCoded, std::ios::binary)
        .write(reinterpret_cast<const char*>(longer.data()), static_cast<std::streamsize>(longer.size()));
    ASSERT_EQ(RunCli("decode \"" + longCoded + "\" \"" + longOut + "\""), 0);
    EXPECT_EQ(ReadWavSamples(longOut), OursDecodeAll(longer));
}

TEST(G729CommandLine, RefusesWhatIsNotG729Material) {
    std::string log;
    const std::string stereo = kWork + "/stereo16k.wav";
    WavData wav;
    wav.sampleRate = 16000;
    wav.channels = 2;
    wav.samples.assign(3200, 100);
    std::string error;
    ASSERT_TRUE(WriteWav(stereo, wav, &error)) << error;
    // Other rates and channel counts are converted, and the user is told.
    EXPECT_EQ(RunCli("encode --codec g729 \"" + stereo + "\" \"" + kWork + "/converted.g729\"", &log), 0);
    EXPECT_NE(log.find("converting 16000 Hz stereo to 8000 Hz mono"), std::string::npos) << log;
    EXPECT_EQ(RunCli("encode --codec opus a.wav b.bin", &log), 2);
    EXPECT_NE(log.find("unsupported format"), std::string::npos) << log;
    EXPECT_EQ(RunCli("decode --codec g729 \"" + kWork + "/missing.g729\" x.wav", &log), 1);
    EXPECT_EQ(RunCli("encode --codec g729 only-one-file.wav", &log), 2);
}

TEST(G729CommandLine, VoiceLoopCarriesSpeechThroughTheChain) {
    const std::string in = std::string(AURIVANE_TEST_DATA_DIR) + "/g729/us_male.wav";
    const std::string out = kWork + "/us_male_loop.wav";
    std::string log;
    ASSERT_EQ(RunCli("voice-loop \"" + in + "\" \"" + out + "\" --speed 2", &log), 0) << log;
    const std::vector<int16_t> input = LoadSpeechItem("us_male");
    const std::vector<int16_t> played = ReadWavSamples(out);
    ASSERT_GE(played.size(), input.size());
    const SpeechComparison c = CompareSpeech(input, played, 800);
    std::printf("[voice-loop] us_male: lag %d, corr %.3f, segSNR %.2f dB, level %+.2f dB\n", c.lag, c.correlation,
                c.segSnr, c.levelDiff);
    EXPECT_EQ(c.lag, 40);
    EXPECT_GT(c.correlation, 0.75);
    EXPECT_LT(std::abs(c.levelDiff), 1.5);
    // The chain adds nothing of its own: what is played is what the codec
    // makes of the recording, sample for sample.
    const std::size_t whole = input.size() / 80 * 80;
    const std::vector<int16_t> direct = OursDecodeAll(OursEncodeAll(input));
    EXPECT_EQ(std::vector<int16_t>(played.begin(), played.begin() + whole), direct);
}

}  // namespace
}  // namespace aurivane::test
