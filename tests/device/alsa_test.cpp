// The platform's own service on ALSA, with ALSA_CONFIG_PATH pointing alsa-lib
// at a configuration whose default PCM is the null device.
#include "device/wave_player.h"
#include "device/wave_recorder.h"
#include "device_test_util.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

namespace aurivane {
namespace {

using test::Pcm;

class AlsaNullTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* config = std::getenv("ALSA_CONFIG_PATH");
        if (config == nullptr || std::string(config).find("alsa-null") == std::string::npos) {
            GTEST_SKIP() << "ALSA_CONFIG_PATH does not name the null-device configuration; run through ctest";
        }
        SetWaveService(nullptr);
        ASSERT_STREQ(CurrentWaveService().Name(), "alsa");
    }
};

TEST_F(AlsaNullTest, RecordsBlocksAndStopReturnsEveryBuffer) {
    for (const WAVEFORMATEX& f : {Pcm(8000, 1), Pcm(44100, 2), Pcm(22050, 1, 8)}) {
        SCOPED_TRACE(static_cast<unsigned>(f.nSamplesPerSec));
        WaveRecorder recorder;
        test::BlockSink sink;
        recorder.AddSink(&sink);
        const uint32_t bytes = f.nAvgBytesPerSec / 50;  // 20 ms
        ASSERT_EQ(recorder.Start(&f, bytes, 4, 2 * bytes), 1);
        EXPECT_NE(recorder.GetDeviceHandle(), 0u);
        ASSERT_TRUE(sink.WaitFor(5));
        EXPECT_EQ(recorder.Stop(), 1);
        EXPECT_EQ(recorder.GetDeviceHandle(), 0u);
        for (const auto& block : sink.Blocks()) ASSERT_EQ(block.size(), 2 * bytes);
    }
}

TEST_F(AlsaNullTest, PlaysEverythingAndClosesWithBuffersQueued) {
    CWavePlayer player;
    const WAVEFORMATEX f = Pcm(8000, 1);
    ASSERT_EQ(player.Open(&f, 320, 4, 1u << 20), 1);
    EXPECT_NE(player.GetDeviceHandle(), 0u);
    std::vector<uint8_t> data(16000, 0);
    ASSERT_EQ(player.Process(data.data(), static_cast<uint32_t>(data.size())), 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (player.GetPendingBytes() > 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(player.GetPendingBytes(), 0u);
    ASSERT_EQ(player.Process(data.data(), static_cast<uint32_t>(data.size())), 1);
    EXPECT_EQ(player.Close(), 1);  // while data is still moving
    EXPECT_EQ(player.GetDeviceHandle(), 0u);
    EXPECT_EQ(player.FreeBuffers(), 0u);
}

TEST_F(AlsaNullTest, LoopbackAndRepeatedCycles) {
    const WAVEFORMATEX f = Pcm(16000, 1);
    for (int i = 0; i < 20; ++i) {
        WaveRecorder recorder;
        CWavePlayer player;
        test::BlockSink sink;
        ASSERT_EQ(player.Open(&f, 640, 4, 64000), 1) << i;
        recorder.AddSink(&player);
        recorder.AddSink(&sink);
        ASSERT_EQ(recorder.Start(&f, 640, 4, 640), 1) << i;
        ASSERT_TRUE(sink.WaitFor(2));
        EXPECT_EQ(recorder.Stop(), 1);
        EXPECT_EQ(player.Close(), 1);
    }
}

TEST_F(AlsaNullTest, UnsupportedFormatFailsToOpen) {
    WaveRecorder recorder;
    CWavePlayer player;
    const WAVEFORMATEX f = Pcm(8000, 1, 24);
    EXPECT_EQ(recorder.Start(&f, 300, 2, 300), 0);
    EXPECT_EQ(player.Open(&f, 300, 2, 300), 0);
    EXPECT_EQ(recorder.GetDeviceHandle(), 0u);
    EXPECT_EQ(player.GetDeviceHandle(), 0u);
}

}  // namespace
}  // namespace aurivane
