// The program reads what users have: other rates, channel counts and
// containers are converted for G.729 (sox makes the inputs, as a user's tool
// would), and damaged or foreign files stop with a message and status 1.
// What it writes and prints is read back by independent means: its WAV
// header by ffprobe, its class list against the catalogue's ids and names.
#include "support/speech_measures.h"
#include "wav_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
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

TEST(ProgramOutput, ClassesListTheCatalogueIdsAndNames) {
    const char* const expected[8][2] = {
        {"FDAC6E6C-A23D-43F7-9783-BF2C23AA6BE1", "WaveRecorder"}, {"30A4E8EE-38E9-44FF-9BD3-5CCAD15075C0", "CWavePlayer"},
        {"DE046EDF-BEEE-4122-9AEC-2C4F9854C97C", "Splitter"},     {"DEB92FE2-8675-4373-A4BD-3E42D6E3FE6F", "Splitter"},
        {"67CF1A5D-6107-4230-A813-64D4BF2A0AFA", "G729Encoder"},  {"C0E9E058-FD24-4D65-A39D-8CC04549F901", "G729Decoder"},
        {"00144F58-2975-4334-AC12-D0D05D5F43B5", "AacEncoder"},   {"7257ED4A-F6D7-40AE-8313-D0EDB31E0CAC", "AacDecoder"},
    };
    std::string log;
    ASSERT_EQ(Cli("classes", &log), 0) << log;
    std::istringstream lines(log);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("#", 0), 0u) << "header line: " << line;
    int rows = 0;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string number, id, name, provided, extra;
        fields >> number >> id >> name >> provided >> extra;
        ASSERT_LT(rows, 8) << "extra line: " << line;
        EXPECT_EQ(number, std::to_string(rows + 1)) << line;
        EXPECT_EQ(id, expected[rows][0]) << line;
        EXPECT_EQ(name, expected[rows][1]) << line;
        EXPECT_TRUE(provided == "yes" || provided == "no") << line;
        EXPECT_TRUE(extra.empty()) << line;
        ++rows;
    }
    EXPECT_EQ(rows, 8);
}

TEST(ProgramOutput, HelpNamesEveryCommandAndExitsCleanly) {
    std::string log;
    ASSERT_EQ(Cli("--help", &log), 0) << log;
    EXPECT_EQ(log.rfind("usage: aurivane <command>", 0), 0u) << log;
    for (const char* command : {"classes", "splitter-demo", "devices", "record", "play", "loopback", "encode", "decode",
                                "info", "voice-loop"}) {
        EXPECT_NE(log.find(std::string("\n  ") + command + " "), std::string::npos) << command << " missing:\n" << log;
    }
    // A command the help does not list is refused, pointing to the help.
    std::string unknown;
    EXPECT_EQ(Cli("frobnicate", &unknown), 2) << unknown;
    EXPECT_NE(unknown.find("unknown command 'frobnicate'"), std::string::npos) << unknown;
}

// ffprobe reports the format chunk as it is written: its bit rate is the
// header's byte rate times eight, not one it computes from the data. Both
// writers: the whole-image one and the streaming one the decoder uses.
TEST(ProgramOutput, WavHeaderAsFfprobeReadsIt) {
    std::string log;
    if (Shell("ffprobe -version", &log) != 0) GTEST_SKIP() << "ffprobe not installed";
    for (uint16_t channels : {1, 2, 6}) {
        for (uint32_t rate : {8000u, 22050u, 48000u}) {
            WavData wav;
            wav.channels = channels;
            wav.sampleRate = rate;
            wav.samples.assign(static_cast<std::size_t>(rate / 10) * channels, 1000);
            const std::string name = kWork + "probe_" + std::to_string(channels) + "_" + std::to_string(rate);
            std::string error;
            ASSERT_TRUE(WriteWav(name + ".wav", wav, &error)) << error;
            WavWriter streamed;
            ASSERT_TRUE(streamed.Open(name + "_streamed.wav", &error)) << error;
            ASSERT_TRUE(streamed.Write(wav.samples.data(), wav.samples.size()));
            ASSERT_TRUE(streamed.Finish(rate, channels, &error)) << error;
            const std::string want = "codec_name=pcm_s16le\nsample_rate=" + std::to_string(rate) +
                                     "\nchannels=" + std::to_string(channels) + "\nbits_per_sample=16\nduration_ts=" +
                                     std::to_string(rate / 10) + "\nbit_rate=" + std::to_string(rate * channels * 16) +
                                     "\n";
            for (const std::string& path : {name + ".wav", name + "_streamed.wav"}) {
                ASSERT_EQ(Shell("ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,"
                                "bits_per_sample,bit_rate,duration_ts -of default=nw=1 '" + path + "'",
                                &log),
                          0)
                    << log;
                EXPECT_EQ(log, want) << path;
            }
        }
    }
}

}  // namespace
}  // namespace aurivane::test
