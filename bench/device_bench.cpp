// Sound-card objects on the unpaced virtual card: the player's hand-off
// latency and the cost of a recorder Start/Stop and a player Open/Close.
#include <aurivane/wave_service.h>

#include "device/wave_player.h"
#include "device/wave_recorder.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

namespace {

using aurivane::VirtualCardConfig;
using aurivane::WaveDirection;

WAVEFORMATEX Pcm8k() {
    WAVEFORMATEX f{};
    f.wFormatTag = 1;
    f.nChannels = 1;
    f.nSamplesPerSec = 8000;
    f.wBitsPerSample = 16;
    f.nBlockAlign = 2;
    f.nAvgBytesPerSec = 16000;
    return f;
}

VirtualCardConfig Unpaced() {
    VirtualCardConfig c;
    c.clock = VirtualCardConfig::Clock::kRealTime;
    c.speed = 0;
    c.output = VirtualCardConfig::Output::kDiscard;
    return c;
}

// From Process returning to the device having taken the chunk: the wake of
// the worker, the copy into a playback buffer and the device's own thread.
void BM_PlayerProcessToDevice(benchmark::State& state) {
    aurivane::VirtualWaveService card(Unpaced());
    aurivane::SetWaveService(&card);
    const WAVEFORMATEX f = Pcm8k();
    aurivane::CWavePlayer player;
    player.Open(&f, 320, 4, 1u << 20);
    std::vector<uint8_t> data(320, 0);
    for (auto _ : state) {
        const uint64_t before = card.CompletedBuffers(WaveDirection::kOutput);
        const auto t0 = std::chrono::steady_clock::now();
        player.Process(data.data(), 320);
        while (card.CompletedBuffers(WaveDirection::kOutput) == before) {
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    player.Close();
    aurivane::SetWaveService(nullptr);
}
BENCHMARK(BM_PlayerProcessToDevice)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_RecorderStartStop(benchmark::State& state) {
    aurivane::VirtualWaveService card(Unpaced());
    aurivane::SetWaveService(&card);
    const WAVEFORMATEX f = Pcm8k();
    aurivane::WaveRecorder recorder;
    for (auto _ : state) {
        recorder.Start(&f, 320, 4, 640);
        recorder.Stop();
    }
    aurivane::SetWaveService(nullptr);
}
BENCHMARK(BM_RecorderStartStop)->Unit(benchmark::kMicrosecond);

void BM_PlayerOpenClose(benchmark::State& state) {
    aurivane::VirtualWaveService card(Unpaced());
    aurivane::SetWaveService(&card);
    const WAVEFORMATEX f = Pcm8k();
    aurivane::CWavePlayer player;
    for (auto _ : state) {
        player.Open(&f, 320, 4, 1u << 20);
        player.Close();
    }
    aurivane::SetWaveService(nullptr);
}
BENCHMARK(BM_PlayerOpenClose)->Unit(benchmark::kMicrosecond);

}  // namespace
