#include "device/wave_player.h"
#include "device_test_util.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>

namespace aurivane {
namespace {

using test::Pcm;

std::vector<uint8_t> Bytes(std::size_t n, uint8_t first = 0) {
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

class PlayerTest : public ::testing::Test {
protected:
    PlayerTest() : card_(test::ManualRamp()) {}

    // Completes queued buffers one at a time until `bytes` have been played.
    bool PlayUntil(std::size_t bytes) {
        for (int i = 0; i < 1000 && card_->PlayedBytes().size() < bytes; ++i) {
            if (!card_->WaitForQueued(WaveDirection::kOutput, 1, 5000)) return false;
            card_->Step(1);
        }
        return card_->PlayedBytes().size() == bytes;
    }
    // Waits (bounded) until the worker has taken pending data to the device or dropped it.
    bool WaitPending(uint32_t bytes) {
        for (int i = 0; i < 50000 && player_.GetPendingBytes() != bytes; ++i) std::this_thread::yield();
        return player_.GetPendingBytes() == bytes;
    }

    test::ScopedCard card_;
    CWavePlayer player_;
    const WAVEFORMATEX format_ = Pcm(8000, 1);
};

TEST_F(PlayerTest, ProcessCutsIntoChunksAndPlaysInOrder) {
    ASSERT_EQ(player_.Open(&format_, 320, 1, 100000), 1);
    const auto first = Bytes(320, 7);
    ASSERT_EQ(player_.Process(first.data(), 320), 1);
    ASSERT_TRUE(card_->WaitForQueued(WaveDirection::kOutput, 1, 5000));
    // The only buffer is at the device: everything else stays pending.
    const auto data = Bytes(1000, 50);
    ASSERT_EQ(player_.Process(data.data(), 1000), 1);
    EXPECT_EQ(player_.PendingChunkLengths(), (std::vector<uint32_t>{320, 320, 320, 40}));
    EXPECT_EQ(player_.GetPendingBytes(), 1000u);
    // A short chunk stays short: a later call starts a chunk of its own.
    const auto tail = Bytes(10, 200);
    ASSERT_EQ(player_.Process(tail.data(), 10), 1);
    EXPECT_EQ(player_.PendingChunkLengths(), (std::vector<uint32_t>{320, 320, 320, 40, 10}));

    ASSERT_TRUE(PlayUntil(1330));
    std::vector<uint8_t> expected = first;
    expected.insert(expected.end(), data.begin(), data.end());
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(card_->PlayedBytes(), expected);
    EXPECT_EQ(player_.GetPendingBytes(), 0u);
    EXPECT_EQ(player_.Close(), 1);
}

TEST_F(PlayerTest, BacklogLimitZeroPlaysNothing) {
    ASSERT_EQ(player_.Open(&format_, 160, 4, 0), 1);
    const auto data = Bytes(480);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(player_.Process(data.data(), 480), 1);
        ASSERT_TRUE(WaitPending(0));
    }
    card_->Step(4);
    EXPECT_EQ(card_->QueuedBuffers(WaveDirection::kOutput), 0u);
    EXPECT_TRUE(card_->PlayedBytes().empty());
    player_.Close();
}

TEST_F(PlayerTest, BacklogIsDiscardedOnlyWhenStrictlyAboveTheLimit) {
    for (uint32_t limit : {640u, 639u}) {
        SCOPED_TRACE(limit);
        test::ScopedCard card(test::ManualRamp());
        CWavePlayer player;
        ASSERT_EQ(player.Open(&format_, 320, 1, limit), 1);
        const auto data = Bytes(960);
        ASSERT_EQ(player.Process(data.data(), 320), 1);
        ASSERT_TRUE(card->WaitForQueued(WaveDirection::kOutput, 1, 5000));
        ASSERT_EQ(player.Process(data.data() + 320, 640), 1);  // pending = 640
        for (int i = 0; i < 3; ++i) {
            card->WaitForQueued(WaveDirection::kOutput, 1, (i == 0 || limit == 640) ? 5000 : 100);
            card->Step(1);
        }
        EXPECT_EQ(card->PlayedBytes().size(), limit == 640 ? 960u : 320u);
        player.Close();
    }
}

TEST_F(PlayerTest, ZeroLengthProcessAndClosedPlayer) {
    const auto data = Bytes(64);
    EXPECT_EQ(player_.Process(data.data(), 64), 0);  // not open: nothing kept
    EXPECT_EQ(player_.GetPendingBytes(), 0u);
    EXPECT_EQ(player_.GetDeviceHandle(), 0u);
    EXPECT_EQ(player_.Close(), 1);
    ASSERT_EQ(player_.Open(&format_, 320, 2, 1000), 1);
    EXPECT_EQ(player_.Process(data.data(), 0), 1);
    EXPECT_EQ(player_.Process(nullptr, 0), 1);
    EXPECT_EQ(player_.Process(nullptr, 10), 0);
    EXPECT_TRUE(player_.PendingChunkLengths().empty());
    EXPECT_EQ(player_.GetPendingBytes(), 0u);
    card_->Step(2);
    EXPECT_TRUE(card_->PlayedBytes().empty());
    player_.Close();
}

TEST_F(PlayerTest, GettersAreZeroAfterCloseWithDataStillQueued) {
    ASSERT_EQ(player_.Open(&format_, 100, 2, 100000), 1);
    EXPECT_NE(player_.GetDeviceHandle(), 0u);
    const auto data = Bytes(1000);
    ASSERT_EQ(player_.Process(data.data(), 1000), 1);
    ASSERT_TRUE(card_->WaitForQueued(WaveDirection::kOutput, 2, 5000));
    ASSERT_TRUE(WaitPending(800));
    // Two buffers at the device, never completed: Close must get them back.
    EXPECT_EQ(player_.Close(), 1);
    EXPECT_EQ(player_.GetPendingBytes(), 0u);
    EXPECT_EQ(player_.GetDeviceHandle(), 0u);
    EXPECT_EQ(card_->OpenDevices(), 0u);
    EXPECT_EQ(player_.Process(data.data(), 10), 0);
    EXPECT_EQ(player_.Close(), 1);
}

TEST_F(PlayerTest, SecondOpenIgnoresItsArgumentsAndFormatIsDerived) {
    WAVEFORMATEX f = Pcm(22050, 2);
    f.wFormatTag = 3;
    f.nBlockAlign = 9;
    f.nAvgBytesPerSec = 1;
    f.cbSize = 22;
    ASSERT_EQ(player_.Open(&f, 400, 3, 5000), 1);
    const WAVEFORMATEX got = card_->LastOutputFormat();
    EXPECT_EQ(unsigned{got.wFormatTag}, 1u);
    EXPECT_EQ(unsigned{got.nChannels}, 2u);
    EXPECT_EQ(unsigned{got.nSamplesPerSec}, 22050u);
    EXPECT_EQ(unsigned{got.nBlockAlign}, 4u);
    EXPECT_EQ(unsigned{got.nAvgBytesPerSec}, 88200u);
    EXPECT_EQ(unsigned{got.cbSize}, 18u);
    EXPECT_EQ(unsigned{f.wFormatTag}, 3u);  // the caller's record is left alone
    const uintptr_t handle = player_.GetDeviceHandle();
    EXPECT_EQ(player_.Open(&format_, 100, 1, 0), 1);
    EXPECT_EQ(player_.GetDeviceHandle(), handle);
    EXPECT_EQ(card_->OpenDevices(), 1u);
    player_.Close();
    // Reopened after Close, with the new arguments.
    ASSERT_EQ(player_.Open(&format_, 100, 1, 100000), 1);
    const auto data = Bytes(250);
    player_.Process(data.data(), 100);
    ASSERT_TRUE(card_->WaitForQueued(WaveDirection::kOutput, 1, 5000));
    player_.Process(data.data(), 250);
    EXPECT_EQ(player_.PendingChunkLengths(), (std::vector<uint32_t>{100, 100, 50}));
    player_.Close();
}

TEST_F(PlayerTest, ZeroChunkSizeOrBufferCountIsRefused) {
    EXPECT_EQ(player_.Open(&format_, 0, 4, 1000), 0);
    EXPECT_EQ(player_.Open(&format_, 320, 0, 1000), 0);
    EXPECT_EQ(player_.Open(nullptr, 320, 4, 1000), 0);
    EXPECT_EQ(card_->OpenDevices(), 0u);
    const auto data = Bytes(10);
    EXPECT_EQ(player_.Process(data.data(), 10), 0);
}

class PlayerOpenFaultTest : public PlayerTest, public ::testing::WithParamInterface<std::pair<WaveFault, uint32_t>> {};

TEST_P(PlayerOpenFaultTest, FailedOpenLeavesThePlayerClosedAndReusable) {
    card_->FailOn(GetParam().first, GetParam().second);
    EXPECT_EQ(player_.Open(&format_, 320, 4, 10000), 0);
    EXPECT_EQ(player_.GetDeviceHandle(), 0u);
    EXPECT_EQ(card_->OpenDevices(), 0u);
    const auto data = Bytes(320);
    EXPECT_EQ(player_.Process(data.data(), 320), 0);
    EXPECT_EQ(player_.Close(), 1);
    ASSERT_EQ(player_.Open(&format_, 320, 4, 10000), 1);
    ASSERT_EQ(player_.Process(data.data(), 320), 1);
    ASSERT_TRUE(PlayUntil(320));
    EXPECT_EQ(card_->PlayedBytes(), data);
    EXPECT_EQ(player_.Close(), 1);
    EXPECT_EQ(card_->OpenDevices(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Faults, PlayerOpenFaultTest,
                         ::testing::Values(std::make_pair(WaveFault::kOpen, 1u), std::make_pair(WaveFault::kEvent, 1u),
                                           std::make_pair(WaveFault::kThread, 1u),
                                           std::make_pair(WaveFault::kPrepare, 1u),
                                           std::make_pair(WaveFault::kPrepare, 4u)));

TEST_F(PlayerTest, RefusedWriteIsReportedDroppedAndDoesNotBlockClose) {
    ASSERT_EQ(player_.Open(&format_, 320, 2, 100000), 1);
    card_->FailOn(WaveFault::kWrite, 1);
    const auto bad = Bytes(320, 1);
    const auto good = Bytes(320, 99);
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(player_.Process(bad.data(), 320), 1);
    ASSERT_TRUE(WaitPending(0));
    // The refused buffer goes back on the free list: the device never returns it.
    for (int i = 0; i < 50000 && player_.FreeBuffers() != 2; ++i) std::this_thread::yield();
    EXPECT_EQ(player_.FreeBuffers(), 2u);
    ASSERT_EQ(player_.Process(good.data(), 320), 1);
    ASSERT_TRUE(PlayUntil(320));
    EXPECT_EQ(card_->PlayedBytes(), good);
    EXPECT_EQ(player_.Close(), 1);  // joins the worker, so its report is out
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("CWavePlayer waveOutWrite Failed!"), std::string::npos);
    EXPECT_EQ(card_->OpenDevices(), 0u);
}

TEST_F(PlayerTest, DestroyWhileOpenThroughTheCatalogue) {
    void* object = CreateObject(&kWavePlayerId);
    ASSERT_NE(object, nullptr);
    auto* player = static_cast<WavePlayerInterface*>(object);
    ASSERT_EQ(player->Open(&format_, 160, 3, 100000), 1);
    const auto data = Bytes(1000);
    ASSERT_EQ(player->Process(data.data(), 1000), 1);
    ASSERT_TRUE(card_->WaitForQueued(WaveDirection::kOutput, 3, 5000));
    DestroyObject(&kWavePlayerId, object);
    EXPECT_EQ(card_->OpenDevices(), 0u);
}

}  // namespace
}  // namespace aurivane
