#include "device/wave_recorder.h"
#include "device_test_util.h"

#include <gtest/gtest.h>

#include <cstring>

namespace aurivane {
namespace {

using test::BlockSink;
using test::Pcm;
using test::SampleAt;

class RecorderTest : public ::testing::Test {
protected:
    RecorderTest() : card_(test::ManualRamp()) {}
    test::ScopedCard card_;
    WaveRecorder recorder_;
    BlockSink sink_;
};

TEST_F(RecorderTest, ZeroSizesDefaultToFourBuffersOfOneSecond) {
    const WAVEFORMATEX f = Pcm(8000, 1);
    recorder_.AddSink(&sink_);
    ASSERT_EQ(recorder_.Start(&f, 0, 0, 16000), 1);
    EXPECT_EQ(recorder_.CaptureBufferCount(), 4u);
    EXPECT_EQ(recorder_.CaptureBufferBytes(), 16000u);
    EXPECT_EQ(card_->QueuedBuffers(WaveDirection::kInput), 4u);
    card_->Step(1);
    ASSERT_EQ(sink_.Count(), 1u);
    EXPECT_EQ(sink_.Blocks()[0].size(), 16000u);
    EXPECT_EQ(card_->QueuedBuffers(WaveDirection::kInput), 4u);  // re-queued after delivery
    EXPECT_EQ(recorder_.Stop(), 1);
}

TEST_F(RecorderTest, BlocksAreBuffersConcatenatedInCaptureOrder) {
    const WAVEFORMATEX f = Pcm(8000, 1);
    recorder_.AddSink(&sink_);
    ASSERT_EQ(recorder_.Start(&f, 320, 4, 640), 1);
    for (int i = 0; i < 6; ++i) card_->Step(1);  // six filled buffers, three blocks
    const auto blocks = sink_.Blocks();
    ASSERT_EQ(blocks.size(), 3u);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        ASSERT_EQ(blocks[b].size(), 640u);
        for (std::size_t i = 0; i < 320; ++i) ASSERT_EQ(SampleAt(blocks[b], i), static_cast<int>(b * 320 + i));
    }
    recorder_.Stop();
}

TEST_F(RecorderTest, DeliveryNotAMultipleOfTheBufferKeepsEverySample) {
    // 300-byte buffers into 640-byte blocks: the overflow of one buffer starts
    // the next block, nothing is dropped and nothing is written past the block.
    const WAVEFORMATEX f = Pcm(8000, 1);
    recorder_.AddSink(&sink_);
    ASSERT_EQ(recorder_.Start(&f, 300, 3, 640), 1);
    for (int i = 0; i < 15; ++i) card_->Step(1);  // 4500 bytes: seven blocks, 20 bytes left
    const auto blocks = sink_.Blocks();
    ASSERT_EQ(blocks.size(), 7u);
    std::size_t n = 0;
    for (const auto& block : blocks) {
        ASSERT_EQ(block.size(), 640u);
        for (std::size_t i = 0; i < 320; ++i, ++n) ASSERT_EQ(SampleAt(block, i), static_cast<int>(n));
    }
    // Smaller blocks than buffers: several deliveries from one buffer.
    recorder_.Stop();
    BlockSink small;
    recorder_.AddSink(&small);
    ASSERT_EQ(recorder_.Start(&f, 320, 2, 100), 1);
    card_->Step(1);
    EXPECT_EQ(small.Count(), 3u);  // 320 = 3 x 100 + 20 carried
    recorder_.Stop();
}

TEST_F(RecorderTest, SecondStartKeepsTheFirstSetUp) {
    const WAVEFORMATEX f = Pcm(8000, 1);
    const WAVEFORMATEX other = Pcm(44100, 2);
    recorder_.AddSink(&sink_);
    ASSERT_EQ(recorder_.Start(&f, 320, 4, 640), 1);
    const uintptr_t handle = recorder_.GetDeviceHandle();
    EXPECT_EQ(recorder_.Start(&other, 1000, 2, 4000), 1);
    EXPECT_EQ(recorder_.GetDeviceHandle(), handle);
    EXPECT_EQ(recorder_.DeliverySize(), 640u);
    EXPECT_EQ(recorder_.CaptureBufferCount(), 4u);
    EXPECT_EQ(card_->OpenDevices(), 1u);
    card_->Step(2);
    ASSERT_EQ(sink_.Count(), 1u);
    EXPECT_EQ(sink_.Blocks()[0].size(), 640u);
    recorder_.Stop();
}

TEST_F(RecorderTest, StopEmptiesTheSinkListAndReturnsEveryBuffer) {
    const WAVEFORMATEX f = Pcm(16000, 2);
    EXPECT_EQ(recorder_.GetDeviceHandle(), 0u);
    // Stop on a recorder that never started still empties the list.
    recorder_.AddSink(&sink_);
    EXPECT_EQ(recorder_.Stop(), 1);
    EXPECT_EQ(recorder_.RemoveSink(&sink_), 0);

    recorder_.AddSink(&sink_);
    ASSERT_EQ(recorder_.Start(&f, 640, 8, 1280), 1);
    EXPECT_NE(recorder_.GetDeviceHandle(), 0u);
    card_->Step(1);
    // Buffers are still queued here: Stop must make the device hand them back.
    EXPECT_EQ(recorder_.Stop(), 1);
    EXPECT_EQ(recorder_.GetDeviceHandle(), 0u);
    EXPECT_EQ(recorder_.RemoveSink(&sink_), 0);
    EXPECT_EQ(card_->OpenDevices(), 0u);
    EXPECT_EQ(recorder_.DeliverySize(), 0u);
    EXPECT_EQ(recorder_.CaptureBufferCount(), 0u);
    EXPECT_EQ(recorder_.Stop(), 1);
}

TEST_F(RecorderTest, NoDeliveryAfterStopAndCleanRestart) {
    const WAVEFORMATEX f = Pcm(8000, 1);
    recorder_.AddSink(&sink_);
    ASSERT_EQ(recorder_.Start(&f, 160, 2, 160), 1);
    card_->Step(3);
    EXPECT_EQ(sink_.Count(), 3u);
    recorder_.Stop();
    card_->Step(3);
    EXPECT_EQ(sink_.Count(), 3u);
    // A restart opens a fresh device; the sink has to be added again.
    BlockSink again;
    recorder_.AddSink(&again);
    ASSERT_EQ(recorder_.Start(&f, 160, 2, 320), 1);
    card_->Step(2);
    EXPECT_EQ(again.Count(), 1u);
    EXPECT_EQ(sink_.Count(), 3u);
    recorder_.Stop();
}

struct StartFault {
    WaveFault point;
    uint32_t nth;
};

class RecorderStartFaultTest : public RecorderTest, public ::testing::WithParamInterface<StartFault> {};

TEST_P(RecorderStartFaultTest, FailedStartReturnsToIdleAndCanStartAgain) {
    const WAVEFORMATEX f = Pcm(8000, 1);
    recorder_.AddSink(&sink_);
    card_->FailOn(GetParam().point, GetParam().nth);
    EXPECT_EQ(recorder_.Start(&f, 320, 4, 640), 0);
    EXPECT_EQ(recorder_.GetDeviceHandle(), 0u);
    EXPECT_EQ(card_->OpenDevices(), 0u);
    EXPECT_EQ(card_->QueuedBuffers(WaveDirection::kInput), 0u);
    EXPECT_EQ(recorder_.CaptureBufferCount(), 0u);
    if (GetParam().point != WaveFault::kOpen) {
        EXPECT_EQ(recorder_.RemoveSink(&sink_), 0);  // Stop ran
        recorder_.AddSink(&sink_);
    }
    EXPECT_EQ(recorder_.Stop(), 1);
    recorder_.AddSink(&sink_);
    ASSERT_EQ(recorder_.Start(&f, 320, 4, 640), 1);
    card_->Step(2);
    EXPECT_EQ(sink_.Count(), 1u);
    EXPECT_EQ(recorder_.Stop(), 1);
    EXPECT_EQ(card_->OpenDevices(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Faults, RecorderStartFaultTest,
                         ::testing::Values(StartFault{WaveFault::kOpen, 1}, StartFault{WaveFault::kPrepare, 1},
                                           StartFault{WaveFault::kPrepare, 3}, StartFault{WaveFault::kQueue, 1},
                                           StartFault{WaveFault::kQueue, 4}, StartFault{WaveFault::kStart, 1}));

TEST_F(RecorderTest, RefusedRequeueDuringCaptureDoesNotBlockStop) {
    const WAVEFORMATEX f = Pcm(8000, 1);
    recorder_.AddSink(&sink_);
    ASSERT_EQ(recorder_.Start(&f, 160, 2, 160), 1);
    card_->FailOn(WaveFault::kQueue, 1);  // the first re-queue is refused
    card_->Step(1);
    EXPECT_EQ(sink_.Count(), 1u);
    EXPECT_EQ(card_->QueuedBuffers(WaveDirection::kInput), 1u);
    recorder_.Stop();
    EXPECT_EQ(card_->OpenDevices(), 0u);  // closed: every buffer was accounted for
}

TEST_F(RecorderTest, DestroyWhileCapturingThroughTheCatalogue) {
    void* object = CreateObject(&kWaveRecorderId);
    ASSERT_NE(object, nullptr);
    auto* recorder = static_cast<WaveRecorderInterface*>(object);
    const WAVEFORMATEX f = Pcm(8000, 1);
    recorder->AddSink(&sink_);
    ASSERT_EQ(recorder->Start(&f, 320, 3, 320), 1);
    card_->Step(1);
    EXPECT_EQ(sink_.Count(), 1u);
    DestroyObject(&kWaveRecorderId, object);
    EXPECT_EQ(card_->OpenDevices(), 0u);
}

TEST_F(RecorderTest, InconsistentCallerFormatIsCorrectedAndNullRefused) {
    WAVEFORMATEX f = Pcm(8000, 2);
    f.wFormatTag = 0x55;
    f.nBlockAlign = 1;
    f.nAvgBytesPerSec = 7;
    const WAVEFORMATEX before = f;
    EXPECT_EQ(recorder_.Start(nullptr, 320, 4, 320), 0);
    recorder_.AddSink(&sink_);
    ASSERT_EQ(recorder_.Start(&f, 0, 2, 0), 1);  // one second of 8 kHz stereo
    EXPECT_EQ(recorder_.CaptureBufferBytes(), 32000u);
    EXPECT_EQ(recorder_.DeliverySize(), 32000u);  // zero delivery size: one block per buffer
    EXPECT_EQ(std::memcmp(&f, &before, sizeof(f)), 0);
    card_->Step(1);
    const auto blocks = sink_.Blocks();
    ASSERT_EQ(blocks.size(), 1u);
    // Stereo ramp: both channels of frame n hold n.
    EXPECT_EQ(SampleAt(blocks[0], 2 * 100), 100);
    EXPECT_EQ(SampleAt(blocks[0], 2 * 100 + 1), 100);
    recorder_.Stop();
}

}  // namespace
}  // namespace aurivane
