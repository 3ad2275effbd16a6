// Recorder into player, and the virtual card's own pacing, host samples in and host callback out.
#include "device/wave_player.h"
#include "device/wave_recorder.h"
#include "device_test_util.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>

namespace aurivane {
namespace {

using test::Pcm;
using test::SampleAt;

TEST(LoopbackTest, RecorderIntoPlayerPlaysTheCapturedSamplesInOrder) {
    test::ScopedCard card(test::ManualRamp());
    const WAVEFORMATEX f = Pcm(8000, 1);
    WaveRecorder recorder;
    CWavePlayer player;
    ASSERT_EQ(player.Open(&f, 160, 4, 1u << 20), 1);
    recorder.AddSink(&player);
    ASSERT_EQ(recorder.Start(&f, 160, 4, 320), 1);
    // Each step fills one capture buffer and plays what the player queued.
    for (int i = 0; i < 40; ++i) card->Step(1);
    recorder.Stop();
    // Play out what is still queued or pending.
    for (int i = 0; i < 100 && card->PlayedBytes().size() < 40u * 160u; ++i) {
        ASSERT_TRUE(card->WaitForQueued(WaveDirection::kOutput, 1, 5000));
        card->Step(1);
    }
    player.Close();
    const std::vector<uint8_t> played = card->PlayedBytes();
    ASSERT_EQ(played.size(), 40u * 160u);
    for (std::size_t i = 0; i < played.size() / 2; ++i) ASSERT_EQ(SampleAt(played, i), static_cast<int>(i));
}

TEST(VirtualCardTest, RealTimeClockPacesCaptureAtTheFormatRate) {
    VirtualCardConfig c;
    c.clock = VirtualCardConfig::Clock::kRealTime;
    c.speed = 20.0;  // 50 ms buffers complete every 2.5 ms
    c.input = VirtualCardConfig::Input::kTone;
    c.toneHz = 1000.0;
    test::ScopedCard card(c);
    const WAVEFORMATEX f = Pcm(8000, 1);
    WaveRecorder recorder;
    test::BlockSink sink;
    recorder.AddSink(&sink);
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(recorder.Start(&f, 800, 4, 800), 1);
    ASSERT_TRUE(sink.WaitFor(40));  // two seconds of audio
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    recorder.Stop();
    EXPECT_GE(elapsed, 0.09);  // 40 x 2.5 ms, never faster than the clock
    // A 1 kHz tone at 8 kHz: period of 8 samples, amplitude half full scale.
    const auto blocks = sink.Blocks();
    EXPECT_EQ(SampleAt(blocks[0], 0), 0);
    EXPECT_EQ(SampleAt(blocks[0], 2), 16384);
    EXPECT_EQ(SampleAt(blocks[0], 6), -16384);
    EXPECT_EQ(SampleAt(blocks[3], 10), 16384);
}

TEST(VirtualCardTest, HostSamplesInAndCallbackOut) {
    std::vector<int16_t> in;
    for (int i = 0; i < 3200; ++i) in.push_back(static_cast<int16_t>(i * 3 - 4000));
    std::mutex mutex;
    std::vector<uint8_t> out;
    WAVEFORMATEX seen{};
    VirtualCardConfig c;
    c.clock = VirtualCardConfig::Clock::kRealTime;
    c.speed = 0;  // unpaced
    c.input = VirtualCardConfig::Input::kPcm;
    c.inputPcm = in;
    c.inputChannels = 2;
    c.output = VirtualCardConfig::Output::kCallback;
    c.onPlayed = [&](const WAVEFORMATEX& f, const uint8_t* data, uint32_t bytes) {
        std::lock_guard<std::mutex> lock(mutex);
        seen = f;
        out.insert(out.end(), data, data + bytes);
    };
    test::ScopedCard card(c);
    std::string error;
    ASSERT_TRUE(card->Ready(&error)) << error;
    const WAVEFORMATEX f = Pcm(16000, 2);
    WaveRecorder recorder;
    CWavePlayer player;
    ASSERT_EQ(player.Open(&f, 640, 8, 1u << 24), 1);
    recorder.AddSink(&player);
    ASSERT_EQ(recorder.Start(&f, 640, 4, 640), 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto outSize = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return out.size();
    };
    while (outSize() < in.size() * 2 + 640 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    recorder.Stop();
    player.Close();
    // Handed to the host, not kept by the card.
    EXPECT_TRUE(card->PlayedBytes().empty());
    EXPECT_EQ(seen.nSamplesPerSec, 16000u);
    EXPECT_EQ(seen.nChannels, 2);
    ASSERT_GE(out.size(), in.size() * 2);
    for (std::size_t i = 0; i < in.size(); ++i) ASSERT_EQ(SampleAt(out, i), in[i]) << i;
    for (std::size_t i = in.size(); i < out.size() / 2; ++i) ASSERT_EQ(SampleAt(out, i), 0) << i;

    // Samples that are not whole frames make the card refuse input devices, with a reason.
    VirtualCardConfig odd = c;
    odd.inputPcm.pop_back();
    VirtualWaveService bad(odd);
    EXPECT_FALSE(bad.Ready(&error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(bad.Open(WaveDirection::kInput, f, [](WaveDevice*, uint32_t, uintptr_t, WaveHeader*) {}, 0), nullptr);
}

}  // namespace
}  // namespace aurivane
