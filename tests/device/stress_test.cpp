// Start/Stop and Open/Process/Close cycles while the card completes buffers
// as fast as it can on its own threads.
#include "device/wave_player.h"
#include "device/wave_recorder.h"
#include "device_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace aurivane {
namespace {

using test::Pcm;

constexpr int kCycles = 1000;

VirtualCardConfig Unpaced() {
    VirtualCardConfig c;
    c.clock = VirtualCardConfig::Clock::kRealTime;
    c.speed = 0;
    c.input = VirtualCardConfig::Input::kRamp;
    c.output = VirtualCardConfig::Output::kDiscard;
    return c;
}

// Checks that each block continues the ramp of the block before, within one Start.
class RampCheckSink final : public AudioSink {
public:
    int32_t Process(const void* data, uint32_t byteCount) override {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        for (uint32_t i = 0; i + 1 < byteCount; i += 2) {
            const int v = static_cast<int16_t>(p[i] | (p[i + 1] << 8));
            if (v != next_) breaks_.fetch_add(1);
            next_ = (v + 1) % 32768;
        }
        blocks_.fetch_add(1);
        return 1;
    }
    void Restart() { next_ = 0; }
    std::atomic<uint64_t> blocks_{0};
    std::atomic<uint64_t> breaks_{0};

private:
    int next_ = 0;  // touched only under the recorder's lock, or between Stop and Start
};

TEST(DeviceStressTest, ThousandStartStopCyclesWithLiveCapture) {
    test::ScopedCard card(Unpaced());
    const WAVEFORMATEX f = Pcm(8000, 1);
    WaveRecorder recorder;
    RampCheckSink sink;
    for (int i = 0; i < kCycles; ++i) {
        sink.Restart();
        recorder.AddSink(&sink);
        ASSERT_EQ(recorder.Start(&f, 64, 3, 128), 1) << i;
        if (i % 4 == 0) {
            // Sometimes wait until capture really flows before stopping.
            const uint64_t before = sink.blocks_.load();
            while (sink.blocks_.load() < before + 2) std::this_thread::yield();
        }
        ASSERT_EQ(recorder.Stop(), 1);
        ASSERT_EQ(recorder.GetDeviceHandle(), 0u);
    }
    EXPECT_EQ(card->OpenDevices(), 0u);
    EXPECT_GT(sink.blocks_.load(), static_cast<uint64_t>(kCycles / 2));
    EXPECT_EQ(sink.breaks_.load(), 0u);
}

TEST(DeviceStressTest, ThousandOpenProcessCloseCyclesWithLivePlayback) {
    test::ScopedCard card(Unpaced());
    const WAVEFORMATEX f = Pcm(8000, 1);
    CWavePlayer player;
    std::vector<uint8_t> data(1000, 0x11);
    const uint64_t startCompleted = card->CompletedBuffers(WaveDirection::kOutput);
    for (int i = 0; i < kCycles; ++i) {
        ASSERT_EQ(player.Open(&f, 96, 3, 4000), 1) << i;
        const uint64_t before = card->CompletedBuffers(WaveDirection::kOutput);
        for (int k = 0; k < 3; ++k) ASSERT_EQ(player.Process(data.data(), static_cast<uint32_t>(data.size())), 1);
        (void)player.GetPendingBytes();  // unlocked read racing the worker
        if (i % 8 == 0) {
            // 3 x (10 chunks of 96 + one of 40), below the backlog limit: all of them play.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (card->CompletedBuffers(WaveDirection::kOutput) < before + 33 &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::yield();
            }
            ASSERT_EQ(card->CompletedBuffers(WaveDirection::kOutput), before + 33) << i;
        }
        ASSERT_EQ(player.Close(), 1);
        ASSERT_EQ(player.GetPendingBytes(), 0u);
    }
    EXPECT_EQ(card->OpenDevices(), 0u);
    EXPECT_GT(card->CompletedBuffers(WaveDirection::kOutput), startCompleted);
}

TEST(DeviceStressTest, RecorderFeedsPlayerWhileBothCycle) {
    test::ScopedCard card(Unpaced());
    const WAVEFORMATEX f = Pcm(8000, 1);
    WaveRecorder recorder;
    CWavePlayer player;
    for (int i = 0; i < kCycles / 4; ++i) {
        ASSERT_EQ(player.Open(&f, 80, 4, 2000), 1);
        recorder.AddSink(&player);
        ASSERT_EQ(recorder.Start(&f, 80, 4, 160), 1);
        while (card->CompletedBuffers(WaveDirection::kOutput) == 0 && i == 0) std::this_thread::yield();
        // Alternate the shut-down order: a player closed under a live recorder
        // refuses further data instead of crashing.
        if (i % 2 == 0) {
            ASSERT_EQ(player.Close(), 1);
            ASSERT_EQ(recorder.Stop(), 1);
        } else {
            ASSERT_EQ(recorder.Stop(), 1);
            ASSERT_EQ(player.Close(), 1);
        }
    }
    EXPECT_EQ(card->OpenDevices(), 0u);
}

}  // namespace
}  // namespace aurivane
