// The program reads what users have: other rates, channel counts and
// containers are converted for G.729 (sox makes the inputs, as a user's tool
// would), and damaged or foreign files stop with a message and status 1.
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

const std::string kWork = ::testing::TempDir();
const std::string kSpeech = std::string(AURIVANE_TEST_DATA_DIR) + "/g729/us_male.wav";

// Exit status, stdout and stderr together in log.
int Shell(const std::string& command, std::string* log) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return -1;
    log->clear();
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) *log += chunk;
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Cli(const std::string& arguments, std::string* log) { return Shell(std::string(AURIVANE_CLI) + " " + arguments, log); }

std::vector<int16_t> G729RoundTrip(const std::string& in, const std::string& name, std::string* log) {
    const std::string coded = kWork + name + ".g729", out = kWork + name + ".out.wav";
    std::string decodeLog;
    EXPECT_EQ(Cli("encode --codec g729 '" + in + "' '" + coded + "'", log), 0) << *log;
    EXPECT_EQ(Cli("decode '" + coded + "' '" + out + "'", &decodeLog), 0) << decodeLog;
    WavData wav;
    std::string error;
    EXPECT_TRUE(ReadWav(out, &wav, &error)) << error;
    return wav.samples;
}

TEST(ProgramInput, FlacAndFloatWavAreConvertedForG729) {
    std::string log;
    if (Shell("sox --version", &log) != 0) GTEST_SKIP() << "sox is not installed";
    const std::vector<int16_t> direct = G729RoundTrip(kSpeech, "direct", &log);
    EXPECT_EQ(log.find("converting"), std::string::npos) << "8 kHz mono needs no conversion: " << log;
    struct Case {
        const char* name;
        const char* soxArgs;
        const char* said;
    } cases[] = {
        {"stereo44k.flac", "-r 44100 -c 2", "converting 44100 Hz stereo to 8000 Hz mono"},
        {"float22k.wav", "-r 22050 -e floating-point -b 32", "converting 22050 Hz mono to 8000 Hz mono"},
    };
    for (const Case& c : cases) {
        const std::string in = kWork + c.name;
        ASSERT_EQ(Shell("sox '" + kSpeech + "' " + c.soxArgs + " '" + in + "'", &log), 0) << log;
        const std::vector<int16_t> converted = G729RoundTrip(in, c.name, &log);
        EXPECT_NE(log.find(c.said), std::string::npos) << log;
        // Same duration, no delay, same level and waveform as the 8 kHz original
        // coded directly: a wrong rate, a lost channel or an uncompensated
        // resampler delay all show here.
        EXPECT_EQ(converted.size(), direct.size()) << c.name;
        const SpeechComparison m = CompareSpeech(direct, converted, 80);
        std::printf("[input] %s: lag %d, corr %.3f, level %+.2f dB\n", c.name, m.lag, m.correlation, m.levelDiff);
        EXPECT_EQ(m.lag, 0) << c.name;
        EXPECT_GT(m.correlation, 0.9) << c.name;
        EXPECT_LT(std::abs(m.levelDiff), 0.5) << c.name;
    }
}

TEST(ProgramInput, DamagedAndForeignFilesFailWithAReason) {
    std::vector<uint8_t> wav;
    {
        std::ifstream f(kSpeech, std::ios::binary);
        wav.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    ASSERT_GT(wav.size(), 4000u);
    auto write = [](const std::string& path, const void* data, std::size_t size) {
        std::ofstream(path, std::ios::binary).write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        return path;
    };
    struct Case {
        std::string path;
        const char* said;
    } cases[] = {
        // Found by fuzzing: libsndfile 1.2 spends minutes on its 4 GB LIST chunk.
        {AURIVANE_TOOLS_TEST_DIR "/runaway_list.wav", "'LIST' chunk runs past the end"},
        {write(kWork + "cut.wav", wav.data(), wav.size() / 2), "cut short"},
        {write(kWork + "header_only.wav", wav.data(), 30), "damaged WAV"},
        {write(kWork + "notes.wav", "speech.wav: 4.5 s\n", 18), "text file"},
        {write(kWork + "empty.flac", "", 0), "empty"},
    };
    std::string log;
    for (const Case& c : cases) {
        EXPECT_EQ(Cli("encode --codec g729 '" + c.path + "' '" + kWork + "never.g729'", &log), 1) << c.path;
        EXPECT_NE(log.find(c.path), std::string::npos) << log;
        EXPECT_NE(log.find(c.said), std::string::npos) << log;
    }
    // MP4 is not read, and the user learns how to get ADTS out of it.
    const uint8_t mp4[] = {0, 0, 0, 24, 'f', 't', 'y', 'p', 'M', '4', 'A', ' ', 0, 0, 2, 0};
    EXPECT_EQ(Cli("decode '" + write(kWork + "song.m4a", mp4, sizeof mp4) + "' '" + kWork + "x.wav'", &log), 1);
    EXPECT_NE(log.find("-c:a copy OUT.aac"), std::string::npos) << log;
    EXPECT_EQ(log.find("unsupported"), std::string::npos) << log;
}

}  // namespace
}  // namespace aurivane::test
